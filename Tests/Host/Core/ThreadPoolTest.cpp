#include "Host/Core/ThreadPool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <stdexcept>

#include "Host/Core/Log.h"
#include "Host/Core/ThreadName.h"
#include "Support/TestUtil.h"

using namespace Corvexis;
using Threading::ThreadPool;
using namespace std::chrono_literals;

namespace {
// Blocks pool threads until opened, so tests can hold tasks in the queue.
struct Gate
{
    std::atomic<bool> open{false};
    std::atomic<int> waiting{0};
    void pass()
    {
        ++waiting;
        while (!open)
            std::this_thread::sleep_for(100us);
    }
};
}  // namespace

TEST(ThreadPoolTest, SubmitDeliversResultsAndExceptions)
{
    ThreadPool pool(2, "Calc");
    auto sum = pool.submit([] { return 2 + 3; });
    auto text = pool.submit([] { return std::string("done"); });
    auto failing = pool.submit([]() -> int { throw std::runtime_error("bad input"); });
    auto nothing = pool.submit([] {});
    EXPECT_EQ(sum.get(), 5);
    EXPECT_EQ(text.get(), "done");
    EXPECT_THROW(failing.get(), std::runtime_error);
    nothing.get();
    EXPECT_EQ(pool.threadCount(), 2u);
}

TEST(ThreadPoolTest, ThreadsAreNamedAndRenamed)
{
    ThreadPool pool(3, "Recorder");
    EXPECT_EQ(pool.name(), "Recorder");
    Gate gate;
    std::vector<std::future<std::string>> names;
    // Three tasks held at the gate occupy all three threads, so each name is seen once.
    for (int i = 0; i < 3; ++i)
        names.push_back(pool.submit([&gate] {
            gate.pass();
            return Threading::currentThreadName();
        }));
    ASSERT_TRUE(Corvexis::Test::waitUntil([&] { return gate.waiting == 3; }));
    gate.open = true;
    std::set<std::string> seen;
    for (auto& f : names)
        seen.insert(f.get());
    EXPECT_EQ(seen, (std::set<std::string>{"Recorder 0", "Recorder 1", "Recorder 2"}));

    pool.setThreadNames("Exporter");
    EXPECT_EQ(pool.name(), "Exporter");
    for (int i = 0; i < 10; ++i) {
        const std::string name = pool.submit([] { return Threading::currentThreadName(); }).get();
        EXPECT_EQ(name.rfind("Exporter ", 0), 0u) << name;
    }
}

TEST(ThreadPoolTest, ZeroThreadsMeansHardwareConcurrency)
{
    ThreadPool pool(0);
    EXPECT_EQ(pool.threadCount(), std::max(1u, std::thread::hardware_concurrency()));
    EXPECT_EQ(pool.name(), "ThreadPool");
}

TEST(ThreadPoolTest, OneThreadRunsTasksInSubmissionOrder)
{
    ThreadPool pool(1, "Serial");
    std::vector<int> order;  // touched only by the single pool thread
    std::vector<std::future<void>> done;
    for (int i = 0; i < 50; ++i)
        done.push_back(pool.submit([&order, i] { order.push_back(i); }));
    pool.waitAll();
    ASSERT_EQ(order.size(), 50u);
    for (int i = 0; i < 50; ++i)
        EXPECT_EQ(order[static_cast<size_t>(i)], i);
}

TEST(ThreadPoolTest, CountsAndWaitAllForTrackQueuedAndRunningTasks)
{
    ThreadPool pool(1, "Counted");
    Gate gate;
    auto first = pool.submit([&gate] { gate.pass(); });
    auto second = pool.submit([] {});
    ASSERT_TRUE(Corvexis::Test::waitUntil([&] { return gate.waiting == 1; }));
    EXPECT_EQ(pool.activeCount(), 1u);
    EXPECT_EQ(pool.pendingCount(), 1u);
    EXPECT_FALSE(pool.waitAllFor(5ms));
    gate.open = true;
    EXPECT_TRUE(pool.waitAllFor(10s));
    EXPECT_EQ(pool.activeCount(), 0u);
    EXPECT_EQ(pool.pendingCount(), 0u);
    EXPECT_EQ(second.wait_for(0s), std::future_status::ready);
}

TEST(ThreadPoolTest, CancelPendingBreaksPromisesOfUnstartedTasksOnly)
{
    ThreadPool pool(1, "Cancel");
    Gate gate;
    auto running = pool.submit([&gate] {
        gate.pass();
        return 1;
    });
    ASSERT_TRUE(Corvexis::Test::waitUntil([&] { return gate.waiting == 1; }));
    std::atomic<int> ran{0};
    auto queuedA = pool.submit([&ran] { ++ran; });
    auto queuedB = pool.submit([&ran] { ++ran; });
    EXPECT_EQ(pool.cancelPending(), 2u);
    gate.open = true;
    EXPECT_EQ(running.get(), 1);
    pool.waitAll();
    EXPECT_EQ(ran, 0);
    try {
        queuedA.get();
        FAIL() << "a cancelled task must not deliver a result";
    } catch (const std::future_error& e) {
        EXPECT_EQ(e.code(), std::future_errc::broken_promise);
    }
    EXPECT_THROW(queuedB.get(), std::future_error);
}

TEST(ThreadPoolTest, WaitAllFromPoolThreadIsRefusedWithLog)
{
    Log::ScopedCapture capture;
    ThreadPool pool(1, "Inner");
    auto answer = pool.submit([&pool] {
        pool.waitAll();
        return pool.waitAllFor(1s);
    });
    EXPECT_FALSE(answer.get());
    EXPECT_TRUE(pool.submit([&pool] { return pool.isPoolThread(); }).get());
    EXPECT_FALSE(pool.isPoolThread());
    EXPECT_TRUE(capture->contains(Log::Level::Error, "Threading",
                                  "ThreadPool::waitAll called from a thread of pool 'Inner'"));
    EXPECT_TRUE(capture->contains(Log::Level::Error, "Threading",
                                  "ThreadPool::waitAllFor called from a thread of pool 'Inner'"));
}

TEST(ThreadPoolTest, DestructorRunsQueuedTasksIncludingOnesTheyAdd)
{
    std::atomic<int> ran{0};
    {
        ThreadPool pool(2, "Drain");
        for (int i = 0; i < 20; ++i) {
            pool.submit([&pool, &ran] {
                ++ran;
                // Submitted while the destructor may already be draining the queue.
                pool.submit([&ran] { ++ran; });
            });
        }
    }
    EXPECT_EQ(ran, 40);
}
