#include "Stream/Video/VideoDecoder.h"

#include <gtest/gtest.h>

#include "Host/Core/Log.h"
#include "Host/Core/TypedImage.h"
#include "VideoCodecTestSupport.h"

namespace Corvexis {
namespace {

using Codec = VideoEncoder::Codec;
using Preset = VideoEncoder::Preset;
constexpr const char* kCategory = "Stream.VideoDecoder";

// Encodes `count` 640 x 480 RGB pattern frames one by one, keeping the inputs.
void encodeClip(Codec codec, Preset preset, int count, Corvexis::Test::PacketSink& sink,
                std::vector<std::unique_ptr<TypedImage<std::uint8_t>>>& inputs)
{
    VideoEncoder encoder(sink.callback());
    ASSERT_TRUE(encoder.start(codec, 30, preset));
    ASSERT_TRUE(Corvexis::Test::encodeOneByOne(encoder, sink, 640, 480, 3, 0, count, &inputs));
    encoder.stop();
}

double psnrOf(const SharedImage& decoded, const TypedImage<std::uint8_t>& input)
{
    const MemImage* mem = decoded.mem();
    if (mem == nullptr || mem->byteSize() != input.byteSize())
        return 0.0;
    return Corvexis::Test::psnr(static_cast<const std::uint8_t*>(mem->data()), input.pointer(),
                                input.byteSize());
}

struct RoundTripCase
{
    Codec codec;
    double minimumPsnr;  // dB, at preset High Quality
};

class VideoRoundTripTest : public ::testing::TestWithParam<RoundTripCase>
{
};

// Encoder to decoder at 640 x 480: one packet per frame with no delay, indices 0, 1, 2, ..., and every
// packet decoded (the decoder reopens itself once it learnt the size from the first packet).
TEST_P(VideoRoundTripTest, EveryFrameComesBackAboveTheStatedQuality)
{
    constexpr int kFrames = 12;
    Corvexis::Test::PacketSink sink;
    std::vector<std::unique_ptr<TypedImage<std::uint8_t>>> inputs;
    encodeClip(GetParam().codec, Preset::HighQuality, kFrames, sink, inputs);
    if (HasFatalFailure())
        return;
    ASSERT_EQ(sink.count(), static_cast<std::size_t>(kFrames));
    for (int i = 0; i < kFrames; ++i) {
        EXPECT_EQ(sink.at(i).header.frameIndex, i);
        EXPECT_EQ(sink.at(i).header.codec, static_cast<int>(GetParam().codec));
    }

    Log::ScopedCapture capture;
    VideoDecoder decoder;
    decoder.setUseHardwareAcceleration(false);
    Corvexis::Test::ImageSink images(decoder);
    EXPECT_EQ(decoder.detectedImageSize(), Eigen::Vector2i(-1, -1));
    ASSERT_TRUE(decoder.start());
    EXPECT_FALSE(decoder.start());
    for (int i = 0; i < kFrames; ++i)
        decoder.feedByteBuffer(sink.copy(i));
    ASSERT_TRUE(images.waitFor(kFrames)) << images.count() << " images";
    EXPECT_EQ(decoder.detectedImageSize(), Eigen::Vector2i(640, 480));
    EXPECT_FALSE(decoder.hardwareAccelerationUsed());
    for (int i = 0; i < kFrames; ++i) {
        const auto image = images.at(i);
        ASSERT_TRUE(image->hasMem());
        EXPECT_EQ(image->channels(), 3);
        EXPECT_EQ(image->width(), 640);
        const double quality = psnrOf(*image, *inputs[i]);
        EXPECT_GT(quality, GetParam().minimumPsnr) << "frame " << i;
        RecordProperty("psnr_frame_" + std::to_string(i), std::to_string(quality));
    }
    EXPECT_FALSE(capture->containsFragment(Log::Level::Error, kCategory, ""));
    EXPECT_TRUE(decoder.stop());
}

std::string caseName(const ::testing::TestParamInfo<RoundTripCase>& param)
{
    return param.param.codec == Codec::Mpeg4 ? "mpeg4" : "av1";
}

INSTANTIATE_TEST_SUITE_P(Codecs, VideoRoundTripTest,
                         ::testing::Values(RoundTripCase{Codec::Mpeg4, 30.0},
                                           RoundTripCase{Codec::LibaomAv1, 30.0}),
                         caseName);

TEST(VideoDecoderTest, GapInFrameIndicesIsReportedAndStillDecoded)
{
    Corvexis::Test::PacketSink sink;
    std::vector<std::unique_ptr<TypedImage<std::uint8_t>>> inputs;
    encodeClip(Codec::Mpeg4, Preset::Balanced, 8, sink, inputs);
    if (HasFatalFailure())
        return;
    Log::ScopedCapture capture;
    VideoDecoder decoder;
    decoder.setUseHardwareAcceleration(false);
    Corvexis::Test::ImageSink images(decoder);
    ASSERT_TRUE(decoder.start());
    for (int i : {0, 1, 2, 3, 4, 6})
        decoder.feedByteBuffer(sink.copy(i));
    ASSERT_TRUE(images.waitFor(6));
    EXPECT_EQ(capture->count(Log::Level::Error, kCategory, "Gap in frame ids: 4 -> 6"), 1u);
    EXPECT_EQ(capture->count(Log::Level::Error, kCategory, "Gap in frame ids: -1 -> 0"), 0u);
}

TEST(VideoDecoderTest, PacketOfAnotherCodecReopensTheDecoder)
{
    Corvexis::Test::PacketSink mpeg4;
    Corvexis::Test::PacketSink av1;
    std::vector<std::unique_ptr<TypedImage<std::uint8_t>>> inputs;
    encodeClip(Codec::Mpeg4, Preset::Balanced, 3, mpeg4, inputs);
    encodeClip(Codec::LibaomAv1, Preset::Balanced, 3, av1, inputs);
    if (HasFatalFailure())
        return;
    Log::ScopedCapture capture;
    VideoDecoder decoder;
    decoder.setUseHardwareAcceleration(false);
    Corvexis::Test::ImageSink images(decoder);
    ASSERT_TRUE(decoder.start());
    for (int i = 0; i < 3; ++i)
        decoder.feedByteBuffer(mpeg4.copy(i));
    for (int i = 0; i < 3; ++i)
        decoder.feedByteBuffer(av1.copy(i));
    ASSERT_TRUE(images.waitFor(6));
    EXPECT_TRUE(capture->contains(Log::Level::Info, kCategory,
                                  "[Client] Configuring VideoDecoder to: 640x480 | codec decoder: mpeg4"));
    EXPECT_TRUE(
        capture->contains(Log::Level::Info, kCategory,
                          "[Client] Configuring VideoDecoder to: 640x480 | codec decoder: libaom-av1"));
    EXPECT_GT(psnrOf(*images.at(5), *inputs[5]), 25.0) << "the last image is the AV1 clip's third frame";
}

TEST(VideoDecoderTest, WithoutAGraphicsCardHardwareRequestFallsBackToMainMemoryImages)
{
    Corvexis::Test::PacketSink sink;
    std::vector<std::unique_ptr<TypedImage<std::uint8_t>>> inputs;
    encodeClip(Codec::LibaomAv1, Preset::LowLatency, 3, sink, inputs);
    if (HasFatalFailure())
        return;
    Log::ScopedCapture capture;
    VideoDecoder decoder;
    EXPECT_TRUE(decoder.useHardwareAcceleration());
    Corvexis::Test::ImageSink images(decoder);
    ASSERT_TRUE(decoder.start());
    for (int i = 0; i < 3; ++i)
        decoder.feedByteBuffer(sink.copy(i));
    ASSERT_TRUE(images.waitFor(3));
    if (decoder.hardwareAccelerationUsed())
        GTEST_SKIP() << "this machine has a CUDA device; the GPU test covers it";
    EXPECT_TRUE(capture->contains(Log::Level::Info, kCategory, "Requesting hardware acceleration"));
    EXPECT_TRUE(capture->contains(
        Log::Level::Warning, kCategory,
        "Could not find any device for hardware acceleration, reverting to CPU based decoding"));
    EXPECT_TRUE(images.at(2)->hasMem());
    EXPECT_EQ(images.at(2)->channels(), 3);
}

TEST(VideoDecoderTest, Mpeg4IgnoresTheHardwareRequest)
{
    Corvexis::Test::PacketSink sink;
    std::vector<std::unique_ptr<TypedImage<std::uint8_t>>> inputs;
    encodeClip(Codec::Mpeg4, Preset::LowLatency, 2, sink, inputs);
    if (HasFatalFailure())
        return;
    Log::ScopedCapture capture;
    VideoDecoder decoder;
    Corvexis::Test::ImageSink images(decoder);
    ASSERT_TRUE(decoder.start());
    decoder.feedByteBuffer(sink.copy(0));
    decoder.feedByteBuffer(sink.copy(1));
    ASSERT_TRUE(images.waitFor(2));
    EXPECT_TRUE(capture->contains(Log::Level::Info, kCategory,
                                  "Hardware acceleration is not supported for 'mpeg4'. Option ignored!"));
    EXPECT_FALSE(decoder.hardwareAccelerationUsed());
}

TEST(VideoDecoderTest, MalformedPacketsAreDroppedAndDecodingGoesOn)
{
    Corvexis::Test::PacketSink sink;
    std::vector<std::unique_ptr<TypedImage<std::uint8_t>>> inputs;
    encodeClip(Codec::Mpeg4, Preset::Balanced, 3, sink, inputs);
    if (HasFatalFailure())
        return;
    Log::ScopedCapture capture;
    VideoDecoder decoder;
    decoder.setUseHardwareAcceleration(false);
    Corvexis::Test::ImageSink images(decoder);
    ASSERT_TRUE(decoder.start());
    decoder.feedByteBuffer(sink.copy(0));
    auto shortPacket = std::make_unique<ByteBuffer>(10);
    decoder.feedByteBuffer(std::move(shortPacket));
    auto lying = sink.copy(1);
    lying->resize(lying->size() - 5);  // payload size in the header no longer matches
    decoder.feedByteBuffer(std::move(lying));
    decoder.feedByteBuffer(sink.copy(1));
    decoder.feedByteBuffer(sink.copy(2));
    ASSERT_TRUE(images.waitFor(3));
    EXPECT_EQ(capture->count(Log::Level::Error, kCategory, "malformed video packet of 10 bytes, dropped"),
              1u);
}

TEST(VideoDecoderTest, StatisticsEstimateRatesOverTheWindowAndStopEndsBothThreads)
{
    Corvexis::Test::PacketSink sink;
    std::vector<std::unique_ptr<TypedImage<std::uint8_t>>> inputs;
    encodeClip(Codec::Mpeg4, Preset::Balanced, 6, sink, inputs);
    if (HasFatalFailure())
        return;
    std::size_t smallest = SIZE_MAX;
    std::size_t largest = 0;
    for (int i = 0; i < 6; ++i) {
        smallest = std::min(smallest, sink.at(i).bytes->size());
        largest = std::max(largest, sink.at(i).bytes->size());
    }
    VideoDecoder decoder;
    decoder.setUseHardwareAcceleration(false);
    Corvexis::Test::ImageSink images(decoder);
    ASSERT_TRUE(decoder.start());
    EXPECT_EQ(decoder.estimatedFPS(), 0.0);
    for (int i = 0; i < 6; ++i)
        decoder.feedByteBuffer(sink.copy(i));
    ASSERT_TRUE(
        Corvexis::Test::waitUntil([&] { return decoder.estimatedFPS() > 0.0; }, std::chrono::seconds(8)));
    const double fps = decoder.estimatedFPS();
    const std::uint64_t bytes = decoder.estimatedBytesPerSeconds();
    // Records per 3-second window: fps x 3 packets whose mean size lies between the extremes.
    const double packets = fps * 3.0;
    EXPECT_NEAR(packets, std::round(packets), 1e-9);
    EXPECT_LE(packets, 6.0);
    EXPECT_GE(static_cast<double>(bytes) * 3.0 / packets, static_cast<double>(smallest) - 1.0);
    EXPECT_LE(static_cast<double>(bytes) * 3.0 / packets, static_cast<double>(largest));
    EXPECT_TRUE(decoder.stop());
    // After a stop, packets are discarded.
    const std::size_t decoded = images.count();
    decoder.feedByteBuffer(sink.copy(0));
    EXPECT_TRUE(decoder.start());
    EXPECT_FALSE(
        Corvexis::Test::waitUntil([&] { return images.count() > decoded; }, std::chrono::milliseconds(300)));
}

}  // namespace
}  // namespace Corvexis
