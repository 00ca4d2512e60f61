#include "Host/Lib/Video/VideoCapture.h"

#include <gtest/gtest.h>

#include <fstream>
#include <stdexcept>
#include <vector>

#include "Support/VideoTestTools.h"

namespace Corvexis {
namespace {

using FFmpegHelper::VideoCapture;

struct ClipFormat
{
    const char* extension;
    const char* preferredEncoder;  // tried first when the ffmpeg program has it
    const char* preferredOptions;
    const char* fallbackOptions;  // otherwise (empty: the format is skipped)
};

// Key frames every 8 frames and, where the codec has them, B-frames, so that positioning must decode
// forward from a key frame and map reordered time stamps to frame numbers.
const ClipFormat kFormats[] = {
    {"mp4", "libx264", "-c:v libx264 -pix_fmt yuv420p -g 8 -bf 2", "-c:v mpeg4 -g 8 -bf 2"},
    {"mkv", "libx264", "-c:v libx264 -pix_fmt yuv420p -g 8", "-c:v mpeg4 -g 8 -bf 2"},
    {"avi", "mpeg4", "-c:v mpeg4 -g 8", ""},
    {"mov", "mpeg4", "-c:v mpeg4 -g 8 -bf 2", ""},
    {"ogv", "libtheora", "-c:v libtheora -g 8", ""},
    {"gif", "gif", "-c:v gif", ""},
    {"wmv", "wmv2", "-c:v wmv2 -g 8", ""},
};

constexpr int kWidth = 160;
constexpr int kHeight = 120;
constexpr int kFrames = 24;
constexpr int kFps = 10;

class VideoCaptureFormatTest : public ::testing::TestWithParam<ClipFormat>
{
protected:
    void SetUp() override
    {
        if (!Corvexis::Test::haveProgram("ffmpeg") || !Corvexis::Test::haveProgram("ffprobe"))
            GTEST_SKIP() << "the ffmpeg and ffprobe programs are needed as the reference";
        const ClipFormat& format = GetParam();
        std::string options = format.preferredOptions;
        if (!Corvexis::Test::ffmpegHasEncoder(format.preferredEncoder)) {
            if (std::string(format.fallbackOptions).empty())
                GTEST_SKIP() << "the ffmpeg program has no " << format.preferredEncoder << " encoder";
            options = format.fallbackOptions;
        }
        clip_ = scratch_.file(std::string("clip.") + format.extension);
        const std::string error =
            Corvexis::Test::makeTestClip(clip_, kWidth, kHeight, kFps, kFrames, options);
        ASSERT_TRUE(error.empty()) << error;
        raw_ = Corvexis::Test::ffmpegRawRgb(clip_, scratch_.file("clip.rgb"));
        ASSERT_FALSE(raw_.empty());
    }

    const std::uint8_t* reference(int frame) const
    {
        return raw_.data() + frameBytes() * static_cast<std::size_t>(frame);
    }
    static std::size_t frameBytes() { return std::size_t{kWidth} * kHeight * 3; }

