#include "Stream/Framework/TrackingStreamData.h"

#include <gtest/gtest.h>

#include "Host/Core/Log.h"
#include "Stream/Framework/TrackingStream.h"
#include "TestStreams.h"

namespace Corvexis {
namespace {

constexpr const char* kMismatch = "Number of instruments does not match the number of instruments of the TrackingStream";

class CountedStream : public TrackingStream
{
public:
    explicit CountedStream(int count) : TrackingStream("counted")
    {
        for (int i = 0; i < count; ++i)
            registry().create(TrackerID("s" + std::to_string(i)), true);
    }
    ~CountedStream() override { close(); }

protected:
    bool openImpl() override { return true; }
    bool closeImpl() override { return true; }
    bool startImpl() override { return true; }
    bool stopImpl() override { return true; }
    std::optional<WorkContinuation> doWork() override { return WorkContinuation{}; }
};

std::vector<TrackingInstrument> instruments(int n, std::uint64_t firstTimestamp)
{
    std::vector<TrackingInstrument> result;
    for (int i = 0; i < n; ++i) {
        result.emplace_back(TrackerID("i" + std::to_string(i)));
        result.back().timestamp = i == 0 ? firstTimestamp : 0;
    }
    return result;
}

TEST(TrackingStreamData, InstrumentCountMismatchWithItsStreamIsOnlyAWarning)
{
    Log::ScopedCapture capture;
    CountedStream stream(3);
    const TrackingStreamData two(&stream, instruments(2, 77));
    EXPECT_EQ(capture.sink().count(Log::Level::Warning, "TrackingStreamData", kMismatch), 1u);
    EXPECT_EQ(two.instruments().size(), 2u);
    EXPECT_EQ(two.timestampDevice(), 77u);
    EXPECT_EQ(two.trackingStream(), &stream);

    capture.sink().clear();
    const TrackingStreamData three(&stream, instruments(3, 1));
    EXPECT_EQ(capture.sink().count(Log::Level::Warning, "TrackingStreamData", kMismatch), 0u);
}

TEST(TrackingStreamData, NoWarningWithoutATrackingStreamOrWithAnEmptyOne)
{
    Log::ScopedCapture capture;
    Corvexis::Test::ScriptedStream other("images", Stream::ThreadingMode::NoWorkerThread);
    const TrackingStreamData fromOther(&other, instruments(2, 0));
    EXPECT_EQ(fromOther.trackingStream(), nullptr);
    const TrackingStreamData orphan(nullptr, instruments(2, 0));
    EXPECT_EQ(orphan.trackingStream(), nullptr);
    CountedStream empty(0);
    const TrackingStreamData fromEmpty(&empty, instruments(2, 0));
    EXPECT_EQ(fromEmpty.trackingStream(), &empty);
    EXPECT_EQ(capture.sink().count(Log::Level::Warning, "TrackingStreamData", kMismatch), 0u);

    CountedStream three(3);
    const TrackingStreamData none(&three, {});
    EXPECT_EQ(none.timestampDevice(), 0u);
    EXPECT_EQ(capture.sink().count(Log::Level::Warning, "TrackingStreamData", kMismatch), 1u);
}

}  // namespace
}  // namespace Corvexis
