#include "Stream/Processing/LiveStreamProcessingAlgorithm.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "Host/Lib/SharedImageSet.h"
#include "Stream/Framework/TestImageStreams.h"
#include "Stream/Framework/TrackingStreamData.h"
#include "Stream/Processing/LiveFrameAverageAlgorithm.h"
#include "Support/TestUtil.h"

namespace Corvexis {
namespace {

using Test::ManualImageStream;
using Test::waitUntil;

// Drains the hand-over buffer on its thread and remembers the largest live container it saw.
class DrainingAlgorithm : public LiveStreamProcessingAlgorithm
{
public:
    explicit DrainingAlgorithm(std::vector<Stream*> inputs)
        : LiveStreamProcessingAlgorithm(std::move(inputs), true, false, Deferred{})
    {
        activate();
    }
    ~DrainingAlgorithm() override { deactivate(); }

    std::atomic<int> largestWindow{0};
    std::atomic<int> imagesSeen{0};

protected:
    bool backgroundThreadProcessData() override
    {
        moveBufferedDataToLiveContainer();
        const int size = liveContainer()->size();
        largestWindow = std::max(largestWindow.load(), size);
        imagesSeen += size;
        createLiveContainer();
        return false;
    }
};

// Two streams deliver images and tracking from their own threads while the limits change and the
// processing thread drains; buffers stay within their limits and nothing races.
TEST(LiveStreamProcessingAlgorithmConcurrencyTest, StreamsDeliverWhileTheThreadDrainsAndLimitsChange)
{
    ManualImageStream a("a");
    ManualImageStream b("b");
    DrainingAlgorithm algorithm({&a, &b});
    algorithm.imageBufferSize = 8;
    algorithm.trackingBufferSize = 16;

    std::atomic<bool> stop{false};
    auto deliver = [&](ManualImageStream& stream, const std::string& tracker) {
        const ImageDescriptor frame(ImageDescriptor::kUByte, 8, 8);
        for (std::uint64_t i = 1; i <= 5000 && !stop.load(); ++i) {
            stream.emitFrame(frame, 1, i);
            TrackingInstrument instrument(TrackerID(tracker, tracker));
            instrument.quality = (i % 3) * 0.2;
            auto record =
                std::make_shared<TrackingStreamData>(nullptr, std::vector<TrackingInstrument>{instrument});
            record->setTimestampArrival(i);
            stream.signalStreamData.emitSignal(record);
        }
    };
    std::thread first(deliver, std::ref(a), "probe");
    std::thread second(deliver, std::ref(b), "pointer");

    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    int round = 0;
    while (std::chrono::steady_clock::now() < end) {
        algorithm.imageBufferSize = 4 + round % 5;
        algorithm.trackingBufferSize = 8 + round % 9;
        EXPECT_LE(algorithm.bufferedImageCount(), 8);
        EXPECT_LE(algorithm.bufferedSampleCount("probe"), 16);
        ++round;
        std::this_thread::yield();
    }
    stop = true;
    first.join();
    second.join();
    EXPECT_LE(algorithm.largestWindow.load(), 8);
    EXPECT_GT(algorithm.imagesSeen.load(), 0);
}

// The averaging algorithm is destroyed while frames still arrive; its thread ends first.
TEST(LiveStreamProcessingAlgorithmConcurrencyTest, AverageDestroyedWhileFramesArrive)
{
    ManualImageStream input;
    const std::size_t connectionsBefore = input.signalStreamData.connectionCount();
    std::atomic<bool> stop{false};
    std::thread producer([&] {
        const ImageDescriptor frame(ImageDescriptor::kUShort, 16, 8);
        for (int i = 0; i < 100000 && !stop.load(); ++i)
            input.emitFrame(frame, static_cast<std::uint8_t>(i), static_cast<std::uint64_t>(i));
    });
    for (int i = 0; i < 10; ++i) {
        auto average = std::make_unique<LiveFrameAverageAlgorithm>(std::vector<Stream*>{&input});
        average->frameCount = 1 + i % 4;
        ASSERT_TRUE(waitUntil([&] { return average->meansComputed() > 0; }));
        average.reset();
    }
    stop = true;
    producer.join();
    EXPECT_EQ(input.signalStreamData.connectionCount(), connectionsBefore);
}

}  // namespace
}  // namespace Corvexis
