#include "Stream/Framework/StreamUtils.h"

#include <gtest/gtest.h>
#include <sys/prctl.h>

#include <thread>

#include "Host/Core/Log.h"
#include "Host/Core/WakeLatencyEstimator.h"

using namespace Corvexis;
using namespace std::chrono_literals;

namespace {
using Clock = std::chrono::steady_clock;

// Runs `f` on a fresh thread, where per-thread settings start from the defaults.
template <typename F>
void onFreshThread(F&& f)
{
    std::thread(std::forward<F>(f)).join();
}
}  // namespace

TEST(StreamUtilsTest, PreciseSleepNeverReturnsEarly)
{
    // Durations around and below the guard (pure spin), and longer ones that really sleep.
    const std::chrono::nanoseconds durations[] = {1ns, 500ns, 10us, 25us, 100us, 250us, 1ms, 3ms, 12ms};
    for (int round = 0; round < 5; ++round) {
        for (const auto d : durations) {
            const auto start = Clock::now();
            StreamUtils::preciseSleep(d);
            const auto slept = Clock::now() - start;
            ASSERT_GE(slept, d) << "round " << round << ", requested " << d.count() << " ns";
        }
    }
}

TEST(StreamUtilsTest, ZeroAndNegativeDurationsReturnAtOnce)
{
    const std::chrono::nanoseconds durations[] = {0ns, -1ns, -5s, std::chrono::nanoseconds::min()};
    for (const auto d : durations) {
        const auto start = Clock::now();
        StreamUtils::preciseSleep(d);
        // Generous for a loaded machine, yet far below what a duration read as large and positive
        // would give.
        EXPECT_LT(Clock::now() - start, 200ms) << d.count();
    }
}

TEST(StreamUtilsTest, FirstSleepOnAThreadSetsMinimalTimerSlackOfThatThreadOnly)
{
    // New threads inherit their creator's slack, so start from a known one: the kernel's default.
    constexpr long kDefaultSlackNs = 50'000;
    long before = -1;
    long after = -1;
    long creatorAfter = -1;
    onFreshThread([&] {
        prctl(PR_SET_TIMERSLACK, kDefaultSlackNs, 0, 0, 0);
        onFreshThread([&] {
            before = prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
            StreamUtils::preciseSleep(1us);
            after = prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
        });
        creatorAfter = prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
    });
    EXPECT_EQ(before, kDefaultSlackNs);
    EXPECT_EQ(after, 1);
    EXPECT_EQ(creatorAfter, kDefaultSlackNs);
}

TEST(StreamUtilsTest, GuardStaysWithinItsBoundsWhileSleeping)
{
    onFreshThread([] {
        EXPECT_EQ(StreamUtils::preciseSleepGuard(), WakeLatencyEstimator::kInitialGuard);
        for (int i = 0; i < 40; ++i) {
            StreamUtils::preciseSleep(2ms);
            const auto guard = StreamUtils::preciseSleepGuard();
            ASSERT_GE(guard, WakeLatencyEstimator::kMinGuard);
            ASSERT_LE(guard, WakeLatencyEstimator::kMaxGuard);
        }
    });
}

TEST(StreamUtilsTest, TimerResolutionOfMonotonicClockIsFine)
{
    const auto resolution = StreamUtils::timerResolution();
    ASSERT_TRUE(resolution);
    EXPECT_GT(*resolution, 0ns);
    EXPECT_LE(*resolution, 20us);  // high-resolution timers; otherwise the guard floor rises
}

TEST(StreamUtilsTest, FailingResolutionQueryLogsAtDebugLevel)
{
    Log::ScopedCapture capture;
    // No such clock: clock_getres fails with EINVAL.
    EXPECT_FALSE(StreamUtils::timerResolution(static_cast<clockid_t>(0x7fff)));
    EXPECT_EQ(capture->count(Log::Level::Debug, "preciseSleep", "Failed to query scheduler timer resolution"),
              1u);
}
