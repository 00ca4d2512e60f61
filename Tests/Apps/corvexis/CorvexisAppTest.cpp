// End-to-end tests of the built host application. Every run is bounded by timeout(1), so a hang fails
// the test instead of blocking the suite.

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Apps/corvexis/AppRunner.h"

namespace Corvexis {
namespace {

using AppTest::Result;
using AppTest::runApp;

const std::string kBothPlugins =
    "--log-level 3 --plugins " CORVEXIS_STREAM_PLUGIN_DIR " --plugins " CORVEXIS_TEST_PLUGIN_DIR " ";

int summaryRecords(const std::string& output, const std::string& stream)
{
    std::smatch match;
    const std::regex pattern("Summary " + stream + ": ([0-9]+) records");
    return std::regex_search(output, match, pattern) ? std::stoi(match[1]) : -1;
}

class TempFile
{
public:
    explicit TempFile(const std::string& text)
        : path_(std::filesystem::temp_directory_path() / ("corvexis-app-test-" + std::to_string(::getpid()) +
                                                          "-" + std::to_string(counter_++) + ".txt"))
    {
        std::ofstream(path_) << text;
    }
    ~TempFile() { std::filesystem::remove(path_); }
    std::string path() const { return path_.string(); }

private:
    static inline int counter_ = 0;
    std::filesystem::path path_;
};

TEST(CorvexisAppTest, ListShowsEveryAlgorithmSortedAndTheControllerEntries)
{
    const auto r = runApp(kBothPlugins + "list");
    ASSERT_EQ(r.code, 0) << r.output;
    EXPECT_NE(r.output.find("Test.CreateTicks"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("\"Testing;Ticks Stream\""), std::string::npos);
    EXPECT_LT(r.output.find("Test.CreateTicks"), r.output.find("Test.Failing"));
    for (const char* entry : {"Stream;Stream Controls", "Stream;Attach Spacing Information",
                              "Stream;Remote Video Stream", "Streaming;Vitals Data Component"})
        EXPECT_NE(r.output.find(std::string("\"") + entry + "\""), std::string::npos) << entry;
}

TEST(CorvexisAppTest, DefaultPluginDirectoryIsNextToTheBinary)
{
    const auto r = runApp("--log-level 3 list");
    ASSERT_EQ(r.code, 0) << r.output;
    EXPECT_NE(r.output.find("Stream;Stream Controls"), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("Test.CreateTicks"), std::string::npos);
}

TEST(CorvexisAppTest, PluginPathFromTheEnvironment)
{
    const auto r =
        runApp("--log-level 3 list", 60,
               "env CORVEXIS_PLUGIN_PATH=" CORVEXIS_STREAM_PLUGIN_DIR ":" CORVEXIS_TEST_PLUGIN_DIR " ");
    ASSERT_EQ(r.code, 0) << r.output;
    EXPECT_NE(r.output.find("Test.CreateTicks"), std::string::npos) << r.output;
}

TEST(CorvexisAppTest, ShowListsKeysOfTheAlgorithmAndOfItsStream)
{
    const auto r = runApp(kBothPlugins + "show Test.CreateTicks");
    ASSERT_EQ(r.code, 0) << r.output;
    EXPECT_NE(r.output.find("\"Testing;Ticks Stream\""), std::string::npos) << r.output;
    EXPECT_TRUE(std::regex_search(r.output, std::regex("open +true or false, default \"true\"")));
    EXPECT_TRUE(std::regex_search(r.output, std::regex("start +true or false, default \"true\"")));
    EXPECT_TRUE(std::regex_search(r.output, std::regex("periodMs +an integer.*, default \"10\"")))
        << r.output;
    EXPECT_TRUE(std::regex_search(r.output, std::regex("failStart +true or false, default \"false\"")));
}

TEST(CorvexisAppTest, RunWatchesTheStreamAndSummarisesIt)
{
    const auto r = runApp(kBothPlugins + "run Test.CreateTicks periodMs=20 --seconds 1.5");
    ASSERT_EQ(r.code, 0) << r.output;
    EXPECT_NE(r.output.find("Ticks  Running  Running | "), std::string::npos) << r.output;
    EXPECT_GE(summaryRecords(r.output, "Ticks"), 2) << r.output;
    EXPECT_TRUE(
        std::regex_search(r.output, std::regex("first arrival 20[0-9-]+ [0-9:.]+ UTC, last arrival")));
}

TEST(CorvexisAppTest, ConfigFileIsReadAndSettingsOverrideIt)
{
    TempFile config("Settings {\n  start = false\n  periodMs = 5\n}\n");
    auto r = runApp(kBothPlugins + "run Test.CreateTicks --seconds 0 --config " + config.path());
    ASSERT_EQ(r.code, 0) << r.output;
    EXPECT_EQ(summaryRecords(r.output, "Ticks"), 0) << r.output;

    r = runApp(kBothPlugins + "run Test.CreateTicks start=true --seconds 1.2 --config " + config.path());
    ASSERT_EQ(r.code, 0) << r.output;
    EXPECT_GE(summaryRecords(r.output, "Ticks"), 1) << r.output;
}

TEST(CorvexisAppTest, StreamActionsRunAfterCompute)
{
    const auto r = runApp(kBothPlugins + "run Test.CreateTicks --seconds 1.2 --action stop");
    ASSERT_EQ(r.code, 0) << r.output;
    EXPECT_NE(r.output.find("Action stop: done"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("Ticks  Open  Open | "), std::string::npos) << r.output;
}

TEST(CorvexisAppTest, InterruptClosesStreamsAndExitsCleanly)
{
    const auto r = runApp(kBothPlugins + "run Test.CreateTicks", 60, "timeout --preserve-status -s INT 1.5 ");
    ASSERT_EQ(r.code, 0) << r.output;
    EXPECT_NE(r.output.find("Interrupted; closing streams"), std::string::npos) << r.output;
    EXPECT_GE(summaryRecords(r.output, "Ticks"), 1) << r.output;
}

TEST(CorvexisAppTest, ErrorsGiveOneLineAndNonZeroExit)
{
    auto r = runApp(kBothPlugins + "run Test.CreateTick");
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.output.find("corvexis: unknown algorithm 'Test.CreateTick'; did you mean 'Test.CreateTicks'"),
              std::string::npos)
        << r.output;

    r = runApp(kBothPlugins + "run Test.Failing");
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.output.find("corvexis: Test.Failing failed with status 1 (Error)"), std::string::npos)
        << r.output;

    TempFile broken("Settings {\n  start = false\n  periodMs 5\n}\n");
    r = runApp(kBothPlugins + "run Test.CreateTicks --config " + broken.path());
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.output.find("corvexis: cannot read the configuration " + broken.path() + ": line 3"),
              std::string::npos)
        << r.output;

