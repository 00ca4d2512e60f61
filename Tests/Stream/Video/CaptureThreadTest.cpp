#include "Stream/Video/CaptureThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

#include "Support/TestUtil.h"

namespace Corvexis {
namespace {

using Clock = std::chrono::steady_clock;
using Corvexis::Test::waitUntil;

// A stop must cut a sleep short whether it comes before or during the sleep; a hang here would mean
// stream stop() or close() hangs for as long as the camera's frame period.
TEST(CaptureThreadTest, StopEndsASleepAtOnceAndTheThreadRunsAgainAfterwards)
{
    CaptureThread capture;
    EXPECT_FALSE(capture.running());
    for (int round = 0; round < 3; ++round) {
        std::atomic<int> slept{-1};
        std::atomic<bool> entered{false};
        capture.start([&] {
            entered = true;
            slept = capture.sleepUntil(Clock::now() + std::chrono::hours(1)) ? 1 : 0;
        });
        EXPECT_TRUE(capture.running());
        if (round > 0) {  // round 0 may stop before the sleep begins; later rounds stop during it
            ASSERT_TRUE(waitUntil([&] { return entered.load(); }));
        }
        capture.stop();
        EXPECT_FALSE(capture.running()) << round;
        EXPECT_EQ(slept.load(), 0) << round;
    }
    capture.stop();  // nothing running: nothing to do
    EXPECT_FALSE(capture.running());
}

TEST(CaptureThreadTest, SleepWithoutStopLastsUntilTheDeadlineAndDestructionJoins)
{
    std::atomic<int> slept{-1};
    std::atomic<bool> late{false};
    {
        CaptureThread capture;
        const auto deadline = Clock::now() + std::chrono::milliseconds(30);
        capture.start([&] {
            slept = capture.sleepUntil(deadline) ? 1 : 0;
            late = Clock::now() >= deadline;
            capture.sleepUntil(Clock::now() + std::chrono::hours(1));  // ended by the destructor
        });
        ASSERT_TRUE(waitUntil([&] { return slept.load() != -1; }));
    }
    EXPECT_EQ(slept.load(), 1);
    EXPECT_TRUE(late.load());
}

}  // namespace
}  // namespace Corvexis
