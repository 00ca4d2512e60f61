#include "Stream/Framework/TaskManager.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <stdexcept>
#include <string>

#include "Host/Core/ThreadName.h"

namespace Corvexis {
namespace {

TEST(TaskManagerTest, HashIsFnv1aOfTheFourBytesLowFirst)
{
    const std::hash<TaskManager::TaskId> hash;
    // Reference values computed independently of the code under test.
    EXPECT_EQ(hash(TaskManager::TaskId(0)), static_cast<std::size_t>(0x4d25767f9dce13f5ULL));
    EXPECT_EQ(hash(TaskManager::TaskId(1)), static_cast<std::size_t>(12478008331234465636ULL));
    EXPECT_NE(hash(TaskManager::TaskId(1)), hash(TaskManager::TaskId(256)));
}

TEST(TaskManagerTest, IdsCompareByValue)
{
    EXPECT_EQ(TaskManager::TaskId(3), TaskManager::TaskId(3));
    EXPECT_NE(TaskManager::TaskId(3), TaskManager::TaskId(4));
    EXPECT_LT(TaskManager::TaskId(3), TaskManager::TaskId(4));
}

TEST(TaskManagerTest, EmptyManagerIsReady)
{
    TaskManager manager(2);
    EXPECT_EQ(manager.numThreads(), 2);
    EXPECT_TRUE(manager.allReady());
    EXPECT_TRUE(manager.isReady(TaskManager::TaskId(12)));  // unknown ids are not running
    manager.waitAll();
}

TEST(TaskManagerTest, WaitForAndReadinessFollowTheJob)
{
    TaskManager manager(2, "Export");
    std::promise<void> gate;
    auto gateFuture = gate.get_future().share();
    std::string threadName;
    const auto blocked = manager.addTask([gateFuture, &threadName] {
        threadName = Threading::currentThreadName();
        gateFuture.wait();
    });
    const auto quick = manager.addTask([] {});
    EXPECT_NE(blocked, quick);
    manager.waitFor(quick);
    EXPECT_TRUE(manager.isReady(quick));
    EXPECT_FALSE(manager.isReady(blocked));
    EXPECT_FALSE(manager.allReady());

    gate.set_value();
    manager.waitFor(blocked);
    EXPECT_TRUE(manager.allReady());
    EXPECT_EQ(threadName.rfind("Export", 0), 0u) << threadName;
}

TEST(TaskManagerTest, WaitAllRethrowsTheJobsExceptionOnce)
{
    TaskManager manager(2);
    std::atomic<int> done{0};
    manager.addTask([&] { ++done; });
    manager.addTask([] { throw std::runtime_error("export failed"); });
    manager.addTask([&] { ++done; });

    EXPECT_THROW(
        {
            try {
                manager.waitAll();
            } catch (const std::runtime_error& e) {
                EXPECT_STREQ(e.what(), "export failed");
                throw;
            }
        },
        std::runtime_error);
    // Reported once; the other jobs still ran to the end.
    manager.waitAll();
    EXPECT_TRUE(manager.allReady());
    EXPECT_EQ(done.load(), 2);
}

TEST(TaskManagerTest, WaitForRethrowsTheFailedJob)
{
    TaskManager manager(1);
    const auto id = manager.addTask([] { throw std::logic_error("bad"); });
    EXPECT_THROW(manager.waitFor(id), std::logic_error);
    EXPECT_TRUE(manager.isReady(id));
}

TEST(TaskManagerTest, DestructionWaitsForQueuedJobs)
{
    std::atomic<int> done{0};
    {
        TaskManager manager(1);
        for (int i = 0; i < 20; ++i)
            manager.addTask([&] { ++done; });
    }
    EXPECT_EQ(done.load(), 20);
}

}  // namespace
}  // namespace Corvexis
