#include "Stream/Video/VideoEncoder.h"

#include <gtest/gtest.h>

#include <chrono>

#include "Host/Core/Log.h"
#include "Host/Core/TypedImage.h"
#include "VideoCodecTestSupport.h"

namespace Corvexis {
namespace {

using Codec = VideoEncoder::Codec;
using Preset = VideoEncoder::Preset;
constexpr const char* kCategory = "Stream.VideoEncoder";

std::int64_t nowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

TEST(VideoEncoderTest, CodecTableAndTheEncodersOfThisBuild)
{
    EXPECT_EQ(VideoEncoder::codecName(Codec::HevcNvenc), "hevc_nvenc");
    EXPECT_EQ(VideoEncoder::codecName(Codec::HevcQsv), "hevc_qsv");
    EXPECT_EQ(VideoEncoder::codecName(Codec::H264Nvenc), "h264_nvenc");
    EXPECT_EQ(VideoEncoder::codecName(Codec::H264Qsv), "h264_qsv");
    EXPECT_EQ(VideoEncoder::codecName(Codec::Av1Nvenc), "av1_nvenc");
    EXPECT_EQ(VideoEncoder::codecName(Codec::LibaomAv1), "libaom-av1");
    EXPECT_EQ(VideoEncoder::codecName(Codec::Mpeg4), "mpeg4");
    EXPECT_EQ(VideoEncoder::codecName(static_cast<Codec>(7)), "unknown");
    EXPECT_EQ(VideoEncoder::codecName(static_cast<Codec>(-1)), "unknown");

    Log::ScopedCapture capture;
    const auto codecs = VideoEncoder::availableCodecs();
    EXPECT_NE(std::find(codecs.begin(), codecs.end(), Codec::Mpeg4), codecs.end());
    EXPECT_NE(std::find(codecs.begin(), codecs.end(), Codec::LibaomAv1), codecs.end());
    EXPECT_TRUE(std::is_sorted(codecs.begin(), codecs.end()));
    EXPECT_TRUE(capture->containsFragment(Log::Level::Debug, kCategory, "Available Encoders: "));
    EXPECT_TRUE(capture->containsFragment(Log::Level::Debug, kCategory, "libaom-av1, mpeg4"));
}

TEST(VideoEncoderTest, StartAndStopAreRefusedInTheWrongState)
{
    Corvexis::Test::PacketSink sink;
    VideoEncoder encoder(sink.callback());
    EXPECT_FALSE(encoder.stop());
    EXPECT_TRUE(encoder.start(Codec::Mpeg4, 30, Preset::LowLatency));
    EXPECT_FALSE(encoder.start(Codec::Mpeg4, 30, Preset::LowLatency));
    EXPECT_TRUE(encoder.stop());
    EXPECT_FALSE(encoder.stop());
    EXPECT_TRUE(encoder.start(Codec::Mpeg4, 30, Preset::LowLatency));
}

TEST(VideoEncoderTest, InvalidImagesAreDroppedWithTheirMessage)
{
    Log::ScopedCapture capture;
    Corvexis::Test::PacketSink sink;
    VideoEncoder encoder(sink.callback());
    ASSERT_TRUE(encoder.start(Codec::Mpeg4, 30, Preset::Balanced));
    encoder.feedFrame(nullptr);
    encoder.feedFrame(TypedImage<std::uint16_t>::create(64, 48, 1, 3));
    encoder.feedFrame(TypedImage<std::uint8_t>::create(64, 48, 1, 2));
    encoder.feedFrame(TypedImage<std::uint8_t>::create(64, 48, 3, 3));
    EXPECT_TRUE(capture->contains(Log::Level::Error, kCategory, "Only 8bit images are accepted"));
    EXPECT_TRUE(
        capture->contains(Log::Level::Error, kCategory,
                          "number of channels of the image must be 3 or 4, provided number of channels: 2"));
    EXPECT_TRUE(
        capture->contains(Log::Level::Error, kCategory, "Images with multiple slices are not supported"));
    // None of them reached the worker: the next valid frame is the first packet.
    ASSERT_TRUE(Corvexis::Test::encodeOneByOne(encoder, sink, 64, 48, 3, 0, 1));
    EXPECT_EQ(sink.count(), 1u);
    EXPECT_EQ(sink.at(0).header.frameIndex, 0);
}

TEST(VideoEncoderTest, NewestFrameWinsWhileTheWorkerHasNotTakenTheOlder)
{
    Corvexis::Test::PacketSink sink;
    VideoEncoder encoder(sink.callback());
    // Without a running worker nothing is taken, so admission alone decides.
    encoder.feedFrame(Corvexis::Test::makePatternFrame(64, 48, 3, 0));
    EXPECT_TRUE(encoder.lastImageProcessed());
    encoder.feedFrame(Corvexis::Test::makePatternFrame(64, 48, 3, 1));
    EXPECT_FALSE(encoder.lastImageProcessed()) << "the first frame was replaced before anyone took it";
    // start() drops what was pending, so the worker begins with the next frame only.
    ASSERT_TRUE(encoder.start(Codec::Mpeg4, 30, Preset::Balanced));
    ASSERT_TRUE(Corvexis::Test::encodeOneByOne(encoder, sink, 64, 48, 3, 2, 2));
    EXPECT_EQ(sink.count(), 2u);
    EXPECT_EQ(sink.at(1).header.frameIndex, 1);
    // A frame fed after the worker took the previous one reports that it was processed.
    encoder.feedFrame(Corvexis::Test::makePatternFrame(64, 48, 3, 9));
    EXPECT_TRUE(encoder.lastImageProcessed());
}

TEST(VideoEncoderTest, SizeChangeAndRestartReconfigureWithFrameIndexZero)
{
    Log::ScopedCapture capture;
    Corvexis::Test::PacketSink sink;
    VideoEncoder encoder(sink.callback());
    ASSERT_TRUE(encoder.start(Codec::Mpeg4, 25, Preset::LowLatency));
    const std::int64_t before = nowMs();
    ASSERT_TRUE(Corvexis::Test::encodeOneByOne(encoder, sink, 640, 480, 3, 0, 3));
    ASSERT_TRUE(Corvexis::Test::encodeOneByOne(encoder, sink, 320, 240, 3, 3, 2));
    encoder.restartEncoder();
    ASSERT_TRUE(Corvexis::Test::encodeOneByOne(encoder, sink, 320, 240, 3, 5, 2));
    const std::int64_t after = nowMs();

    const int expectedIndex[] = {0, 1, 2, 0, 1, 0, 1};
    const int expectedWidth[] = {640, 640, 640, 320, 320, 320, 320};
    ASSERT_EQ(sink.count(), 7u);
    for (std::size_t i = 0; i < 7; ++i) {
        const auto& packet = sink.at(i);
        EXPECT_EQ(packet.header.codec, static_cast<int>(Codec::Mpeg4)) << i;
        EXPECT_EQ(packet.header.frameIndex, expectedIndex[i]) << i;
        EXPECT_EQ(packet.firstAfterConfiguration, expectedIndex[i] == 0) << i;
        EXPECT_EQ(packet.header.width, expectedWidth[i]) << i;
        EXPECT_EQ(packet.header.height, expectedWidth[i] * 3 / 4) << i;
        EXPECT_EQ(packet.bytes->size(),
                  VideoPacketHeader::kSize + static_cast<std::size_t>(packet.header.payloadSize));
        EXPECT_GT(packet.header.payloadSize, 0);
        EXPECT_GE(packet.header.sendTimeMs, before);
        EXPECT_LE(packet.header.sendTimeMs, after);
    }
    EXPECT_EQ(capture->count(Log::Level::Info, kCategory,
                             "[Server] Reconfiguring VideoEncoder to: 640x480 | num channels: 3"),
              1u);
    EXPECT_EQ(capture->count(Log::Level::Info, kCategory,
                             "[Server] Reconfiguring VideoEncoder to: 320x240 | num channels: 3"),
              2u);
    EXPECT_TRUE(capture->contains(Log::Level::Info, kCategory, "using VideoEncoder 'mpeg4'"));
}

TEST(VideoEncoderTest, RgbaToAnEncoderWithoutRgbInputEndsTheWorkerUntilRestarted)
{
    Log::ScopedCapture capture;
    Corvexis::Test::PacketSink sink;
    VideoEncoder encoder(sink.callback());
    ASSERT_TRUE(encoder.start(Codec::Mpeg4, 30, Preset::HighQuality));
    ASSERT_TRUE(Corvexis::Test::encodeOneByOne(encoder, sink, 64, 48, 3, 0, 1));
    encoder.feedFrame(Corvexis::Test::makePatternFrame(64, 48, 4, 1));
    ASSERT_TRUE(Corvexis::Test::waitUntil(
        [&] { return capture->contains(Log::Level::Error, kCategory, "Invalid VideoEncoder, aborting"); }));
    EXPECT_TRUE(capture->contains(Log::Level::Info, kCategory, "number of channels changed from 3 to 4"));
    EXPECT_TRUE(capture->contains(
        Log::Level::Error, kCategory,
        "Could not use: mpeg4 codec. Possible reasons: unsupported hardware, or faulty codec options"));
    // The ended worker takes nothing; start is refused until stop joins it.
    EXPECT_FALSE(encoder.start(Codec::Mpeg4, 30, Preset::HighQuality));
    EXPECT_TRUE(encoder.stop());
    ASSERT_TRUE(encoder.start(Codec::Mpeg4, 30, Preset::HighQuality));
    ASSERT_TRUE(Corvexis::Test::encodeOneByOne(encoder, sink, 64, 48, 3, 2, 1));
    EXPECT_EQ(sink.count(), 2u);
    EXPECT_EQ(sink.at(1).header.frameIndex, 0);
    EXPECT_TRUE(sink.at(1).firstAfterConfiguration);
}

TEST(VideoEncoderTest, MissingHardwareEncoderFailsConfigurationCleanly)
{
    Log::ScopedCapture capture;
    Corvexis::Test::PacketSink sink;
    VideoEncoder encoder(sink.callback());
    // av1_nvenc is not part of this FFmpeg build at all; the others need the hardware.
    ASSERT_TRUE(encoder.start(Codec::Av1Nvenc, 30, Preset::LowLatency));
    encoder.feedFrame(Corvexis::Test::makePatternFrame(64, 48, 3, 0));
    ASSERT_TRUE(Corvexis::Test::waitUntil(
        [&] { return capture->contains(Log::Level::Error, kCategory, "Invalid VideoEncoder, aborting"); }));
    EXPECT_TRUE(capture->contains(Log::Level::Debug, kCategory, "could not find VideoEncoder: av1_nvenc"));
    EXPECT_EQ(sink.count(), 0u);
}

TEST(VideoEncoderTest, UnknownPresetIsWarnedAboutForHardwareEncoders)
{
    Log::ScopedCapture capture;
    Corvexis::Test::PacketSink sink;
    VideoEncoder encoder(sink.callback());
    ASSERT_TRUE(encoder.start(Codec::H264Nvenc, 30, static_cast<Preset>(7)));
    encoder.feedFrame(Corvexis::Test::makePatternFrame(64, 48, 3, 0));
    ASSERT_TRUE(Corvexis::Test::waitUntil([&] {
        return capture->contains(Log::Level::Error, kCategory, "Invalid VideoEncoder, aborting") ||
               sink.count() > 0;
    }));
    EXPECT_TRUE(
        capture->contains(Log::Level::Warning, kCategory, "Unknown Preset level: 7 for codec: h264_nvenc"));
}

}  // namespace
}  // namespace Corvexis
