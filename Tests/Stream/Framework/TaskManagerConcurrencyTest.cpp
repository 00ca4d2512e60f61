#include "Stream/Framework/TaskManager.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace Corvexis {
namespace {

TEST(TaskManagerConcurrencyTest, ManyThreadsAddQueryAndWait)
{
    TaskManager manager(3, "Stress");
    std::atomic<int> executed{0};
    std::atomic<int> added{0};
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(600);

    std::vector<std::thread> clients;
    for (int c = 0; c < 3; ++c) {
        clients.emplace_back([&, c] {
            std::vector<TaskManager::TaskId> mine;
            while (std::chrono::steady_clock::now() < end) {
                mine.push_back(manager.addTask([&] { ++executed; }));
                ++added;
                if (mine.size() % 8 == 0) {
                    manager.waitFor(mine[mine.size() / 2]);
                    EXPECT_TRUE(manager.isReady(mine[mine.size() / 2]));
                }
                if (c == 0)
                    manager.allReady();
            }
            for (const auto& id : mine)
                manager.waitFor(id);
        });
    }
    for (auto& client : clients)
        client.join();
    manager.waitAll();
    EXPECT_TRUE(manager.allReady());
    EXPECT_EQ(executed.load(), added.load());
    EXPECT_GT(added.load(), 0);
}

}  // namespace
}  // namespace Corvexis