    Corvexis::Test::ScratchDir scratch_;
    std::string clip_;
    std::vector<std::uint8_t> raw_;
};

TEST_P(VideoCaptureFormatTest, ReportsWhatFfprobeReports)
{
    const auto probe = Corvexis::Test::probeVideo(clip_);
    VideoCapture capture(clip_);
    EXPECT_EQ(capture.width(), std::stoi(probe.at("width")));
    EXPECT_EQ(capture.height(), std::stoi(probe.at("height")));
    EXPECT_EQ(capture.numberOfFrames(), std::stoi(probe.at("nb_read_frames")));
    // Ogg states no average rate; both then fall back to the stream's base rate.
    double rate = Corvexis::Test::parseRate(probe.at("avg_frame_rate"));
    if (rate == 0.0)
        rate = Corvexis::Test::parseRate(probe.at("r_frame_rate"));
    EXPECT_NEAR(capture.fps(), rate, 1e-6);
    EXPECT_EQ(raw_.size(), frameBytes() * static_cast<std::size_t>(capture.numberOfFrames()));
}

TEST_P(VideoCaptureFormatTest, SequentialFramesEqualFfmpegDecodeWithinOneLevel)
{
    VideoCapture capture(clip_);
    std::vector<std::uint8_t> frame(frameBytes());
    const int count = capture.numberOfFrames();
    for (int i = 0; i < count; ++i) {
        double time = -1.0;
        ASSERT_TRUE(capture.readNextFrame(frame.data(), 3, time))
            << "frame " << i << ": " << capture.lastError();
        EXPECT_LE(Corvexis::Test::maxDifference(frame.data(), reference(i), frameBytes()), 1)
            << "frame " << i;
        EXPECT_NEAR(time, i / capture.fps(), 0.5 / capture.fps()) << "frame " << i;
    }
    double time = 0.0;
    EXPECT_FALSE(capture.readNextFrame(frame.data(), 3, time));
    EXPECT_FALSE(capture.lastError().empty());
}

TEST_P(VideoCaptureFormatTest, PositioningGivesExactlyThatFrame)
{
    VideoCapture capture(clip_);
    std::vector<std::uint8_t> frame(frameBytes());
    // Backwards, across key frames, just before and after one, the ends, and a repeat.
    for (int target : {17, 3, 9, 0, 23, 12, 8, 7, 7, 16, 1}) {
        ASSERT_TRUE(capture.setPosition(target));
        double time = 0.0;
        ASSERT_TRUE(capture.readNextFrame(frame.data(), 3, time)) << "frame " << target;
        EXPECT_LE(Corvexis::Test::maxDifference(frame.data(), reference(target), frameBytes()), 1)
            << "frame " << target;
        EXPECT_EQ(capture.position(), target + 1);
    }
    // Beyond the end clamps to the last frame.
    ASSERT_TRUE(capture.setPosition(1000));
    EXPECT_EQ(capture.position(), kFrames - 1);
    EXPECT_FALSE(capture.setPosition(-1));
}

std::string formatName(const ::testing::TestParamInfo<ClipFormat>& info)
{
    return info.param.extension;
}

INSTANTIATE_TEST_SUITE_P(Formats, VideoCaptureFormatTest, ::testing::ValuesIn(kFormats), formatName);

TEST(VideoCaptureTest, ScalesAndConvertsChannelCounts)
{
    if (!Corvexis::Test::haveProgram("ffmpeg"))
        GTEST_SKIP() << "the ffmpeg program is needed to make the clip";
    Corvexis::Test::ScratchDir scratch;
    const std::string clip = scratch.file("clip.avi");
    ASSERT_EQ(Corvexis::Test::makeTestClip(clip, kWidth, kHeight, kFps, 3, "-c:v mpeg4"), "");
    VideoCapture capture(clip);
    std::vector<std::uint8_t> rgb(std::size_t{kWidth} * kHeight * 3);
    std::vector<std::uint8_t> rgba(std::size_t{kWidth} * kHeight * 4);
    double time = 0.0;
    ASSERT_TRUE(capture.readNextFrame(rgb.data(), 3, time));
    capture.setPosition(0);
    ASSERT_TRUE(capture.readNextFrame(rgba.data(), 4, time));
    for (std::size_t p = 0; p < std::size_t{kWidth} * kHeight; ++p) {
        ASSERT_EQ(rgba[4 * p + 3], 255);
        ASSERT_EQ(rgba[4 * p], rgb[3 * p]);
    }
    std::vector<std::uint8_t> small(std::size_t{40} * 30 * 3);
    capture.setPosition(0);
    EXPECT_TRUE(capture.readNextFrameResized(small.data(), 40, 30, 3, time));
    EXPECT_FALSE(capture.readNextFrameResized(small.data(), 40, 30, 2, time));
}

TEST(VideoCaptureTest, UnreadableFilesRaiseWithTheReason)
{
    Corvexis::Test::ScratchDir scratch;
    const std::string missing = scratch.file("missing.mp4");
    try {
        VideoCapture capture(missing);
        FAIL() << "a missing file opened";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find(missing), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("cannot be opened"), std::string::npos) << e.what();
    }
    const std::string text = scratch.file("notes.mkv");
    std::ofstream(text) << "not a video at all\n";
    EXPECT_THROW(VideoCapture{text}, std::runtime_error);
}

}  // namespace
}  // namespace Corvexis
