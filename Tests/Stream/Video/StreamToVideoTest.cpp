#include "Stream/Video/StreamToVideoAlgorithm.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "Host/Core/DataList.h"
#include "Host/Core/Log.h"
#include "Host/Lib/SharedImage.h"
#include "Stream/Framework/TestImageStreams.h"
#include "Stream/StreamAlgorithmFactory.h"
#include "Stream/Video/StreamToVideoRecorder.h"
#include "Support/VideoTestTools.h"

namespace Corvexis {
namespace {

namespace T = Corvexis::Test;
constexpr const char* kCategory = "Stream.StreamToVideoAlgorithm";
constexpr int kWidth = 160;
constexpr int kHeight = 120;
constexpr std::size_t kFrameBytes = std::size_t{kWidth} * kHeight * 3;

// Emits pattern frame `index` on the stream and returns a copy of its pixels.
std::vector<std::uint8_t> emitPattern(T::ManualImageStream& stream, int index)
{
    auto frame = T::makePatternFrame(kWidth, kHeight, 3, index);
    std::vector<std::uint8_t> pixels(frame->pointer(), frame->pointer() + frame->byteSize());
    stream.emitImages({std::make_shared<SharedImage>(std::unique_ptr<MemImage>(std::move(frame)))});
    return pixels;
}

TEST(StreamToVideoAlgorithmTest, ParsesKeyValueEntriesAndStopsAtTheFirstBadOne)
{
    using Options = StreamToVideoRecorder::Options;
    EXPECT_EQ(StreamToVideoAlgorithm::parseEncoderParameters(" crf=18 ;\tpreset=fast\n"),
              (Options{{"crf", "18"}, {"preset", "fast"}}));
    EXPECT_EQ(StreamToVideoAlgorithm::parseEncoderParameters(""), Options{});
    {
        Log::ScopedCapture capture;
        EXPECT_EQ(StreamToVideoAlgorithm::parseEncoderParameters("crf=18;preset;tune=film"),
                  (Options{{"crf", "18"}}));
        EXPECT_EQ(capture->count(Log::Level::Warning, kCategory,
                                 "Invalid parameters format, expected 'key1=value1 ; key2=value2 ; ..."),
                  1u);
    }
    Log::ScopedCapture capture;
    EXPECT_EQ(StreamToVideoAlgorithm::parseEncoderParameters("a=b=c;d=e"), Options{});
    EXPECT_EQ(StreamToVideoAlgorithm::parseEncoderParameters("=1"), Options{});
    EXPECT_EQ(capture.sink().records().size(), 2u);
}

class StreamToVideoFileTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!T::haveProgram("ffprobe") || !T::haveProgram("ffmpeg"))
            GTEST_SKIP() << "the ffmpeg and ffprobe programs are needed as the reference";
        stream_.open();
        stream_.start();
    }

    void configure(StreamToVideoAlgorithm& algorithm, const std::string& path)
    {
        algorithm.width.setValue(kWidth);
        algorithm.height.setValue(kHeight);
        algorithm.fps.setValue(10);
        algorithm.encoder.setValue("mpeg4");
        algorithm.encoderParameters.setValue("b=3000000 ; g=4");
        algorithm.outputPath.setValue(path);
    }

    // Decodes `path` with the ffmpeg program and compares frame i with inputs[i].
    void expectFramesMatch(const std::string& path, const std::vector<std::vector<std::uint8_t>>& inputs)
    {
        const auto raw = T::ffmpegRawRgb(path, scratch_.file("check.rgb"));
        ASSERT_EQ(raw.size(), kFrameBytes * inputs.size());
        for (std::size_t i = 0; i < inputs.size(); ++i)
            EXPECT_GT(T::psnr(raw.data() + kFrameBytes * i, inputs[i].data(), kFrameBytes), 30.0)
                << "frame " << i;
    }

    T::ScratchDir scratch_;
    T::ManualImageStream stream_;
};

TEST_F(StreamToVideoFileTest, ComputeStartsAndFinishesAFileOthersRead)
{
    StreamAlgorithmFactory factory;
    ASSERT_EQ(factory.entry("Stream.StreamToVideo")->menuPath, "Streaming;Record Stream to Video");
    DataList inputs{&stream_};
    auto created = factory.create("Stream.StreamToVideo", inputs);
    ASSERT_TRUE(created);
    auto& algorithm = dynamic_cast<StreamToVideoAlgorithm&>(*created);
    EXPECT_EQ(algorithm.format.value(), "matroska");
    const std::string path = scratch_.file("recording.mkv");
    configure(algorithm, path);

    algorithm.compute();
    ASSERT_EQ(algorithm.status(), Algorithm::Status::Success);
    ASSERT_TRUE(algorithm.isRecording());
    std::vector<std::vector<std::uint8_t>> frames;
    for (int i = 0; i < 12; ++i)
        frames.push_back(emitPattern(stream_, i));
    EXPECT_FALSE(std::filesystem::exists(path))
        << "nothing stands under the final name before it is finished";
    algorithm.compute();
    EXPECT_EQ(algorithm.status(), Algorithm::Status::Success);
    EXPECT_FALSE(algorithm.isRecording());
    emitPattern(stream_, 99);  // after the end: not written

    const auto probe = T::probeVideo(path);
    EXPECT_EQ(probe.at("codec_name"), "mpeg4");
    EXPECT_EQ(probe.at("width"), std::to_string(kWidth));
    EXPECT_EQ(probe.at("height"), std::to_string(kHeight));
    EXPECT_NEAR(T::parseRate(probe.at("avg_frame_rate")), 10.0, 1e-6);
    EXPECT_EQ(probe.at("nb_read_frames"), "12");
    expectFramesMatch(path, frames);

    // A third compute records anew to the same path.
    algorithm.compute();
    ASSERT_TRUE(algorithm.isRecording());
    std::vector<std::vector<std::uint8_t>> second;
    for (int i = 20; i < 25; ++i)
        second.push_back(emitPattern(stream_, i));
    algorithm.compute();
    EXPECT_EQ(T::probeVideo(path).at("nb_read_frames"), "5");
    expectFramesMatch(path, second);
}

