#include "Stream/Network/ClientSessionSlot.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "Host/Core/Log.h"

namespace Corvexis::Network {
namespace {

using namespace std::chrono_literals;

struct FakeSession
{
    explicit FakeSession(std::size_t maxQueued) : maxQueuedBytes(maxQueued) {}

    std::atomic<bool> connected{false};
    std::size_t maxQueuedBytes;
    bool shutDown = false;
    std::vector<std::string> sent;

    void shutdown()
    {
        shutDown = true;
        connected.store(false);
    }
    void send(std::string&& message) { sent.push_back(std::move(message)); }
    std::size_t queuedBytes() const { return sent.size(); }
};

using Slot = ClientSessionSlot<FakeSession>;

TEST(ClientSessionSlotTest, ReplacingShutsThePreviousSessionDownAndMessagesGoOnlyToAConnectedOne)
{
    Slot slot;
    slot.send(std::string("no session"));
    EXPECT_FALSE(slot.isConnected());
    EXPECT_EQ(slot.queuedBytes(), 0u);

    slot.setMaxQueuedBytes(1234);
    const auto lock = slot.lockConnect();
    const auto first = slot.replace([](std::size_t max) { return std::make_shared<FakeSession>(max); });
    EXPECT_EQ(first->maxQueuedBytes, 1234u);
    slot.send(std::string("not connected yet"));
    EXPECT_TRUE(first->sent.empty());
    first->connected.store(true);
    EXPECT_TRUE(slot.isConnected());
    slot.send(std::string("hello"));
    EXPECT_EQ(first->sent, (std::vector<std::string>{"hello"}));
    EXPECT_EQ(slot.queuedBytes(), 1u);

    const auto second = slot.replace([](std::size_t max) { return std::make_shared<FakeSession>(max); });
    EXPECT_TRUE(first->shutDown);
    EXPECT_FALSE(second->shutDown);
    EXPECT_EQ(slot.current(), second);
    EXPECT_FALSE(slot.isConnected());

    EXPECT_EQ(slot.release(), second);
    EXPECT_TRUE(second->shutDown);
    EXPECT_EQ(slot.current(), nullptr);
    EXPECT_EQ(slot.release(), nullptr);
}

TEST(ClientSessionSlotTest, TheConnectionWaitEndsWhenConnectedOrAfterTheTimeOut)
{
    FakeSession session(0);
    {
        Log::ScopedCapture capture;
        const auto begin = std::chrono::steady_clock::now();
        EXPECT_FALSE(Slot::waitForConnection(session, 200, "SlotTest"));
        EXPECT_GE(std::chrono::steady_clock::now() - begin, 200ms);
        EXPECT_TRUE(capture->containsFragment(Log::Level::Debug, "SlotTest", "Connection time : "));
    }
    std::thread connector([&] {
        std::this_thread::sleep_for(100ms);
        session.connected.store(true);
    });
    // Far longer than the connection takes: the wait ends as soon as it sees the flag.
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_TRUE(Slot::waitForConnection(session, 20000, "SlotTest"));
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 15s);
    connector.join();
}

}  // namespace
}  // namespace Corvexis::Network