    r = runApp(kBothPlugins + "run Test.CreateTicks fps");
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.output.find("corvexis: malformed setting 'fps'"), std::string::npos) << r.output;

    r = runApp(kBothPlugins + "run Test.CreateTicks failStart=true");
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.output.find("failed with status 1"), std::string::npos) << r.output;
    EXPECT_EQ(summaryRecords(r.output, "Ticks"), -1);

    r = runApp(kBothPlugins + "run Test.CreateTicks --seconds 0 --action fly");
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.output.find("corvexis: unknown action 'fly' (available: "), std::string::npos) << r.output;

    const auto empty =
        std::filesystem::temp_directory_path() / ("corvexis-empty-" + std::to_string(::getpid()));
    std::filesystem::create_directories(empty);
    r = runApp("--plugins " + empty.string() + " list");
    std::filesystem::remove(empty);
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.output.find("corvexis: no plug-in found (looked in " + empty.string()), std::string::npos)
        << r.output;
}

TEST(CorvexisAppTest, BrokenPluginsAreReportedAndTheOthersStillLoad)
{
    const auto r = runApp(kBothPlugins + "--plugins " CORVEXIS_BROKEN_PLUGIN_DIR " list");
    ASSERT_EQ(r.code, 0) << r.output;
    EXPECT_NE(r.output.find("Test.CreateTicks"), std::string::npos);
    EXPECT_NE(r.output.find("libWrongVersionPlugin.so: descriptor field 'hostversion' is '4.4.0', the host "
                            "expects '4.5.0'"),
              std::string::npos)
        << r.output;
    EXPECT_NE(r.output.find("init failed on purpose"), std::string::npos);
    EXPECT_EQ(r.output.find("Throwing.Never"), std::string::npos);
}

