#include "Host/Lib/Video/VideoFileRecorder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "Support/VideoTestTools.h"

namespace Corvexis {
namespace {

using Corvexis::Test::makePatternFrame;

TEST(VideoFileRecorderTest, WritesAFileFfmpegReadsBackUnderItsFinalNameOnlyWhenFinalized)
{
    if (!Corvexis::Test::haveProgram("ffprobe") || !Corvexis::Test::haveProgram("ffmpeg"))
        GTEST_SKIP() << "the ffmpeg and ffprobe programs are needed as the reference";
    Corvexis::Test::ScratchDir scratch;
    const std::string path = scratch.file("out.mkv");
    VideoFileRecorder recorder;
    constexpr int kWidth = 160, kHeight = 120, kFrames = 20;
    ASSERT_EQ(recorder.initialize(kWidth, kHeight, 15, VideoFileRecorder::Yuv420, "matroska", "mpeg4",
                                  {{"b", "3000000"}, {"g", "5"}}, path),
              0)
        << recorder.lastError();
    EXPECT_TRUE(recorder.ok());
    std::vector<std::unique_ptr<TypedImage<std::uint8_t>>> inputs;
    for (int i = 0; i < kFrames; ++i) {
        inputs.push_back(makePatternFrame(kWidth, kHeight, 3, i));
        ASSERT_TRUE(recorder.encodeFrame(*inputs.back())) << recorder.lastError();
    }
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_TRUE(std::filesystem::exists(path + ".partial"));
    ASSERT_TRUE(recorder.finalize()) << recorder.lastError();
    EXPECT_TRUE(std::filesystem::exists(path));
    EXPECT_FALSE(std::filesystem::exists(path + ".partial"));
    EXPECT_FALSE(recorder.ok());

    const auto probe = Corvexis::Test::probeVideo(path);
    EXPECT_EQ(probe.at("codec_name"), "mpeg4");
    EXPECT_EQ(probe.at("width"), "160");
    EXPECT_EQ(probe.at("height"), "120");
    EXPECT_EQ(probe.at("pix_fmt"), "yuv420p");
    EXPECT_NEAR(Corvexis::Test::parseRate(probe.at("avg_frame_rate")), 15.0, 1e-6);
    EXPECT_EQ(probe.at("nb_read_frames"), std::to_string(kFrames));

    const auto raw = Corvexis::Test::ffmpegRawRgb(path, scratch.file("out.rgb"));
    const std::size_t frameBytes = std::size_t{kWidth} * kHeight * 3;
    ASSERT_EQ(raw.size(), frameBytes * kFrames);
    for (int i = 0; i < kFrames; ++i)
        EXPECT_GT(Corvexis::Test::psnr(raw.data() + frameBytes * i, inputs[i]->pointer(), frameBytes), 30.0)
            << "frame " << i;
}

TEST(VideoFileRecorderTest, ScalesImagesOfOtherSizesAndChannelCounts)
{
    if (!Corvexis::Test::haveProgram("ffprobe"))
        GTEST_SKIP() << "the ffprobe program is needed as the reference";
    Corvexis::Test::ScratchDir scratch;
    const std::string path = scratch.file("scaled.avi");
    VideoFileRecorder recorder;
    ASSERT_EQ(recorder.initialize(64, 48, 25, VideoFileRecorder::Yuv420, "", "mpeg4", {}, path), 0)
        << recorder.lastError();
    EXPECT_TRUE(recorder.encodeFrame(*makePatternFrame(128, 96, 4, 0)));
    EXPECT_TRUE(recorder.encodeFrame(*makePatternFrame(32, 24, 1, 1)));
    EXPECT_FALSE(recorder.encodeFrame(*makePatternFrame(64, 48, 2, 2)));
    EXPECT_TRUE(recorder.ok());
    ASSERT_TRUE(recorder.finalize());
    const auto probe = Corvexis::Test::probeVideo(path);
    EXPECT_EQ(probe.at("width"), "64");
    EXPECT_EQ(probe.at("nb_read_frames"), "2");
}

TEST(VideoFileRecorderTest, MissingHardwareEncoderSaysSoAndNamesTheOfferedEncoders)
{
    Corvexis::Test::ScratchDir scratch;
    const std::string path = scratch.file("never.mkv");
    VideoFileRecorder recorder;
    const int rc = recorder.initialize(320, 240, 30, 1, "matroska", "h264_nvenc", {{"crf", "18"}}, path);
    if (rc == 0)
        GTEST_SKIP() << "this machine has the encoder's hardware";
    EXPECT_LT(rc, 0);
    const std::string& why = recorder.lastError();
    EXPECT_NE(why.find("h264_nvenc"), std::string::npos) << why;
    EXPECT_NE(why.find("hardware"), std::string::npos) << why;
    EXPECT_NE(why.find("encoders this FFmpeg build offers"), std::string::npos) << why;
    EXPECT_NE(why.find("mpeg4"), std::string::npos) << why;
    EXPECT_EQ(why.find(", h264_nvenc"), std::string::npos)
        << "hardware-only encoders are not offered: " << why;
    EXPECT_FALSE(recorder.ok());
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_FALSE(std::filesystem::exists(path + ".partial"));
}

TEST(VideoFileRecorderTest, RefusesUnknownNamesAndOptionsWithoutLeavingFiles)
{
    Corvexis::Test::ScratchDir scratch;
    const std::string path = scratch.file("bad.mkv");
    VideoFileRecorder recorder;
    EXPECT_LT(recorder.initialize(64, 48, 25, 1, "matroska", "no-such-encoder", {}, path), 0);
    EXPECT_NE(recorder.lastError().find("no-such-encoder"), std::string::npos);
    EXPECT_LT(recorder.initialize(64, 48, 25, 1, "no-such-container", "mpeg4", {}, path), 0);
    EXPECT_LT(recorder.initialize(64, 48, 25, 1, "matroska", "mpeg4", {{"definitelyNotAnOption", "1"}}, path),
              0);
    EXPECT_NE(recorder.lastError().find("definitelyNotAnOption"), std::string::npos) << recorder.lastError();
    EXPECT_LT(recorder.initialize(0, 48, 25, 1, "matroska", "mpeg4", {}, path), 0);
    EXPECT_FALSE(recorder.finalize());

    // An abandoned recording leaves nothing behind.
    ASSERT_EQ(recorder.initialize(64, 48, 25, 1, "matroska", "mpeg4", {}, path), 0);
    EXPECT_TRUE(recorder.encodeFrame(*makePatternFrame(64, 48, 3, 0)));
    recorder.clear();
    EXPECT_FALSE(recorder.ok());
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_FALSE(std::filesystem::exists(path + ".partial"));
}

}  // namespace
}  // namespace Corvexis
