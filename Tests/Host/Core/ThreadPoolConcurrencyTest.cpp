#include "Host/Core/ThreadPool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

using namespace Corvexis;
using Threading::ThreadPool;
using namespace std::chrono_literals;

namespace {
constexpr auto kStressTime = 1s;
}

// Several producers submit while another thread keeps calling waitAll, cancelPending and the counters.
// Every task either runs exactly once or is cancelled (its future then reports a broken promise), and
// the pool ends idle.
TEST(ThreadPoolConcurrencyTest, SubmitWaitAndCancelFromManyThreads)
{
    ThreadPool pool(3, "Stress");
    std::atomic<bool> stop{false};
    std::atomic<long> submitted{0};
    std::atomic<long> ran{0};
    std::atomic<long> cancelled{0};
    std::atomic<long> delivered{0};

    std::vector<std::thread> producers;
    for (int p = 0; p < 3; ++p) {
        producers.emplace_back([&] {
            while (!stop) {
                std::vector<std::future<long>> batch;
                for (int i = 0; i < 20; ++i) {
                    batch.push_back(pool.submit([&ran] { return ++ran; }));
                    ++submitted;
                }
                for (auto& f : batch) {
                    try {
                        EXPECT_GT(f.get(), 0);
                        ++delivered;
                    } catch (const std::future_error&) {
                        // The code (broken_promise) is checked in ThreadPoolTest. Not read here: the
                        // exception object is freed by whichever thread drops it last, through a
                        // reference count inside libstdc++ that ThreadSanitizer cannot see.
                        ++cancelled;
                    }
                }
            }
        });
    }
    std::thread disturber([&] {
        unsigned round = 0;
        while (!stop) {
            if (++round % 8 == 0)
                pool.cancelPending();
            pool.waitAllFor(1ms);
            (void)pool.pendingCount();
            (void)pool.activeCount();
            if (round % 16 == 0)
                pool.setThreadNames(round % 32 == 0 ? "Stress" : "Renamed");
        }
    });

    std::this_thread::sleep_for(kStressTime);
    stop = true;
    for (auto& t : producers)
        t.join();
    disturber.join();
    pool.waitAll();

    EXPECT_GT(submitted, 0);
    EXPECT_EQ(delivered + cancelled, submitted);
    EXPECT_EQ(ran, delivered);
    EXPECT_EQ(pool.pendingCount(), 0u);
    EXPECT_EQ(pool.activeCount(), 0u);
}

// Tasks that submit tasks, while the pool is destroyed: everything queued before the destructor
// finishes runs, and nothing runs after it.
TEST(ThreadPoolConcurrencyTest, DestructionWhileTasksResubmit)
{
    const auto deadline = std::chrono::steady_clock::now() + kStressTime;
    int rounds = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        std::atomic<int> started{0};
        std::atomic<int> finished{0};
        {
            // Declared before the pool: the pool's destructor still runs chain links.
            ThreadPool* poolPtr = nullptr;
            std::function<void(int)> chain = [&](int depth) {
                ++started;
                if (depth > 0)
                    poolPtr->submit([&chain, depth] { chain(depth - 1); });
                ++finished;
            };
            ThreadPool pool(2, "Chain");
            poolPtr = &pool;
            for (int i = 0; i < 4; ++i)
                pool.submit([&chain] { chain(10); });
        }
        EXPECT_EQ(started, 44);
        EXPECT_EQ(finished, 44);
        ++rounds;
    }
    EXPECT_GT(rounds, 0);
}
