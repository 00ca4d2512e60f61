#include "Stream/Video/VideoEncoder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "Stream/Video/VideoDecoder.h"
#include "VideoCodecTestSupport.h"

namespace Corvexis {
namespace {

using Clock = std::chrono::steady_clock;

// Producers feed frames of two sizes from several threads while restarts are requested and the
// worker encodes; a decoder on the other end is fed from two threads and stopped and started.
// Every packet must be well formed, indices must count up from 0 after each configuration, and
// everything must end cleanly. Bounded to about a second of feeding.
TEST(VideoCodecConcurrencyTest, FeedingRestartingAndDecodingFromManyThreads)
{
    std::mutex mutex;
    std::vector<VideoPacketHeader> headers;
    std::vector<bool> firsts;
    std::vector<std::unique_ptr<ByteBuffer>> packets;
    VideoEncoder encoder([&](std::unique_ptr<ByteBuffer> packet, bool first) {
        const auto header = VideoPacketHeader::read(packet->view());
        std::lock_guard lock(mutex);
        headers.push_back(header.value_or(VideoPacketHeader{-1}));
        firsts.push_back(first);
        packets.push_back(std::move(packet));
    });
    ASSERT_TRUE(encoder.start(VideoEncoder::Codec::Mpeg4, 30, VideoEncoder::Preset::LowLatency));

    std::atomic<bool> stop{false};
    std::vector<std::thread> producers;
    for (int t = 0; t < 3; ++t)
        producers.emplace_back([&, t] {
            int i = 0;
            while (!stop.load()) {
                const int side = (t == 2 && (i / 20) % 2 == 1) ? 96 : 64;
                encoder.feedFrame(Corvexis::Test::makePatternFrame(side, side * 3 / 4, 3, i++));
                (void)encoder.lastImageProcessed();
                std::this_thread::yield();
            }
        });
    std::thread restarter([&] {
        while (!stop.load()) {
            encoder.restartEncoder();
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    const auto end = Clock::now() + std::chrono::seconds(1);
    while (Clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    stop.store(true);
    for (auto& p : producers)
        p.join();
    restarter.join();
    EXPECT_TRUE(encoder.stop());

    std::lock_guard lock(mutex);
    ASSERT_GT(headers.size(), 2u);
    for (std::size_t i = 0; i < headers.size(); ++i) {
        ASSERT_EQ(headers[i].codec, static_cast<int>(VideoEncoder::Codec::Mpeg4)) << i;
        if (firsts[i])
            EXPECT_EQ(headers[i].frameIndex, 0) << i;
        else
            EXPECT_EQ(headers[i].frameIndex, headers[i - 1].frameIndex + 1) << i;
    }
    EXPECT_TRUE(firsts.front());

    VideoDecoder decoder;
    decoder.setUseHardwareAcceleration(false);
    Corvexis::Test::ImageSink images(decoder);
    ASSERT_TRUE(decoder.start());
    std::thread a([&] {
        for (std::size_t i = 0; i < packets.size(); i += 2)
            decoder.feedByteBuffer(std::make_unique<ByteBuffer>(*packets[i]));
    });
    std::thread b([&] {
        for (std::size_t i = 1; i < packets.size(); i += 2)
            decoder.feedByteBuffer(std::make_unique<ByteBuffer>(*packets[i]));
        decoder.stop();
        decoder.start();
        decoder.feedByteBuffer(std::make_unique<ByteBuffer>(*packets[0]));
    });
    a.join();
    b.join();
    (void)decoder.estimatedFPS();
    (void)decoder.detectedImageSize();
    EXPECT_TRUE(decoder.stop());
}

}  // namespace
}  // namespace Corvexis
