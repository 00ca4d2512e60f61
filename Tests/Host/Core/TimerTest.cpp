#include "Host/Core/Timer.h"

#include <gtest/gtest.h>

#include <thread>

using namespace Corvexis;
using namespace std::chrono_literals;

TEST(TimerTest, ElapsedCoversAtLeastTheTimePassedAndUnitsAgree)
{
    const auto before = std::chrono::steady_clock::now();
    Timer timer;
    std::this_thread::sleep_for(5ms);
    const auto ns = timer.elapsed();
    const double ms = timer.elapsedMs();
    const double us = timer.elapsedUs();
    const auto outer = std::chrono::steady_clock::now() - before;
    EXPECT_GE(ns, 5ms);
    EXPECT_LE(ns, outer);
    // Read in order ns, ms, us: each later reading is at least the earlier one, in its own unit.
    EXPECT_GE(ms, static_cast<double>(ns.count()) / 1e6);
    EXPECT_GE(us, ms * 1000.0);
    using Us = std::chrono::duration<double, std::micro>;
    EXPECT_LE(us, Us(std::chrono::steady_clock::now() - before).count());
}

TEST(TimerTest, ResetRestartsFromZero)
{
    Timer timer;
    std::this_thread::sleep_for(20ms);
    const auto beforeReset = timer.elapsed();
    const auto resetAt = std::chrono::steady_clock::now();
    timer.reset();
    const auto afterReset = timer.elapsed();
    EXPECT_GE(beforeReset, 20ms);
    EXPECT_LE(afterReset, std::chrono::steady_clock::now() - resetAt);
    EXPECT_LT(afterReset, beforeReset);
}