TEST_F(StreamToVideoFileTest, SkipCountWritesEveryNthFrameStartingWithTheNext)
{
    const std::string path = scratch_.file("skip.avi");
    StreamToVideoRecorder recorder(stream_);
    ASSERT_TRUE(recorder.initialize(kWidth, kHeight, 10, "avi", "mpeg4", {{"b", "3000000"}}, path));
    recorder.setSkip(3);
    std::vector<std::vector<std::uint8_t>> written;
    for (int i = 0; i < 10; ++i) {
        auto pixels = emitPattern(stream_, i);
        if (i % 3 == 0)
            written.push_back(std::move(pixels));
    }
    EXPECT_EQ(recorder.framesWritten(), 4);
    ASSERT_TRUE(recorder.finalize());
    EXPECT_FALSE(recorder.ok());
    expectFramesMatch(path, written);
}

TEST_F(StreamToVideoFileTest, NonByteImagesAreSkippedWithAWarning)
{
    const std::string path = scratch_.file("empty.mkv");
    StreamToVideoRecorder recorder(stream_);
    ASSERT_TRUE(recorder.initialize(kWidth, kHeight, 10, "matroska", "mpeg4", {}, path));
    Log::ScopedCapture capture;
    for (int i = 0; i < 3; ++i)
        stream_.emitFrame(ImageDescriptor(ImageDescriptor::kUShort, kWidth, kHeight, 1, 1), 7);
    EXPECT_EQ(capture->count(Log::Level::Warning, "Stream.StreamToVideoRecorder", "Ignoring non-8bit image"),
              3u);
    EXPECT_EQ(recorder.framesWritten(), 0);
    EXPECT_TRUE(recorder.ok());
    ASSERT_TRUE(recorder.finalize());
    ASSERT_TRUE(std::filesystem::exists(path));
    const auto probe = T::probeVideo(path);
    // Without frames there may be no stream to count; if there is one, it is empty.
    EXPECT_EQ(probe.count("nb_read_frames") ? probe.at("nb_read_frames") : "0", "0");
}

TEST(StreamToVideoAlgorithmTest, DefaultHardwareEncoderFailsSayingWhyAndWhatIsOffered)
{
    T::ManualImageStream stream;
    T::ScratchDir scratch;
    StreamToVideoAlgorithm algorithm(stream);
    EXPECT_EQ(algorithm.encoder.value(), "h264_nvenc");
    algorithm.outputPath.setValue(scratch.file("recording.mkv"));
    Log::ScopedCapture capture;
    algorithm.compute();
    if (algorithm.status() == Algorithm::Status::Success)
        GTEST_SKIP() << "this machine has the encoder's hardware";
    EXPECT_EQ(algorithm.status(), Algorithm::Status::Error);
    EXPECT_FALSE(algorithm.isRecording());
    EXPECT_TRUE(capture->contains(Log::Level::Error, kCategory, "Failed to initialize recorder"));
    EXPECT_TRUE(capture->containsFragment(Log::Level::Error, "Stream.StreamToVideoRecorder",
                                          "the encoder 'h264_nvenc' cannot be opened"));
    EXPECT_TRUE(capture->containsFragment(Log::Level::Error, "Stream.StreamToVideoRecorder",
                                          "needs graphics hardware"));
    EXPECT_TRUE(capture->containsFragment(Log::Level::Error, "Stream.StreamToVideoRecorder",
                                          "video encoders this FFmpeg build offers: "));
    EXPECT_TRUE(capture->containsFragment(Log::Level::Error, "Stream.StreamToVideoRecorder", "mpeg4"));
    EXPECT_FALSE(std::filesystem::exists(scratch.file("recording.mkv.partial")));
}

TEST(StreamToVideoAlgorithmTest, FinishesTheFileWhenTheStreamIsDestroyedWhileRecording)
{
    if (!T::haveProgram("ffprobe"))
        GTEST_SKIP() << "the ffprobe program is needed as the reference";
    T::ScratchDir scratch;
    const std::string path = scratch.file("cut.mkv");
    auto stream = std::make_unique<T::ManualImageStream>();
    stream->open();
    stream->start();
    StreamToVideoAlgorithm algorithm(*stream);
    algorithm.width.setValue(kWidth);
    algorithm.height.setValue(kHeight);
    algorithm.encoder.setValue("mpeg4");
    algorithm.encoderParameters.setValue("");
    algorithm.outputPath.setValue(path);
    algorithm.compute();
    ASSERT_TRUE(algorithm.isRecording());
    for (int i = 0; i < 4; ++i)
        emitPattern(*stream, i);
    stream.reset();
    EXPECT_FALSE(algorithm.isRecording());
    EXPECT_EQ(T::probeVideo(path).at("nb_read_frames"), "4");
    algorithm.compute();
    EXPECT_EQ(algorithm.status(), Algorithm::Status::InvalidInput);
}

}  // namespace
}  // namespace Corvexis
