// End to end, as a user would: 'corvexis record' makes a file, 'corvexis play' plays the file it
// printed, and the summaries show every recorded frame and sample at the recorded rate.

#include <gtest/gtest.h>

#include <filesystem>
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

const std::string kPlugins = "--log-level 3 --plugins " CORVEXIS_STREAM_PLUGIN_DIR " ";

class RecordPlayApp : public ::testing::Test
{
protected:
    void SetUp() override
    {
        dir_ =
            std::filesystem::temp_directory_path() / ("corvexis-record-play-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    // Runs 'corvexis record' with `sources` for two seconds and returns the saved file it printed with
    // the given extension.
    std::string record(const std::string& sources, const std::string& extension = "cvx")
    {
        const auto run =
            runApp(kPlugins + "record " + sources + " --out " + dir_.string() + " --seconds 2", 90);
        EXPECT_EQ(run.code, 0) << run.output;
        std::smatch m;
        const std::regex saved(R"(Saved (\S+\.)" + extension + ")");
        if (!std::regex_search(run.output, m, saved)) {
            ADD_FAILURE() << "no saved file printed\n" << run.output;
            return {};
        }
        return m[1];
    }

    std::filesystem::path dir_;
};

struct Summary
{
    int records = -1;
    double hz = -1.0;
};

// The summary line of the stream named `name`.
Summary summaryOf(const std::string& output, const std::string& name)
{
    std::smatch m;
    const std::regex pattern("Summary " + name + R"(: ([0-9]+) records, ([0-9.]+) Hz measured)");
    if (!std::regex_search(output, m, pattern))
        return {};
    return {std::stoi(m[1]), std::stod(m[2])};
}

// Frames per second between the first and the last recorded time.
double recordedRate(const std::vector<double>& timesSec)
{
    if (timesSec.size() < 2)
        return 0.0;
    return static_cast<double>(timesSec.size() - 1) / (timesSec.back() - timesSec.front());
}

TEST_F(RecordPlayApp, ARecordedImageStreamPlaysEveryFrameAtTheRecordedRate)
{
    const std::string file = record("Stream.CreateStreamIoFakeImage");
    ASSERT_NE(file, "");
    CorvexisFile reader;
    auto items = reader.load(file);
    ASSERT_TRUE(items) << reader.lastError();
    ASSERT_EQ(items->size(), 1u);
    auto* set = dynamic_cast<SharedImageSet*>((*items)[0]);
    ASSERT_NE(set, nullptr);
    ASSERT_GT(set->size(), 10);
    std::vector<double> times;
    for (int i = 0; i < set->size(); ++i)
        times.push_back(*set->timestamp(i) / 1000.0);

    const auto run = runApp(kPlugins + "play " + file, 90);
    ASSERT_EQ(run.code, 0) << run.output;
    // Played once, the run ends with the play-out, after the last frame, however slow the machine.
    EXPECT_NE(run.output.find("Every stream has ended"), std::string::npos) << run.output;
    const Summary played = summaryOf(run.output, "Fake Image Stream");
    EXPECT_EQ(played.records, set->size()) << run.output;
    EXPECT_NEAR(played.hz, recordedRate(times), 0.1 * recordedRate(times)) << run.output;
}

TEST_F(RecordPlayApp, RecordedImagesAndTrackingPlayWithTheirTracking)
{
    const std::string file = record(
        "Stream.CreateStreamIoFakeImage Stream.CreateStreamIoFakeTracking --config " +
        std::string(CORVEXIS_SOURCE_DIR) + "/examples/fake-tracking.properties record.dataCombinationMode=2");
    ASSERT_NE(file, "");
    CorvexisFile reader;
    auto items = reader.load(file);
    ASSERT_TRUE(items) << reader.lastError();
    ASSERT_EQ(items->size(), 2u);
    auto* tracked = dynamic_cast<TrackedSharedImageSet*>((*items)[0]);
    auto* sequence = dynamic_cast<TrackingSequence*>((*items)[1]);
    ASSERT_TRUE(tracked && sequence);
    ASSERT_GT(tracked->size(), 10);

    const auto run = runApp(kPlugins + "play " + file, 90);
    ASSERT_EQ(run.code, 0) << run.output;
    // The tracked set plays its images and, one to one, its tracking; the other instrument on its own.
    EXPECT_EQ(summaryOf(run.output, "Fake Image Stream").records, tracked->size()) << run.output;
    EXPECT_EQ(summaryOf(run.output, "Fake Image Stream tracking").records, tracked->size()) << run.output;
    EXPECT_EQ(summaryOf(run.output, "Fake Tracking Stream recording Probe").records, sequence->size())
        << run.output;
    const double rate = recordedRate(sequence->timestamps().value_or(std::vector<double>{}));
    EXPECT_NEAR(summaryOf(run.output, "Fake Tracking Stream recording Probe").hz, rate, 0.1 * rate)
        << run.output;
}

// A live recording keeps the frames in the .bin and the tracking in the .cvx beside it; playing the .bin
// plays both.
TEST_F(RecordPlayApp, ALiveRecordingPlaysItsFramesWithTheTrackingBesideThem)
{
    const std::string bin =
        record("Stream.CreateStreamIoFakeImage Stream.CreateStreamIoFakeTracking --live --config " +
                   std::string(CORVEXIS_SOURCE_DIR) + "/examples/fake-tracking.properties",
               "bin");
    ASSERT_NE(bin, "");
    auto frames = CorvexisImage::load(bin);
    ASSERT_TRUE(frames);
    CorvexisFile reader;
    auto items = reader.load(bin.substr(0, bin.size() - 4) + ".cvx");
    ASSERT_TRUE(items) << reader.lastError();
    ASSERT_EQ(items->size(), 2u);  // one sequence per instrument
    auto* pointer = dynamic_cast<TrackingSequence*>((*items)[0]);
    auto* probe = dynamic_cast<TrackingSequence*>((*items)[1]);
    ASSERT_TRUE(pointer && probe);

    const auto run = runApp(kPlugins + "play " + bin, 90);
    ASSERT_EQ(run.code, 0) << run.output;
    EXPECT_NE(run.output.find("Playing the tracking of"), std::string::npos) << run.output;
    EXPECT_EQ(summaryOf(run.output, "Fake Image Stream").records, frames->size()) << run.output;
    EXPECT_EQ(summaryOf(run.output, "Fake Tracking Stream recording Pointer").records, pointer->size())
        << run.output;
    EXPECT_EQ(summaryOf(run.output, "Fake Tracking Stream recording Probe").records, probe->size())
        << run.output;
}

}  // namespace
}  // namespace Corvexis
