#include "Stream/Framework/StreamRateWatch.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "Host/Core/Log.h"
#include "Stream/Framework/TestStreams.h"
#include "Support/TestUtil.h"

using namespace Corvexis;
namespace T = Corvexis::Test;
using namespace std::chrono_literals;
using Clock = StreamRateWatch::Clock;

namespace {

// Feeds records every `period` from `from` to `to`, evaluating after each.
Clock::time_point feed(StreamRateWatch& watch, Clock::time_point from, Clock::duration period,
                       Clock::duration length)
{
    Clock::time_point t = from;
    for (; t < from + length; t += period) {
        watch.noteRecord(t);
        watch.evaluate(t);
    }
    return t;
}

std::size_t behindWarnings(const Log::CaptureSink& sink)
{
    std::size_t n = 0;
    for (const auto& record : sink.records())
        if (record.level == Log::Level::Warning && record.text.find("falls behind") != std::string::npos)
            ++n;
    return n;
}

}  // namespace

TEST(StreamRateWatchTest, OnRateOrWithinTheToleranceIsNeverBehind)
{
    Log::ScopedCapture capture;
    StreamRateWatch watch;
    watch.setRequestedRate(30.0);
    const Clock::time_point t0{};
    watch.setRunning(true, t0);
    feed(watch, t0, 33333us, 5s);
    EXPECT_FALSE(watch.fallingBehind());
    EXPECT_NEAR(watch.measuredRate(), 30.0, 0.1);
    // 28 Hz is 6.7 % short: tolerated.
    StreamRateWatch slightlySlow;
    slightlySlow.setRequestedRate(30.0);
    slightlySlow.setRunning(true, t0);
    feed(slightlySlow, t0, 35714us, 5s);
    EXPECT_FALSE(slightlySlow.fallingBehind());
    EXPECT_EQ(behindWarnings(capture.sink()), 0u);
}

TEST(StreamRateWatchTest, BehindForLongerThanTheGraceWarnsOnceAndRecovers)
{
    Log::ScopedCapture capture;
    StreamRateWatch watch;
    watch.setRequestedRate(30.0);
    const Clock::time_point t0{};
    watch.setRunning(true, t0);
    watch.noteStep("doWork", 50ms);
    watch.noteStep("painting", 45ms);
    // 20 Hz: a third short. Judged from 1 s on, falling behind after 2 s more.
    Clock::time_point t = feed(watch, t0, 50ms, 2900ms);
    EXPECT_FALSE(watch.fallingBehind());
    t = feed(watch, t, 50ms, 300ms);
    EXPECT_TRUE(watch.fallingBehind());
    EXPECT_NEAR(watch.measuredRate(), 20.0, 0.5);
    t = feed(watch, t, 50ms, 5s);
    EXPECT_TRUE(watch.fallingBehind());
    ASSERT_EQ(behindWarnings(capture.sink()), 1u);
    EXPECT_TRUE(capture->containsFragment(Log::Level::Warning, "Stream",
                                          "asked for 30.0 Hz, measured 20.0 Hz for more than 2 s; slowest "
                                          "step: painting (45 ms)"));
    // Catching up clears the query but does not warn again in the same run.
    t = feed(watch, t, 33333us, 2s);
    EXPECT_FALSE(watch.fallingBehind());
    feed(watch, t, 50ms, 5s);
    EXPECT_TRUE(watch.fallingBehind());
    EXPECT_EQ(behindWarnings(capture.sink()), 1u);
}

TEST(StreamRateWatchTest, AStreamThatStopsEmittingIsJudgedToo)
{
    StreamRateWatch watch;
    watch.setRequestedRate(10.0);
    const Clock::time_point t0{};
    watch.setRunning(true, t0);
    Clock::time_point t = feed(watch, t0, 100ms, 2s);
    EXPECT_FALSE(watch.fallingBehind());
    // No records at all from here on; the worker still evaluates.
    for (int i = 0; i < 40; ++i)
        watch.evaluate(t + i * 100ms);
    EXPECT_TRUE(watch.fallingBehind());
}

TEST(StreamRateWatchTest, NothingIsJudgedWithoutARateOrOutsideARun)
{
    StreamRateWatch noRate;
    const Clock::time_point t0{};
    noRate.setRunning(true, t0);
    feed(noRate, t0, 1s, 10s);
    EXPECT_FALSE(noRate.fallingBehind());

    StreamRateWatch paused;
    paused.setRequestedRate(30.0);
    paused.setRunning(true, t0);
    Clock::time_point t = feed(paused, t0, 100ms, 5s);
    EXPECT_TRUE(paused.fallingBehind());
    paused.setRunning(false, t);
    EXPECT_FALSE(paused.fallingBehind());
    for (int i = 0; i < 50; ++i)
        paused.evaluate(t + i * 100ms);
    EXPECT_FALSE(paused.fallingBehind()) << "a paused stream is not behind";
    // A changed rate begins a new run: the slow rate now is what was asked.
    paused.setRequestedRate(10.0);
    paused.setRunning(true, t + 5s);
    feed(paused, t + 5s, 100ms, 5s);
    EXPECT_FALSE(paused.fallingBehind());
}

TEST(StreamRateWatchTest, SlowRatesAreJudgedOnTenRecords)
{
    // At 1 Hz the window is 10 s: one late record must not count as a 50 % drop.
    StreamRateWatch watch;
    watch.setRequestedRate(1.0);
    const Clock::time_point t0{};
    watch.setRunning(true, t0);
    Clock::time_point t = feed(watch, t0, 1s, 12s);
    t = feed(watch, t + 500ms, 1s, 4s);
    EXPECT_FALSE(watch.fallingBehind());
    EXPECT_GT(watch.measuredRate(), 0.9);
}

namespace {

// Asks for 50 Hz and takes 40 ms per cycle: 25 Hz at best.
class SleepyStream : public T::ScriptedStream
{
public:
    SleepyStream() : ScriptedStream("sleepy", ThreadingMode::WorkerThread)
    {
        continuation = [this](int) {
            setRequestedRate(50.0);
            std::this_thread::sleep_for(40ms);
            emitRecordAt(1);
            return std::optional<WorkContinuation>{WorkContinuation{}};
        };
    }
};

}  // namespace

// The whole path through a stream: its worker notes doWork, its records feed the watch, one warning.
TEST(StreamRateWatchTest, StreamSleepingInItsWorkCycleWarnsExactlyOnce)
{
    Log::ScopedCapture capture;
    SleepyStream s;
    ASSERT_TRUE(s.start());
    ASSERT_TRUE(T::waitUntil([&] { return s.fallingBehind(); }, 15s));
    EXPECT_NE(s.describe().find(" | falling behind (asked 50.0 Hz)"), std::string::npos) << s.describe();
    // Keep running for a while: still one warning.
    const auto later = Clock::now() + 500ms;
    T::waitUntil([&] { return Clock::now() >= later; }, 1s);
    EXPECT_TRUE(s.fallingBehind());
    EXPECT_EQ(behindWarnings(capture.sink()), 1u);
    EXPECT_TRUE(capture->containsFragment(Log::Level::Warning, "Stream",
                                          "Stream 'sleepy' falls behind: asked "
                                          "for 50.0 Hz, measured "));
    EXPECT_TRUE(capture->containsFragment(Log::Level::Warning, "Stream", "slowest step: doWork ("));
    ASSERT_TRUE(s.stop());
    EXPECT_FALSE(s.fallingBehind());
    EXPECT_TRUE(s.close());
}
