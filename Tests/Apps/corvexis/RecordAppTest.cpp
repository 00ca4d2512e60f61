// End-to-end tests of 'corvexis record' and of the recording example workspace.

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include <unistd.h>

#include "Host/Core/TrackingSequence.h"
#include "Host/Lib/Files/CorvexisFile.h"
#include "Host/Lib/Files/CorvexisImage.h"
#include "Host/Lib/SharedImageSet.h"
#include "Host/Lib/TrackedSharedImageSet.h"
#include "Tests/Apps/corvexis/AppRunner.h"

namespace Corvexis {
namespace {

using AppTest::runApp;
using AppTest::runAppSignalledAfter;

const std::string kPlugins = "--log-level 3 --plugins " CORVEXIS_STREAM_PLUGIN_DIR " ";

struct TempDir
{
    TempDir()
    {
        path = std::filesystem::temp_directory_path() /
               ("record-app-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
        std::filesystem::create_directories(path);
    }
    ~TempDir() { std::filesystem::remove_all(path); }
    std::string str() const { return path.string(); }
    std::vector<std::filesystem::path> files() const
    {
        std::vector<std::filesystem::path> found;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(path))
            if (entry.is_regular_file())
                found.push_back(entry.path());
        return found;
    }
    std::filesystem::path path;
    static inline int counter = 0;
};

TEST(RecordApp, RecordsTheSimulatedImageStreamIntoADataFile)
{
    TempDir dir;
    const auto r =
        runApp(kPlugins + "record Stream.CreateStreamIoFakeImage --out " + dir.str() + " --seconds 2");
    ASSERT_EQ(r.code, 0) << r.output;
    EXPECT_NE(r.output.find("1 s: "), std::string::npos) << r.output;
    const auto file = dir.path / "recording_1.cvx";
    EXPECT_NE(r.output.find("Saved " + file.string()), std::string::npos) << r.output;
    CorvexisFile reader;
    auto items = reader.load(file.string());
    ASSERT_TRUE(items) << reader.lastError();
    ASSERT_EQ(items->size(), 1u);
    auto* set = dynamic_cast<SharedImageSet*>((*items)[0]);
    ASSERT_NE(set, nullptr);
    EXPECT_GT(set->size(), 10);  // 30 per second; a loaded machine may deliver fewer
    EXPECT_LE(set->size(), 70);
    for (int i = 1; i < set->size(); ++i)
        ASSERT_GE(*set->timestamp(i), *set->timestamp(i - 1));

    const auto info = runApp("info " + file.string());
    EXPECT_EQ(info.code, 0) << info.output;
    EXPECT_NE(info.output.find(std::to_string(set->size())), std::string::npos) << info.output;
}

// Two sources: the configuration file's blocks go to the source that takes them, record.* to the
// recorder; the frames carry the first instrument's poses.
TEST(RecordApp, RecordsTwoSourcesTogether)
{
    TempDir dir;
    const auto r = runApp(
        kPlugins + "record Stream.CreateStreamIoFakeImage Stream.CreateStreamIoFakeTracking --config " +
        CORVEXIS_SOURCE_DIR
        "/examples/fake-tracking.properties record.dataCombinationMode=2 "
        "fps=20 --out " +
        dir.str() + " --seconds 2");
    ASSERT_EQ(r.code, 0) << r.output;
    CorvexisFile reader;
    auto items = reader.load((dir.path / "recording_1.cvx").string());
    ASSERT_TRUE(items) << reader.lastError();
    ASSERT_EQ(items->size(), 2u);  // the tracked set and the second instrument's sequence
    auto* tracked = dynamic_cast<TrackedSharedImageSet*>((*items)[0]);
    ASSERT_NE(tracked, nullptr);
    ASSERT_EQ(tracked->numTracking(), 1);
    EXPECT_GT(tracked->tracking()->size(), 5);
    EXPECT_NE(dynamic_cast<TrackingSequence*>((*items)[1]), nullptr);
    EXPECT_LE(tracked->size(), 50);  // fps=20 reached the image source too
}

TEST(RecordApp, BadInputGivesOneLineAndLeavesNoFile)
{
    TempDir dir;
    auto r = runApp(kPlugins + "record Stream.CreateStreamIoFakeImage --seconds 1");
    EXPECT_NE(r.code, 0);
    EXPECT_NE(r.output.find("corvexis: 'record' needs --out DIR"), std::string::npos) << r.output;

    {
        std::ofstream(dir.path / "plain") << "x";
    }
    r = runApp(kPlugins + "record Stream.CreateStreamIoFakeImage --out " +
               (dir.path / "plain" / "sub").string() + " --seconds 1");
    EXPECT_NE(r.code, 0);
    EXPECT_NE(r.output.find("corvexis: cannot record into"), std::string::npos) << r.output;

    const auto out = dir.path / "out";
    r = runApp(kPlugins + "record Stream.CreateStreamIoFakeImage nosuchsetting=3 --out " + out.string() +
               " --seconds 1");
    EXPECT_NE(r.code, 0);
    EXPECT_NE(r.output.find("corvexis: "), std::string::npos) << r.output;
    r = runApp(kPlugins + "record Stream.NoSuchSource --out " + out.string() + " --seconds 1");
    EXPECT_NE(r.code, 0);
    EXPECT_NE(r.output.find("corvexis: unknown algorithm"), std::string::npos) << r.output;
    EXPECT_EQ(dir.files().size(), 1u);  // only the blocker file
}

// A disk that fills up (here: a file-size limit of 256 KiB on the process, with the limit's signal
// ignored, so writes fail as on a full disk): one clear line, a non-zero exit and nothing under a final
// name, for the saved file and for the live file alike.
TEST(RecordApp, AFullDiskFailsClearlyAndLeavesNoFinalFile)
{
    const std::string limited = "bash -c 'trap \"\" XFSZ; ulimit -f 256; exec \"$@\"' _ ";
    for (const std::string mode : {"", " --live"}) {
        SCOPED_TRACE(mode.empty() ? "saved at the end" : "live");
        TempDir dir;
        const auto r = runApp(
            kPlugins + "record Stream.CreateStreamIoFakeImage --seconds 2" + mode + " --out " + dir.str(), 60,
            limited);
        EXPECT_EQ(r.code, 1) << r.output;
        EXPECT_TRUE(r.output.find("corvexis: saving the recording failed") != std::string::npos ||
                    r.output.find("corvexis: the live recording could not be written completely") !=
                        std::string::npos)
            << r.output;
        EXPECT_EQ(r.output.find("Saved "), std::string::npos) << r.output;
        for (const auto& file : dir.files()) {
            const std::string name = file.filename().string();
            EXPECT_TRUE(name.ends_with(".part")) << "a file under a final name: " << name;
        }
    }
}

TEST(RecordApp, InterruptEndsTheRecordingAndSavesIt)
{
    TempDir dir;
    // SIGINT, as Ctrl-C would, a second after the first progress line.
    const auto r = runAppSignalledAfter(kPlugins + "record Stream.CreateStreamIoFakeImage --out " + dir.str(),
                                        "frames, ", SIGINT, 1.0);
    EXPECT_NE(r.output.find("Saved "), std::string::npos) << r.output;
    CorvexisFile reader;
    auto items = reader.load((dir.path / "recording_1.cvx").string());
    ASSERT_TRUE(items) << reader.lastError() << "\n" << r.output;
    EXPECT_TRUE(reader.isComplete());
    EXPECT_GT(dynamic_cast<SharedImageSet*>((*items)[0])->size(), 0);
}

// A live recording killed without warning keeps every frame written up to the kill.
TEST(RecordApp, KilledLiveRecordingKeepsEveryFrameWrittenBeforeTheKill)
{
    TempDir dir;
    const auto r =
        runAppSignalledAfter(kPlugins + "record Stream.CreateStreamIoFakeImage --live --out " + dir.str(),
                             "written", SIGKILL, 1.5);
    const std::regex written(R"((\d+) written)");
    long long lastPrinted = -1;
    for (auto it = std::sregex_iterator(r.output.begin(), r.output.end(), written);
         it != std::sregex_iterator(); ++it)
        lastPrinted = std::stoll((*it)[1]);
    ASSERT_GE(lastPrinted, 0) << "no progress line before the kill:\n" << r.output;
    const auto files = dir.files();
    ASSERT_EQ(files.size(), 1u);
    const std::string part = files[0].string();
    EXPECT_EQ(files[0].filename().string(), "recording_1.bin.part");  // never under the final name
    CorvexisImage::ReadInfo info;
    std::string error;
    auto set = CorvexisImage::load(part, &info, &error);
    ASSERT_TRUE(set) << error;
    EXPECT_FALSE(info.complete);
    EXPECT_EQ(info.damagedFrames, 0u);
    EXPECT_GE(static_cast<long long>(set->size()), lastPrinted);
    const auto described = runApp("info " + part);
    EXPECT_EQ(described.code, 0) << described.output;
    EXPECT_NE(described.output.find(std::to_string(set->size())), std::string::npos) << described.output;
}

TEST(RecordApp, ExampleWorkspaceRecordsTrackedFramesForFiveSeconds)
{
    TempDir dir;
    const auto r = runApp(kPlugins + "workspace " CORVEXIS_SOURCE_DIR "/examples/record-simulated.workspace",
                          90, "env -C " + dir.str() + " ");
    ASSERT_EQ(r.code, 0) << r.output;
    const auto file = dir.path / "recordings" / "sim_1.cvx";
    CorvexisFile reader;
    auto items = reader.load(file.string());
    ASSERT_TRUE(items) << reader.lastError() << "\n" << r.output;
    ASSERT_EQ(items->size(), 1u);
    auto* tracked = dynamic_cast<TrackedSharedImageSet*>((*items)[0]);
    ASSERT_NE(tracked, nullptr);
    EXPECT_GE(tracked->size(), 100);  // 150 at 30 frames per second
    EXPECT_LE(tracked->size(), 160);
    ASSERT_EQ(tracked->numTracking(), 1);
    EXPECT_GE(tracked->tracking()->size(), 100);
    EXPECT_LE(tracked->tracking()->size(), 160);
    const auto info = runApp("info " + file.string());
    EXPECT_EQ(info.code, 0) << info.output;
}

}  // namespace
}  // namespace Corvexis
