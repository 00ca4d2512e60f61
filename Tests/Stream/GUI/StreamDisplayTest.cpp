#include "Stream/GUI/StreamDisplay.h"

#include <memory>

#include <gtest/gtest.h>

#include "Host/Core/Mesh.h"
#include "Host/Lib/DataDisplayHandlerFactory.h"
#include "Stream/Framework/PolyDataStreamData.h"
#include "Stream/Framework/TestStreams.h"
#include "Stream/GUI/PolyDataStreamDisplay.h"
#include "Stream/Simulated/FakeImageStream.h"
#include "Stream/Simulated/FakePolyDataStream.h"
#include "Stream/Simulated/FakeTrackingStream.h"
#include "Stream/StreamAlgorithmFactory.h"

namespace Corvexis {
namespace {

void emitAt(Stream& stream, std::uint64_t arrivalMs)
{
    auto record = std::make_shared<Corvexis::Test::PlainRecord>(&stream);
    record->setTimestampArrival(arrivalMs);
    stream.signalStreamData.emitSignal(record);
}

TEST(StreamDisplayTest, CountsOnlyTheWatchedWindowWithRateAndLongestGap)
{
    Corvexis::Test::ScriptedStream stream("Counted", Stream::ThreadingMode::WorkerThread);
    StreamDisplay display(stream);
    emitAt(stream, 500);  // before the window
    display.startWatching();
    for (std::uint64_t ms : {1000, 1040, 1500, 1530})
        emitAt(stream, ms);
    display.stopWatching();
    emitAt(stream, 9000);  // after it

    EXPECT_EQ(display.records(), 4u);
    EXPECT_EQ(display.firstArrivalMs(), 1000u);
    EXPECT_EQ(display.lastArrivalMs(), 1530u);
    EXPECT_EQ(display.longestGapMs(), 460u);
    EXPECT_DOUBLE_EQ(display.measuredRate(), 3 * 1000.0 / 530.0);
    const auto summary = display.summary();
    ASSERT_EQ(summary.size(), 1u);
    EXPECT_EQ(summary[0],
              "Summary Counted: 4 records, 5.7 Hz measured, first arrival 1970-01-01 00:00:01.000 UTC, last "
              "arrival "
              "1970-01-01 00:00:01.530 UTC, longest gap 460 ms");
    EXPECT_EQ(display.statusLine().rfind("Counted  Closed  ", 0), 0u) << display.statusLine();
}

TEST(StreamDisplayTest, RequestsReachTheStream)
{
    Corvexis::Test::ScriptedStream stream("Requested", Stream::ThreadingMode::WorkerThread);
    StreamDisplay display(stream);
    EXPECT_EQ(display.requests(),
              (std::vector<std::string>{"open", "start", "pause", "resume", "stop", "close"}));
    EXPECT_FALSE(display.isActive());
    EXPECT_TRUE(display.request("open"));
    EXPECT_EQ(stream.currentState(), Stream::State::Open);
    EXPECT_FALSE(display.isActive()) << "open, not producing";
    EXPECT_FALSE(display.request("fly"));
    // Active from start to stop: a run that ends with its streams relies on it.
    EXPECT_TRUE(display.request("start"));
    EXPECT_TRUE(display.isActive());
    EXPECT_TRUE(display.request("stop"));
    EXPECT_FALSE(display.isActive());
    EXPECT_TRUE(display.request("close"));
    EXPECT_EQ(stream.currentState(), Stream::State::Closed);
}

TEST(StreamDisplayTest, TimestampsAndFileNames)
{
    EXPECT_EQ(StreamDisplay::formatTimestamp(0), "-");
    EXPECT_EQ(StreamDisplay::formatTimestamp(1), "1970-01-01 00:00:00.001 UTC");
    EXPECT_EQ(StreamDisplay::formatTimestamp(1'796'543'999'999ull), "2026-12-06 07:59:59.999 UTC");
    EXPECT_EQ(StreamDisplay::fileNameOf("Fake Image Stream"), "Fake_Image_Stream");
    EXPECT_EQ(StreamDisplay::fileNameOf("../etc/x"), "_.._etc_x");
    EXPECT_EQ(StreamDisplay::fileNameOf(""), "_");
}

TEST(StreamDisplayTest, PolyDataSummaryGivesTheRangePerRecord)
{
    FakePolyDataStream stream;
    PolyDataStreamDisplay display(stream);
    display.startWatching();
    for (int meshes : {1, 2, 1}) {
        auto record = std::make_shared<PolyDataStreamData>(&stream);
        record->setMeshes(std::vector<std::shared_ptr<const Mesh>>(static_cast<size_t>(meshes),
                                                                   std::make_shared<const Mesh>()));
        record->setTimestampArrival(1000);
        stream.signalStreamData.emitSignal(record);
    }
    const auto summary = display.summary();
    ASSERT_EQ(summary.size(), 2u);
    EXPECT_EQ(summary[1], "  per record: meshes 1 to 2, point clouds 0");
    EXPECT_NE(display.statusLine().find("| meshes 1, point clouds 0"), std::string::npos)
        << display.statusLine();
}

// The plug-in's factory registers the three handlers by name and removes them with itself; each kind of
// stream goes to its own handler, other data to none.
TEST(StreamDisplayTest, TheFactoryRegistersOneHandlerPerKindOfStream)
{
    auto& registry = DataDisplayHandlerFactory::get();
    {
        StreamAlgorithmFactory factory;
        EXPECT_EQ(registry.names(), (std::vector<std::string>{"Corvexis.ImageStreamDisplayHandler",
                                                              "Corvexis.TrackingStreamDisplayHandler",
                                                              "Corvexis.PolyDataDisplayHandler"}));
        FakeImageStream image(4, 4, 1, 1);
        FakeTrackingStream tracking;
        FakePolyDataStream poly;
        EXPECT_EQ(registry.createDisplay(image).second, "Corvexis.ImageStreamDisplayHandler");
        EXPECT_EQ(registry.createDisplay(tracking).second, "Corvexis.TrackingStreamDisplayHandler");
        EXPECT_EQ(registry.createDisplay(poly).second, "Corvexis.PolyDataDisplayHandler");
        auto [display, name] = registry.createDisplay(tracking);
        ASSERT_TRUE(display);
        EXPECT_EQ(&display->data(), &tracking);
    }
    EXPECT_TRUE(registry.names().empty());
}

}  // namespace
}  // namespace Corvexis
