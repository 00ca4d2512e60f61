#include "Stream/Network/ServerSessionList.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace Corvexis::Network {
namespace {

using namespace std::chrono_literals;

// Records what the list does to it; ends (leaves the list) on close() when told to.
struct FakeSession
{
    std::vector<std::string> received;
    std::size_t queued = 0;
    int closes = 0;
    int lates = 0;

    void send(std::string&& message)
    {
        queued += message.size();
        received.push_back(std::move(message));
    }
    std::size_t queuedBytes() const { return queued; }
};

using List = ServerSessionList<FakeSession, std::string>;

TEST(ServerSessionListTest, BroadcastReachesEverySessionOnceAndCountsTheirQueues)
{
    List list;
    list.broadcast("nobody");  // dropped: no session yet
    auto a = std::make_shared<FakeSession>();
    auto b = std::make_shared<FakeSession>();
    auto c = std::make_shared<FakeSession>();
    for (const auto& s : {a, b, c})
        list.add(s);
    EXPECT_EQ(list.size(), 3u);

    list.broadcast("one");
    list.broadcast("two!");
    for (const auto& s : {a, b, c})
        EXPECT_EQ(s->received, (std::vector<std::string>{"one", "two!"}));
    EXPECT_EQ(list.queuedBytes(), 3u * 7u);

    list.remove(b.get());
    list.remove(b.get());  // a second time does nothing
    EXPECT_EQ(list.size(), 2u);
    list.broadcast("three");
    EXPECT_EQ(b->received.size(), 2u);
    EXPECT_EQ(c->received.back(), "three");
    list.clear();
    EXPECT_EQ(list.size(), 0u);
    EXPECT_EQ(list.queuedBytes(), 0u);
}

TEST(ServerSessionListTest, CloseAllWaitsForSessionsToLeaveAndReportsTheOnesThatStay)
{
    List list;
    auto leaving = std::make_shared<FakeSession>();
    auto staying = std::make_shared<FakeSession>();
    list.add(leaving);
    list.add(staying);

    // A session thread that ends `leaving` a moment after it was asked to close, as a real one does; the
    // wait is long enough for it to get there on a loaded machine.
    std::atomic<bool> asked{false};
    std::thread ender([&] {
        while (!asked.load())
            std::this_thread::yield();
        list.remove(leaving.get());
    });
    const auto begin = std::chrono::steady_clock::now();
    const bool allClosed = list.closeAll(
        1000ms,
        [&](FakeSession& s) {
            ++s.closes;
            if (&s == leaving.get())
                asked.store(true);
        },
        [](FakeSession& s) { ++s.lates; });
    ender.join();
    EXPECT_FALSE(allClosed);
    EXPECT_GE(std::chrono::steady_clock::now() - begin, 1000ms);
    EXPECT_EQ(leaving->closes, 1);
    EXPECT_EQ(leaving->lates, 0);
    EXPECT_EQ(staying->closes, 1);
    EXPECT_EQ(staying->lates, 1);
    EXPECT_EQ(list.size(), 1u);

    // Once the last one leaves on its close, the wait ends early and reports success.
    std::thread lastEnder;
    EXPECT_TRUE(list.closeAll(
        10s,
        [&](FakeSession& s) { lastEnder = std::thread([&list, session = &s] { list.remove(session); }); },
        [](FakeSession& s) { ++s.lates; }));
    lastEnder.join();
    EXPECT_EQ(staying->lates, 1);
    EXPECT_EQ(list.size(), 0u);
}

}  // namespace
}  // namespace Corvexis::Network
