#include "Host/Core/StoppableThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

using namespace Corvexis;
using Threading::StoppableThread;
using namespace std::chrono_literals;

// Stop requests, joins and state queries from several threads at once, on threads that are
// starting, running and ending.
TEST(StoppableThreadConcurrencyTest, StopAndJoinFromManyThreads)
{
    const auto deadline = std::chrono::steady_clock::now() + 1s;
    int rounds = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        std::atomic<int> bodyEnded{0};
        auto thread = std::make_unique<StoppableThread>("Target", [&](StoppableThread& self) {
            while (!self.waitForStop(50us)) {
            }
            ++bodyEnded;
        });
        std::vector<std::thread> callers;
        for (int i = 0; i < 3; ++i) {
            callers.emplace_back([&thread, i] {
                if (i == 0)
                    thread->requestStop();
                (void)thread->isRunning();
                (void)thread->isStopRequested();
                thread->join();
                EXPECT_FALSE(thread->isRunning());
            });
        }
        for (auto& c : callers)
            c.join();
        thread.reset();
        EXPECT_EQ(bodyEnded, 1);
        ++rounds;
    }
    EXPECT_GT(rounds, 0);
}
