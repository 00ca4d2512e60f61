#include "Host/GL/ContextManager.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "Host/GL/OpenGL.h"
#include "Host/GL/RequireOpenGL.h"

namespace Corvexis::GL {
namespace {

class ContextManagerConcurrency : public Test::OpenGLTest
{
};

// 200 threads each create a context (the stream workers' way) or a thread-owned one, use it and end:
// afterwards no context is left behind. Threads run in waves so that a slow machine is not flooded.
TEST_F(ContextManagerConcurrency, TwoHundredThreadsLeaveNoContextBehind)
{
    auto& manager = ContextManager::get();
    const int before = manager.liveContextCount();
    constexpr int kThreads = 200;
    constexpr int kWave = 20;
    std::atomic<int> succeeded{0};
    for (int wave = 0; wave < kThreads / kWave; ++wave) {
        std::vector<std::thread> threads;
        for (int i = 0; i < kWave; ++i) {
            threads.emplace_back([&, i] {
                if (i % 2 == 0) {
                    auto context = manager.createContext();
                    if (context && glGetString(GL_VERSION) != nullptr)
                        succeeded.fetch_add(1);
                } else if (manager.ensureLocalContext() && glGetString(GL_VERSION) != nullptr) {
                    succeeded.fetch_add(1);
                }
            });
        }
        for (auto& thread : threads)
            thread.join();
    }
    EXPECT_EQ(succeeded.load(), kThreads);
    EXPECT_EQ(manager.liveContextCount(), before);
}

// Many threads without contexts borrow one at the same time: every task runs with a current context,
// tasks never share a context at once, and the spare pool stays bounded.
TEST_F(ContextManagerConcurrency, ConcurrentBorrowersEachGetTheirOwnContext)
{
    auto& manager = ContextManager::get();
    constexpr int kThreads = 8;
    constexpr int kRounds = 20;
    std::atomic<int> ran{0};
    std::atomic<int> clashes{0};
    std::mutex inUseMutex;
    std::set<Context*> inUse;  // guarded by inUseMutex
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int round = 0; round < kRounds; ++round) {
                const bool ok = ContextManager::runWithOpenGL([&] {
                    Context* const context = Context::current();
                    {
                        std::lock_guard lock(inUseMutex);
                        if (!inUse.insert(context).second)
                            clashes.fetch_add(1);
                    }
                    GLuint texture = 0;
                    glCreateTextures(GL_TEXTURE_2D, 1, &texture);
                    glDeleteTextures(1, &texture);
                    {
                        std::lock_guard lock(inUseMutex);
                        inUse.erase(context);
                    }
                    ran.fetch_add(1);
                });
                EXPECT_TRUE(ok);
                EXPECT_FALSE(ContextManager::hasCurrent());
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(ran.load(), kThreads * kRounds);
    EXPECT_EQ(clashes.load(), 0);
    EXPECT_LE(manager.spareContextCount(), 4);
}

}  // namespace
}  // namespace Corvexis::GL
