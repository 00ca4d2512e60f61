// End-to-end tests of the built host application. Every run is bounded by timeout(1), so a hang fails
// the test instead of blocking the suite.

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>

#include <gtest/gtest.h>

namespace Corvexis {
namespace {

struct Result
{
    int code = -1;
    std::string output;  // stdout and stderr together
};

// Runs the binary with `arguments` (shell words) under an outer time limit of `limitS` seconds.
Result runApp(const std::string& arguments, int limitS = 60, const std::string& prefix = "")
{
    const std::string command = "env -u CORVEXIS_PLUGIN_PATH timeout -k 5 " + std::to_string(limitS) + " " + prefix +
                                CORVEXIS_APP_BINARY " " + arguments + " 2>&1";
    Result result;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return result;
    char buffer[4096];
    size_t n = 0;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        result.output.append(buffer, n);
    const int status = pclose(pipe);
    result.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

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
        : path_(std::filesystem::temp_directory_path() /
                ("corvexis-app-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter_++) + ".txt"))
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
    const auto r = runApp("--log-level 3 list", 60,
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
    EXPECT_TRUE(std::regex_search(r.output, std::regex("periodMs +an integer.*, default \"10\""))) << r.output;
    EXPECT_TRUE(std::regex_search(r.output, std::regex("failStart +true or false, default \"false\"")));
}

TEST(CorvexisAppTest, RunWatchesTheStreamAndSummarisesIt)
{
    const auto r = runApp(kBothPlugins + "run Test.CreateTicks periodMs=20 --seconds 1.5");
    ASSERT_EQ(r.code, 0) << r.output;
    EXPECT_NE(r.output.find("Ticks  Running  Running | "), std::string::npos) << r.output;
    EXPECT_GE(summaryRecords(r.output, "Ticks"), 2) << r.output;
    EXPECT_TRUE(std::regex_search(r.output, std::regex("first arrival 20[0-9-]+ [0-9:.]+ UTC, last arrival")));
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
    EXPECT_NE(r.output.find("corvexis: computing 'Test.Failing' failed with status 1 (Error)"), std::string::npos)
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

    const auto empty = std::filesystem::temp_directory_path() / ("corvexis-empty-" + std::to_string(::getpid()));
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

TEST(CorvexisAppTest, DemoRunsTheSimulatedImageAndTrackingStreamsSideBySide)
{
    const auto r = runApp("--log-level 3 demo");
    ASSERT_EQ(r.code, 0) << r.output;
    EXPECT_GT(summaryRecords(r.output, "Fake Image Stream"), 0) << r.output;
    EXPECT_GT(summaryRecords(r.output, "Fake Tracking Stream"), 0) << r.output;
    EXPECT_NE(r.output.find("2 instruments (2 active)"), std::string::npos) << r.output;
}

TEST(CorvexisAppTest, TrackingRunTakesTheShippedDevicesAndShowsTheMainInstrument)
{
    const auto r = runApp("--log-level 3 run Stream.CreateStreamIoFakeTracking --config " CORVEXIS_SOURCE_DIR
                          "/examples/fake-tracking.properties --seconds 2");
    ASSERT_EQ(r.code, 0) << r.output;
    // The first device of the file (an oscillating one named "Pointer") is the main instrument.
    const std::regex status(R"(Fake Tracking Stream  Running  2 instruments \(2 active\) .*\| main Pointer at \()"
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

}  // namespace
}  // namespace Corvexis
