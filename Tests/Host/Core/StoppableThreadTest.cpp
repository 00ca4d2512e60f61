#include "Host/Core/StoppableThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <stdexcept>

#include "Host/Core/Log.h"
#include "Host/Core/ThreadName.h"
#include "Support/TestUtil.h"

using namespace Corvexis;
using Threading::StoppableThread;
using namespace std::chrono_literals;

TEST(StoppableThreadTest, BodyRunsNamedAndSeesItselfAsCurrent)
{
    std::string seenName;
    StoppableThread* seenCurrent = nullptr;
    std::atomic<bool> done{false};
    StoppableThread thread("Worker Alpha", [&](StoppableThread& self) {
        seenName = Threading::currentThreadName();
        seenCurrent = StoppableThread::current();
        EXPECT_EQ(&self, seenCurrent);
        done = true;
    });
    EXPECT_EQ(thread.name(), "Worker Alpha");
    thread.join();
    EXPECT_TRUE(done);
    EXPECT_EQ(seenName, "Worker Alpha");
    EXPECT_EQ(seenCurrent, &thread);
    EXPECT_EQ(StoppableThread::current(), nullptr);
    EXPECT_FALSE(thread.isRunning());
    EXPECT_FALSE(thread.isStopRequested());
}

TEST(StoppableThreadTest, DestructorRequestsStopAndJoins)
{
    std::atomic<int> passes{0};
    std::atomic<bool> leftLoop{false};
    {
        StoppableThread thread("Looper", [&](StoppableThread& self) {
            while (!self.isStopRequested()) {
                ++passes;
                self.waitForStop(1ms);
            }
            leftLoop = true;
        });
        ASSERT_TRUE(Corvexis::Test::waitUntil([&] { return passes > 2; }));
        EXPECT_TRUE(thread.isRunning());
        EXPECT_FALSE(leftLoop);
    }
    // The destructor returned only after the body did.
    EXPECT_TRUE(leftLoop);
}

TEST(StoppableThreadTest, WaitForStopWakesOnRequestAndTimesOutOtherwise)
{
    std::atomic<bool> started{false};
    std::atomic<bool> result{false};
    StoppableThread thread("Waiter", [&](StoppableThread& self) {
        EXPECT_FALSE(self.waitForStop(1ms));
        started = true;
        // Far longer than any test deadline: only the request can end this wait in time.
        result = self.waitForStop(1h);
    });
    ASSERT_TRUE(Corvexis::Test::waitUntil([&] { return started.load(); }));
    thread.requestStop();
    EXPECT_TRUE(thread.isStopRequested());
    ASSERT_TRUE(Corvexis::Test::waitUntil([&] { return !thread.isRunning(); }));
    EXPECT_TRUE(result);
}

TEST(StoppableThreadTest, RequestStopBeforeBodyStartsIsSeen)
{
    std::atomic<bool> sawStop{false};
    StoppableThread thread("Early", [&](StoppableThread& self) {
        // Waits for the request however late the thread starts.
        sawStop = self.waitForStop(1h);
    });
    thread.requestStop();
    thread.join();
    EXPECT_TRUE(sawStop);
}

TEST(StoppableThreadTest, JoinFromOwnThreadIsRefusedWithLog)
{
    Log::ScopedCapture capture;
    std::atomic<bool> returned{false};
    StoppableThread thread("SelfJoin", [&](StoppableThread& self) {
        self.join();
        returned = true;
    });
    thread.join();
    EXPECT_TRUE(returned);
    EXPECT_TRUE(capture->contains(Log::Level::Error, "Threading", "Thread 'SelfJoin' cannot join itself"));
}

TEST(StoppableThreadTest, ExceptionInBodyIsLoggedAndEndsThread)
{
    Log::ScopedCapture capture;
    StoppableThread thread("Thrower", [](StoppableThread&) { throw std::runtime_error("boom"); });
    thread.join();
    EXPECT_FALSE(thread.isRunning());
    EXPECT_TRUE(
        capture->contains(Log::Level::Error, "Threading", "Uncaught exception in thread 'Thrower': boom"));
}

TEST(StoppableThreadTest, BodyMayDestroyItsOwnThreadObject)
{
    // The owner is destroyed on the thread itself: it must detach rather than join itself, and the
    // thread must not touch the freed object afterwards (AddressSanitizer checks that).
    auto owner = std::make_shared<std::unique_ptr<StoppableThread>>();
    std::atomic<bool> go{false};
    std::atomic<bool> destroyed{false};
    *owner = std::make_unique<StoppableThread>("SelfDelete", [owner, &go, &destroyed](StoppableThread&) {
        while (!go)
            std::this_thread::yield();
        owner->reset();
        destroyed = true;
    });
    go = true;
    ASSERT_TRUE(Corvexis::Test::waitUntil([&] { return destroyed.load(); }));
    // The detached thread holds `owner` until its closure dies; wait for that so the test leaks nothing.
    EXPECT_TRUE(Corvexis::Test::waitUntil([&] { return owner.use_count() == 1; }));
}
