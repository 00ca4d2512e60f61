#include "Stream/Framework/OutStream.h"

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <set>
#include <vector>

#include "Host/Core/Log.h"
#include "Stream/Framework/ImageOutStream.h"
#include "Stream/Framework/PolyDataOutStream.h"
#include "Stream/Framework/TrackingOutStream.h"
#include "TestConnections.h"
#include "TestStreams.h"

namespace Corvexis {
namespace {

using Test::RecordingConnection;

class OutStreamTest : public ::testing::Test
{
protected:
    Corvexis::Test::PlainRecord recordAt(std::uint64_t ms)
    {
        Corvexis::Test::PlainRecord record(&source);
        record.setTimestampArrival(ms);
        return record;
    }

    Corvexis::Test::ScriptedStream source{"source",
                                          Stream::ThreadingMode::NoWorkerThread};  // an image stream
};

TEST_F(OutStreamTest, SendsOnlyWhileRunning)
{
    RecordingConnection connection({Data::Kind::ImageStream});
    ImageOutStream out(connection, "out");

    out.sendStreamData(recordAt(1));  // Closed
    ASSERT_TRUE(out.open());
    out.sendStreamData(recordAt(2));  // Open
    ASSERT_TRUE(out.start());
    out.sendStreamData(recordAt(3));  // Running
    ASSERT_TRUE(out.stop());
    out.sendStreamData(recordAt(4));  // Open again
    ASSERT_TRUE(out.start());
    out.sendStreamData(recordAt(5));
    ASSERT_TRUE(out.close());
    out.sendStreamData(recordAt(6));

    EXPECT_EQ(connection.sent(), (std::vector<std::uint64_t>{3, 5}));
}

TEST_F(OutStreamTest, IncompatibleOrAnonymousRecordsAreDroppedWithDebugMessage)
{
    RecordingConnection connection({Data::Kind::TrackingStream});
    TrackingOutStream out(connection, "igtl out");
    ASSERT_TRUE(out.start());

    Log::ScopedCapture capture;
    out.sendStreamData(recordAt(1));  // produced by an image stream
    Corvexis::Test::PlainRecord orphan(nullptr);
    out.sendStreamData(orphan);

    EXPECT_TRUE(connection.sent().empty());
    EXPECT_EQ(capture->count(Log::Level::Debug, "Stream",
                             "OutputConnection does not support igtl out's StreamData kind."),
              2u);
}

TEST_F(OutStreamTest, KindsAndLifecycleOfTheConcreteOutStreams)
{
    RecordingConnection connection({});
    Log::ScopedCapture capture;
    {
        ImageOutStream image(connection, "image");
        TrackingOutStream tracking(connection, "tracking");
        PolyDataOutStream polyData(connection, "poly");
        EXPECT_EQ(static_cast<int>(image.kind()), 5);
        EXPECT_EQ(static_cast<int>(tracking.kind()), 9);
        EXPECT_EQ(static_cast<int>(polyData.kind()), 13);
        EXPECT_EQ(&image.connection(), &connection);

        // Hooks succeed; doWork answers "never again", so the stream stays Running, idle.
        ASSERT_TRUE(image.start());
        ASSERT_TRUE(tracking.open());
        EXPECT_EQ(image.currentState(), Stream::State::Running);
        EXPECT_FALSE(image.pause());  // no pausing
        EXPECT_EQ(image.currentState(), Stream::State::Running);
    }
    // Destroyed while Running and Open: their destructors closed them, so the base did not complain.
    for (const auto& record : capture->records())
        EXPECT_NE(record.level, Log::Level::Error) << record.text;
}

}  // namespace
}  // namespace Corvexis
