#include "Stream/Framework/StreamUtils.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

using namespace Corvexis;
using namespace std::chrono_literals;

// Several threads pacing at once, each with its own guard estimate and timer slack, compete for the
// CPUs: still no sleep may end before its duration.
TEST(StreamUtilsConcurrencyTest, ConcurrentSleepsNeverReturnEarly)
{
    using Clock = std::chrono::steady_clock;
    const auto stopAt = Clock::now() + 1s;
    std::atomic<long> early{0};
    std::atomic<long> sleeps{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            const std::chrono::nanoseconds step = std::chrono::microseconds(50 + 150 * t);
            std::chrono::nanoseconds d = step;
            while (Clock::now() < stopAt) {
                const auto start = Clock::now();
                StreamUtils::preciseSleep(d);
                if (Clock::now() - start < d)
                    ++early;
                ++sleeps;
                d = d > 3ms ? step : d + step;
            }
        });
    }
    for (auto& t : threads)
        t.join();
    EXPECT_GT(sleeps, 4);
    EXPECT_EQ(early, 0);
}