TEST(CorvexisAppTest, DemoRunsTheShippedWorkspace)
{
    const auto r = runApp("--log-level 3 demo --seconds 1.5");
    ASSERT_EQ(r.code, 0) << r.output;
    EXPECT_GT(summaryRecords(r.output, "Fake Image Stream"), 0) << r.output;
    EXPECT_GT(summaryRecords(r.output, "Fake Tracking Stream"), 0) << r.output;
    EXPECT_GT(summaryRecords(r.output, "Fake PolyData Stream"), 0) << r.output;
    EXPECT_NE(r.output.find("2 instruments (2 active)"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("At 1 s: Action addMesh on poly: done"), std::string::npos) << r.output;
}

TEST(CorvexisAppTest, TrackingRunTakesTheShippedDevicesAndShowsTheMainInstrument)
{
    const auto r = runApp("--log-level 3 run Stream.CreateStreamIoFakeTracking --config " CORVEXIS_SOURCE_DIR
                          "/examples/fake-tracking.properties --seconds 2");
    ASSERT_EQ(r.code, 0) << r.output;
    // The first device of the file (an oscillating one named "Pointer") is the main instrument.
    const std::regex status(
        R"(Fake Tracking Stream  Running  2 instruments \(2 active\) .*\| main Pointer at \()"
        R"(-?[0-9.]+, -?[0-9.]+, -?[0-9.]+\) mm, quality [0-9.]+)");
    EXPECT_TRUE(std::regex_search(r.output, status)) << r.output;
    EXPECT_GT(summaryRecords(r.output, "Fake Tracking Stream"), 0) << r.output;
}

TEST(CorvexisAppTest, PolyDataRunCarriesOneMeshPerRecordAndTakesTheStreamActions)
{
    auto r = runApp("--log-level 3 run Stream.CreateStreamIoFakePolyData --seconds 3");
    ASSERT_EQ(r.code, 0) << r.output;
    // One record per second at the default rate; the first may come before the watch starts.
    const int records = summaryRecords(r.output, "Fake PolyData Stream");
    EXPECT_GE(records, 2) << r.output;
    EXPECT_LE(records, 4) << r.output;
    EXPECT_NE(r.output.find("\n  per record: meshes 1, point clouds 0\n"), std::string::npos) << r.output;
    EXPECT_TRUE(std::regex_search(r.output, std::regex("Fake PolyData Stream  Running  .*\\| meshes 1, point "
                                                       "clouds 0")))
        << r.output;

    r = runApp("--log-level 2 run Stream.CreateStreamIoFakePolyData fps=4 --seconds 1.5 --action addMesh");
    ASSERT_EQ(r.code, 0) << r.output;
    EXPECT_NE(r.output.find("Action addMesh: done"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("FakePolyDataStreamIoAlgorithm addMesh(), number of meshes: 2"),
              std::string::npos)
        << r.output;
    // The action ran before watching began, so the status line's newest record has both meshes (a record
    // built just before the action may still arrive in the window).
    EXPECT_NE(r.output.find("| meshes 2, point clouds 0"), std::string::npos) << r.output;
    EXPECT_TRUE(std::regex_search(r.output, std::regex("per record: meshes (1 to )?2, point clouds 0")))
        << r.output;

    r = runApp("--log-level 3 show Stream.CreateStreamIoFakePolyData");
    ASSERT_EQ(r.code, 0) << r.output;
    EXPECT_NE(r.output.find("\"IO;Streaming;Fake PolyData Stream\""), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("addPointCloud  (Add point cloud)"), std::string::npos) << r.output;
    EXPECT_TRUE(
        std::regex_search(r.output, std::regex("isMoving +true or false, default \"true\"  \\(Is Moving\\)")))
        << r.output;
}

// The first line of the output, which is where a refused setting must be reported.
std::string firstLine(const std::string& output)
{
    return output.substr(0, output.find('\n'));
}

TEST(CorvexisAppTest, RefusedSettingsStopTheRunBeforeAnythingStarts)
{
    struct Case
    {
        std::string setting;
        std::string expected;
    };
    const std::vector<Case> cases{
        {"fps=abc", "corvexis: setting fps=abc not accepted: expected a number from 0.1 to 1000"},
        {"fps=0", "corvexis: setting fps=0 not accepted: expected a number from 0.1 to 1000"},
        {"fps=-5", "corvexis: setting fps=-5 not accepted: expected a number from 0.1 to 1000"},
        {"width=-5", "corvexis: setting width=-5 not accepted: expected an integer of at least 1"},
        {"nosuchkey=3", "corvexis: unknown setting 'nosuchkey'"},
        {"fsp=3", "corvexis: unknown setting 'fsp'; did you mean 'fps'"},
    };
    for (const auto& c : cases) {
        const auto r =
            runApp("--log-level 3 run Stream.CreateStreamIoFakeImage " + c.setting + " --seconds 1");
        EXPECT_EQ(r.code, 1) << c.setting << "\n" << r.output;
        EXPECT_EQ(firstLine(r.output).rfind(c.expected, 0), 0u) << c.setting << "\n" << r.output;
        EXPECT_EQ(r.output.find("Computed"), std::string::npos) << r.output;
    }
}

TEST(CorvexisAppTest, ASettingChangesOnlyItsKey)
{
    const auto r = runApp("--log-level 3 run Stream.CreateStreamIoFakeImage fps=60 --seconds 1.1");
    ASSERT_EQ(r.code, 0) << r.output;
    EXPECT_NE(r.output.find("Fake Image Stream  Running  Image with resolution 100 x 100,"),
              std::string::npos)
        << r.output;
    // About 60 records in the second; far more than the default rate gives.
    EXPECT_GT(summaryRecords(r.output, "Fake Image Stream"), 40) << r.output;
}

TEST(CorvexisAppTest, ATrackingStreamWithoutInstrumentsSaysHowToAddThem)
{
    auto r = runApp("--log-level 3 run Stream.CreateStreamIoFakeTracking --seconds 1.1");
    ASSERT_EQ(r.code, 0) << r.output;
    EXPECT_NE(r.output.find("| no instruments: add one with --action addOscillatingDevice"),
              std::string::npos)
        << r.output;

    r = runApp("--log-level 3 show Stream.CreateStreamIoFakeTracking");
    ASSERT_EQ(r.code, 0) << r.output;
    EXPECT_TRUE(std::regex_search(r.output, std::regex(R"(Devices \{ \.\.\. \}  a list of blocks)")))
        << r.output;
    EXPECT_TRUE(std::regex_search(r.output, std::regex(R"(\n +minimumQuality +a number, default "0")")))
        << r.output;
}

TEST(CorvexisAppTest, ShowListsSettingsThatAreNotParametersWithLimits)
{
    const auto r = runApp("--log-level 3 show Stream.CreateStreamIoFakeImage");
    ASSERT_EQ(r.code, 0) << r.output;
    EXPECT_TRUE(
        std::regex_search(r.output, std::regex(R"(\n  fps +a number from 0\.1 to 1000, default "30")")))
        << r.output;
    EXPECT_TRUE(std::regex_search(
        r.output,
        std::regex(
            R"(\n  descriptor \{ \.\.\. \}\n(    .*\n)*    width +an integer of at least 1, default "100")")))
        << r.output;
    EXPECT_TRUE(
        std::regex_search(r.output, std::regex(R"(numImages +an integer of at least 0, default "1")")));
    EXPECT_TRUE(std::regex_search(
        r.output,
        std::regex(
            R"(emittedImageRepresentation +one of 0 \(MemImage\), 1 \(GlImage\), 2 \(MemImage \+ GlImage\))")));
    EXPECT_TRUE(std::regex_search(r.output, std::regex(R"(emitVitalsData +true or false, default "false")")));
}

// Every call the host makes reaches the test plug-in's probe, which prints it: configuration before
// compute, inputs in the order given, the timeline in time order.
TEST(CorvexisAppTest, WorkspaceStepsAndTimelineRunInOrder)
{
    TempFile workspace(R"(Workspace {
    seconds = 1.5
    Step {
        algorithm = Test.CreateTicks
        outputs = ticks
        Configuration {
            periodMs = 20
        }
    }
    Step {
        name = pattern
        algorithm = Test.CreatePattern
    }
    Step {
        name = probe
        algorithm = Test.Probe
        inputs = "pattern ticks"
        Configuration {
            label = three
            count = 4
        }
    }
    Timeline {
        Action {
            at = 0.9
            compute = probe
        }
        Action {
            at = 0.3
            action = poke
            step = probe
        }
        Action {
            at = 0.6
            request = stop
            output = ticks
        }
        Action {
            at = 1.2
            save = pattern
            file = pattern.cvx
        }
    }
}
)");
    const auto r = runApp(kBothPlugins + "workspace " + workspace.path());
    // A live stream cannot be saved as a file: the action fails, so the run does.
    EXPECT_EQ(r.code, 1) << r.output;
    const std::vector<std::string> expected{
        "Computed step 'step1' (Test.CreateTicks): 1 output item(s)\n  ticks = Ticks (Image Stream)",
        "Computed step 'pattern' (Test.CreatePattern): 1 output item(s)\n  pattern = Pattern (Image Stream)",
        "probe three: configure count=4\nprobe three: compute with inputs [Pattern,Ticks]",
        "probe three: poke",
        "At 0.3 s: Action poke on probe: done",
        "At 0.6 s: Action stop ticks: done",
        "probe three: compute with inputs [Pattern,Ticks]\nAt 0.9 s: Action compute probe: done",
        "Ticks  Open  Open",
        "At 1.2 s: Action save pattern to pattern.cvx: failed (",
        "Summary Ticks: ",
    };
    size_t at = 0;
    for (const auto& e : expected) {
        const size_t found = r.output.find(e, at);
        ASSERT_NE(found, std::string::npos) << "missing after offset " << at << ": " << e << "\n" << r.output;
        at = found + e.size();
    }
    // The probe was configured once, on top of its defaults.
    EXPECT_EQ(r.output.find("configure", r.output.find("configure count=4") + 1), std::string::npos)
        << r.output;
}

TEST(CorvexisAppTest, WorkspaceErrorsNameTheLineAndStartNothing)
{
    struct Case
    {
        std::string body;
        std::string expected;  // after "corvexis: <path>:"
    };
    const std::vector<Case> cases{
        {"    Step {\n        algorithm = Stream.CreateStreamIoFakeImag\n    }\n",
         "3: unknown algorithm 'Stream.CreateStreamIoFakeImag'; did you mean "
         "'Stream.CreateStreamIoFakeImage'"},
        {"    Step {\n        algorithm = Stream.CreateStreamIoFakeImage\n        Configuration {\n"
         "            fps = 0\n        }\n    }\n",
         "5: setting fps=0 not accepted: expected a number from 0.1 to 1000"},
        {"    Step {\n        name = a\n        algorithm = Stream.CreateStreamIoFakePolyData\n    }\n"
         "    Timeline {\n        Action {\n            at = 1\n            action = addMeshes\n"
         "            step = a\n        }\n    }\n",
         "7: step 'a' (Stream.CreateStreamIoFakePolyData) has no action 'addMeshes'"},
        {"    Step {\n        algorithm = Stream.StreamForwarder\n    }\n",
         "2: 'Stream.StreamForwarder' needs input data; give the step 'inputs'"},
    };
    for (const auto& c : cases) {
        TempFile workspace("Workspace {\n" + c.body + "}\n");
        const auto r = runApp("--log-level 3 workspace " + workspace.path() + " --seconds 1");
        EXPECT_EQ(r.code, 1) << r.output;
        EXPECT_EQ(firstLine(r.output).rfind("corvexis: " + workspace.path() + ":" + c.expected, 0), 0u)
            << r.output;
        EXPECT_EQ(r.output.find("Computed"), std::string::npos) << r.output;
    }
}

TEST(CorvexisAppTest, AFailingStepIsNamedAndTheOthersAreClosed)
{
    TempFile workspace(
        "Workspace {\n  Step {\n    algorithm = Test.CreateTicks\n    outputs = ticks\n  }\n"
        "  Step {\n    name = broken\n    algorithm = Test.Failing\n  }\n}\n");
    const auto r = runApp(kBothPlugins + "workspace " + workspace.path() + " --seconds 1");
    EXPECT_EQ(r.code, 1) << r.output;
    EXPECT_NE(r.output.find("corvexis: " + workspace.path() +
                            ":6: step 'broken' (Test.Failing) failed with status 1"),
              std::string::npos)
        << r.output;
    EXPECT_EQ(r.output.find("Ticks  Running"), std::string::npos) << r.output;
}

struct Png
{
    int width = 0;
    int height = 0;
    int channels = 0;
    std::vector<int> samples;
};

// Decodes with the standard-library-only reader beside this test, not with the Qt code that wrote it.
std::optional<Png> decodePng(const std::string& path)
{
    const std::string command =
        "python3 " CORVEXIS_SOURCE_DIR "/Tests/Apps/corvexis/decode_png.py '" + path + "'";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return std::nullopt;
    std::string text;
    char buffer[4096];
    size_t n = 0;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        text.append(buffer, n);
    if (pclose(pipe) != 0)
        return std::nullopt;
    std::istringstream in(text);
    Png png;
    in >> png.width >> png.height >> png.channels;
    int v = 0;
    while (in >> v)
        png.samples.push_back(v);
    return png;
}

TEST(CorvexisAppTest, PauseAndResumeShowAGapAndSnapshotsDecodeToTheFramePixels)
{
    if (std::system("python3 -c 'import zlib' >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "python3 with zlib is needed to decode the snapshots independently";
    const auto directory =
        std::filesystem::temp_directory_path() / ("corvexis-snapshots-" + std::to_string(::getpid()));
    std::filesystem::remove_all(directory);
    TempFile workspace(R"(Workspace {
    seconds = 2.2
    Step {
        name = image
        algorithm = Stream.CreateStreamIoFakeImage
    }
    Step {
        name = pattern
        algorithm = Test.CreatePattern
        Configuration {
            channels = 3
        }
    }
    Step {
        name = tracking
        algorithm = Stream.CreateStreamIoFakeTracking
        Configuration {
            Devices {
                ConstantDevice {
                    name = Marker
                    center = "1 2 3"
                }
            }
        }
    }
    Timeline {
        Action {
            at = 0.5
            request = pause
            output = image
        }
        Action {
            at = 1.5
            request = resume
            output = image
        }
    }
}
)");
    const auto r =
        runApp(kBothPlugins + "workspace " + workspace.path() + " --snapshot " + directory.string());
    ASSERT_EQ(r.code, 0) << r.output;
    EXPECT_NE(r.output.find("Fake Image Stream  Paused"), std::string::npos) << r.output;
    std::smatch match;
    ASSERT_TRUE(std::regex_search(r.output, match,
                                  std::regex("Summary Fake Image Stream: .*longest gap ([0-9]+) ms")))
        << r.output;
    EXPECT_GE(std::stoi(match[1]), 800) << r.output;
    EXPECT_LE(std::stoi(match[1]), 1500) << r.output;

    const auto pattern = decodePng((directory / "Pattern.png").string());
    ASSERT_TRUE(pattern) << r.output;
    ASSERT_EQ(pattern->width, 7);
    ASSERT_EQ(pattern->height, 5);
    ASSERT_EQ(pattern->channels, 3);
    ASSERT_EQ(pattern->samples.size(), 7u * 5u * 3u);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 7; ++x)
            for (int c = 0; c < 3; ++c)
                ASSERT_EQ(pattern->samples[(y * 7 + x) * 3 + c], (37 * x + 11 * y + 80 * c) % 256)
                    << x << ", " << y << ", " << c;

    const auto image = decodePng((directory / "Fake_Image_Stream.png").string());
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width, 100);
    EXPECT_EQ(image->height, 100);
    EXPECT_EQ(image->channels, 1);

    std::ifstream tracking(directory / "Fake_Tracking_Stream.tracking.txt");
    std::stringstream text;
    text << tracking.rdbuf();
    EXPECT_NE(text.str().find("instrument faketrk-0 \"Marker\" active true quality 1.0000\n"
                              "  1.000000 0.000000 0.000000 1.000000\n"
                              "  0.000000 1.000000 0.000000 2.000000\n"
                              "  0.000000 0.000000 1.000000 3.000000\n"),
              std::string::npos)
        << text.str();
    std::filesystem::remove_all(directory);
}

}  // namespace
}  // namespace Corvexis
