// End-to-end tests of 'corvexis play' on recordings and of playback as a workspace step: files written
// here are played by the built binary with the real plug-in.

#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>

#include <gtest/gtest.h>

#include "Apps/corvexis/AppRunner.h"
#include "Host/Core/DataList.h"
#include "Host/Core/MemImage.h"
#include "Host/Core/Mesh.h"
#include "Host/Core/TrackingSequence.h"
#include "Host/Lib/Files/CorvexisFile.h"
#include "Host/Lib/Files/CorvexisImage.h"
#include "Host/Lib/SharedImage.h"
#include "Host/Lib/TrackedSharedImageSet.h"

namespace Corvexis {
namespace {

using AppTest::runApp;

class PlayAppTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        dir_ = std::filesystem::temp_directory_path() / ("corvexis-play-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    // `frames` 8 x 6 grey frames at 25 Hz (40 ms apart) from t = 1000 ms.
    static void fill(SharedImageSet& set, int frames)
    {
        const ImageDescriptor d(ImageDescriptor::kUByte, 8, 6, 1, 1);
        for (int f = 0; f < frames; ++f) {
            auto mem = MemImage::create(d, false);
            auto* p = static_cast<std::uint8_t*>(mem->data());
            for (int i = 0; i < 48; ++i)
                p[i] = static_cast<std::uint8_t>(f + i);
            set.add(std::make_shared<SharedImage>(std::move(mem)), 1000.0 + f * 40.0);
        }
    }

    // A tracked set (with one sequence) and a separate tracking sequence at 50 Hz.
    std::string writeRecording(int frames)
    {
        TrackedSharedImageSet tracked("tracked");
        fill(tracked, frames);
        auto probe = std::make_unique<TrackingSequence>("probe");
        probe->setTrackerId(TrackerID("probe"));
        for (int f = 0; f < frames; ++f) {
            Eigen::Matrix4d m = Eigen::Matrix4d::Identity();
            m(0, 3) = f;
            probe->add(m, 1.0 + f * 0.04);
        }
        tracked.addTracking(std::move(probe));
        TrackingSequence needle("needle");
        needle.setTrackerId(TrackerID("needle"));
        for (int f = 0; f < 2 * frames; ++f)
            needle.add(Eigen::Matrix4d::Identity(), 1.0 + f * 0.02);
        DataList items;
        items.add(&tracked);
        items.add(&needle);
        const std::string path = (dir_ / "recording.cvx").string();
        EXPECT_TRUE(CorvexisFile().save(items, path));
        return path;
    }

    std::filesystem::path dir_;
};

// The played rate of the first summary line that names one, in Hz.
double summaryRate(const std::string& output, const std::string& what)
{
    std::smatch m;
    const std::regex pattern(what + R"([^\n]*?([0-9]+(\.[0-9]+)?) Hz)");
    if (!std::regex_search(output, m, pattern))
        return -1;
    return std::stod(m[1]);
}

TEST_F(PlayAppTest, PlaysEveryFrameOfEveryImageSetAndSequenceOnce)
{
    const std::string path = writeRecording(20);
    // Played once (0.8 s); the run is given ample time so that the counts do not depend on speed.
    const auto run = runApp("play " + path + " --seconds 4", 60);
    EXPECT_EQ(run.code, 0) << run.output;
    // The load step, then one playback per image set and per separate sequence.
    EXPECT_NE(run.output.find("Host.LoadFile"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("play1"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("play2"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("tracked"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("tracked tracking"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("Summary needle: 40 records"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("Summary tracked: 20 records"), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find("corvexis:"), std::string::npos) << run.output;
}

TEST_F(PlayAppTest, LoopedPlayOutRunsForTheGivenTimeAndShowsTheRecordedRate)
{
    const std::string path = writeRecording(10);
    const auto run = runApp("play " + path + " --loop --seconds 2.5", 60);
    ASSERT_EQ(run.code, 0) << run.output;
    const double rate = summaryRate(run.output, "tracked");
    EXPECT_GT(rate, 15.0) << run.output;
    EXPECT_LT(rate, 35.0) << "recorded at 25 Hz\n" << run.output;

    const auto faster = runApp("play " + path + " --loop --fps 50 --seconds 2.5", 60);
    ASSERT_EQ(faster.code, 0) << faster.output;
    EXPECT_GT(summaryRate(faster.output, "tracked"), 35.0) << faster.output;
}

TEST_F(PlayAppTest, ALiveImageFilePlays)
{
    SharedImageSet set("live");
    fill(set, 12);
    const std::string path = (dir_ / "live.bin").string();
    CorvexisImage live;
    ASSERT_TRUE(live.open(path, set, false));
    for (int f = 0; f < set.size(); ++f)
        ASSERT_TRUE(live.append(*set.get(f), set.timestamp(f)));
    ASSERT_TRUE(live.close());
    const auto run = runApp("play " + path, 60);
    EXPECT_EQ(run.code, 0) << run.output;
    EXPECT_NE(run.output.find("live"), std::string::npos) << run.output;
}

TEST_F(PlayAppTest, UnplayableInputEndsWithOneLineAndAnError)
{
    Mesh mesh;
    DataList items;
    items.add(&mesh);
    const std::string meshOnly = (dir_ / "mesh.cvx").string();
    ASSERT_TRUE(CorvexisFile().save(items, meshOnly));
    auto run = runApp("play " + meshOnly);
    EXPECT_NE(run.code, 0);
    EXPECT_NE(run.output.find("holds no image set or tracking sequence"), std::string::npos) << run.output;
    EXPECT_EQ(std::count(run.output.begin(), run.output.end(), '\n'), 1) << run.output;

    const std::string junk = (dir_ / "junk.cvx").string();
    std::ofstream(junk) << "not a recording";
    run = runApp("play " + junk);
    EXPECT_NE(run.code, 0);
    EXPECT_NE(run.output.find("cannot play"), std::string::npos) << run.output;
    EXPECT_EQ(std::count(run.output.begin(), run.output.end(), '\n'), 1) << run.output;

    const std::string path = writeRecording(3);
    run = runApp("play " + path + " --fps 10 --speed 2");
    EXPECT_NE(run.code, 0);
    EXPECT_NE(run.output.find("exclude each other"), std::string::npos) << run.output;
    run = runApp("play " + path + " --fps 0");
    EXPECT_NE(run.code, 0);
    EXPECT_NE(run.output.find("--fps takes a number"), std::string::npos) << run.output;
}

TEST_F(PlayAppTest, TheExampleWorkspacePlaysARecordingFromTheWorkingDirectory)
{
    // Where the recording example saves its file.
    std::filesystem::create_directories(dir_ / "recordings");
    std::filesystem::rename(writeRecording(10), dir_ / "recordings" / "sim_1.cvx");
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(dir_);
    const auto run = runApp(
        std::string("workspace ") + CORVEXIS_SOURCE_DIR + "/examples/play-recording.workspace --seconds 1.5",
        60);
    std::filesystem::current_path(previous);
    EXPECT_EQ(run.code, 0) << run.output;
    EXPECT_NE(run.output.find("Stream.Playback"), std::string::npos) << run.output;
    EXPECT_GT(summaryRate(run.output, "tracked"), 0.0) << run.output;
}

// A timeline's save action writes a data output as a data file; a stream output cannot be saved and
// the action says why.
TEST_F(PlayAppTest, SaveActionWritesADataOutputAndRefusesAStream)
{
    const std::string path = writeRecording(6);
    const std::string copy = (dir_ / "copy.cvx").string();
    const std::string streamCopy = (dir_ / "stream.cvx").string();
    const std::string workspace = (dir_ / "save.workspace").string();
    std::ofstream(workspace)
        << "Workspace {\n seconds = 1\n"
           " Step {\n name = file\n algorithm = Host.LoadFile\n outputs = recording\n"
           "  Configuration {\n filename = \""
        << path
        << "\"\n }\n }\n"
           " Step {\n name = playback\n algorithm = Stream.Playback\n inputs = recording\n"
           " outputs = played\n Configuration {\n \"Delay Start\" = true\n }\n }\n"
           " Timeline {\n"
           "  Action {\n at = 0.1\n save = recording\n file = \""
        << copy
        << "\"\n }\n"
           "  Action {\n at = 0.2\n save = played\n file = \""
        << streamCopy << "\"\n }\n }\n}\n";
    const auto run = runApp("workspace " + workspace, 60);
    // The stream's save fails, so the run does.
    EXPECT_EQ(run.code, 1) << run.output;
    EXPECT_NE(run.output.find("Action save recording to " + copy + ": done"), std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find("Action save played to " + streamCopy + ": failed ("), std::string::npos)
        << run.output;
    EXPECT_FALSE(std::filesystem::exists(streamCopy));
    CorvexisFile reader;
    auto items = reader.load(copy);
    ASSERT_TRUE(items) << reader.lastError();
    ASSERT_EQ(items->size(), 1u);
    auto* set = dynamic_cast<SharedImageSet*>((*items)[0]);
    ASSERT_NE(set, nullptr);
    EXPECT_EQ(set->size(), 6);
}

// A played recording feeds a recorder: the example records the play-out, which holds the same frames
// at the same times.
TEST_F(PlayAppTest, TheExampleWorkspaceRecordsWhatItPlays)
{
    std::filesystem::create_directories(dir_ / "recordings");
    std::filesystem::rename(writeRecording(10), dir_ / "recordings" / "sim_1.cvx");
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(dir_);
    const auto run = runApp(
        std::string("workspace ") + CORVEXIS_SOURCE_DIR + "/examples/record-playback.workspace --seconds 2",
        60);
    std::filesystem::current_path(previous);
    ASSERT_EQ(run.code, 0) << run.output;

    CorvexisFile reader;
    auto original = reader.load((dir_ / "recordings" / "sim_1.cvx").string());
    auto replayed = reader.load((dir_ / "recordings" / "replayed_1.cvx").string());
    ASSERT_TRUE(original && replayed) << reader.lastError() << "\n" << run.output;
    auto* before = dynamic_cast<TrackedSharedImageSet*>((*original)[0]);
    ASSERT_EQ(replayed->size(), 1u);
    auto* after = dynamic_cast<TrackedSharedImageSet*>((*replayed)[0]);
    ASSERT_TRUE(before && after);
    ASSERT_EQ(after->size(), before->size());
    ASSERT_EQ(after->numTracking(), 1);
    for (int i = 0; i < before->size(); ++i) {
        EXPECT_TRUE(after->get(i)->mem()->hasSamePixels(*before->get(i)->mem())) << "frame " << i;
        EXPECT_EQ(after->timestamp(i), before->timestamp(i)) << "frame " << i;
        EXPECT_TRUE(after->frameMatrix(i).isApprox(before->frameMatrix(i), 1e-9)) << "frame " << i;
    }
}

}  // namespace
}  // namespace Corvexis
