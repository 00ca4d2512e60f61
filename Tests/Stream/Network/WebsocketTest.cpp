#include "Stream/Network/WebsocketServer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <tuple>

#include "Host/Core/ByteBuffer.h"
#include "Host/Core/Log.h"
#include "Stream/Network/NetworkTestUtil.h"
#include "Stream/Network/WebsocketClient.h"
#include "Support/TestUtil.h"

namespace Corvexis::Network {
namespace {

using namespace std::chrono_literals;
using Corvexis::Test::waitUntil;
using NetTest::Collector;
using NetTest::RawSocket;

constexpr int kConnectTimeoutMs = 5000;

struct StateChange
{
    bool connected;
    std::string address;
    int port;
    bool hadFlag;
};

class StateRecorder
{
public:
    void record(bool connected, const std::string& address, int port, bool* refuse)
    {
        std::lock_guard lock(mutex_);
        changes_.push_back({connected, address, port, refuse != nullptr});
        if (refuse != nullptr && refuseNext_)
            *refuse = true;
    }
    std::vector<StateChange> changes() const
    {
        std::lock_guard lock(mutex_);
        return changes_;
    }
    std::size_t count(bool connected) const
    {
        std::lock_guard lock(mutex_);
        return static_cast<std::size_t>(std::count_if(
            changes_.begin(), changes_.end(), [&](const auto& c) { return c.connected == connected; }));
    }
    void setRefuse(bool refuse)
    {
        std::lock_guard lock(mutex_);
        refuseNext_ = refuse;
    }

private:
    mutable std::mutex mutex_;
    std::vector<StateChange> changes_;
    bool refuseNext_ = false;
};

TEST(WebsocketTest, EverySendIsOneMessageBothWays)
{
    WebsocketServer<ByteBuffer> server("127.0.0.1", 0, 2);
    Collector<ByteBuffer> atServer;
    server.signalMessageReceived.connect(atServer.receiver());
    ASSERT_TRUE(server.run());
    WebsocketClient<ByteBuffer> client("127.0.0.1", server.localPort());
    Collector<ByteBuffer> atClient;
    client.signalMessageReceived.connect(atClient.receiver());
    ASSERT_TRUE(client.connect(kConnectTimeoutMs));

    client.sendMessage(NetTest::binaryPattern(10));
    client.sendMessage(NetTest::binaryPattern(10));
    client.sendMessage(NetTest::binaryPattern(0));
    client.sendMessage(NetTest::binaryPattern(300000));
    ASSERT_TRUE(atServer.waitForCount(4));
    const auto messages = atServer.messages();
    ASSERT_EQ(messages.size(), 4u);
    EXPECT_EQ(messages[0], NetTest::binaryPattern(10));
    EXPECT_EQ(messages[1], NetTest::binaryPattern(10));
    EXPECT_TRUE(messages[2].empty());
    EXPECT_EQ(messages[3], NetTest::binaryPattern(300000));

    server.sendMessage(NetTest::binaryPattern(10));
    server.sendMessage(NetTest::binaryPattern(10));
    ASSERT_TRUE(atClient.waitForCount(2));
    EXPECT_EQ(atClient.messages(), std::vector<ByteBuffer>(2, NetTest::binaryPattern(10)));
    EXPECT_EQ(server.signalMessageSent.connectionCount(), 0u);
}

// Moved and shared messages keep their boundaries and bytes both ways; a shared message may go out
// again and to several clients, and a received message can be passed on as it is.
TEST(WebsocketTest, MovedSharedAndPassedOnMessagesArriveWholeAndIntact)
{
    WebsocketServer<ByteBuffer> server("127.0.0.1", 0, 2);
    Collector<ByteBuffer> atServer;
    server.signalMessageReceived.connect(atServer.receiver());
    ASSERT_TRUE(server.run());
    std::vector<std::unique_ptr<WebsocketClient<ByteBuffer>>> clients;
    std::vector<std::unique_ptr<Collector<ByteBuffer>>> collectors;
    for (int i = 0; i < 2; ++i) {
        clients.push_back(std::make_unique<WebsocketClient<ByteBuffer>>("127.0.0.1", server.localPort()));
        collectors.push_back(std::make_unique<Collector<ByteBuffer>>());
        clients.back()->signalMessageReceived.connect(collectors.back()->receiver());
        ASSERT_TRUE(clients.back()->connect(kConnectTimeoutMs));
    }
    ASSERT_TRUE(waitUntil([&] { return server.connectedClients() == 2; }));

    ByteBuffer moved = NetTest::binaryPattern(70000);
    clients[0]->sendMessage(std::move(moved));
    EXPECT_TRUE(moved.empty());  // NOLINT(bugprone-use-after-move): the hand-over empties it
    const auto shared = std::make_shared<const ByteBuffer>(NetTest::binaryPattern(300));
    clients[0]->sendMessage(shared);
    clients[0]->sendMessage(shared);
    clients[0]->sendMessage(WebsocketClient<ByteBuffer>::MessagePtr());  // ignored
    ASSERT_TRUE(atServer.waitForCount(3));
    ASSERT_TRUE(waitUntil([&] { return clients[0]->queuedBytes() == 0; }));
    EXPECT_EQ(atServer.messages(),
              (std::vector<ByteBuffer>{NetTest::binaryPattern(70000), *shared, *shared}));
    EXPECT_EQ(*shared, NetTest::binaryPattern(300));

    server.sendMessage(shared);
    server.sendMessage(WebsocketServer<ByteBuffer>::MessagePtr());  // ignored
    for (auto& collector : collectors) {
        ASSERT_TRUE(collector->waitForCount(1));
        EXPECT_EQ(collector->messages(), std::vector<ByteBuffer>{*shared});
    }

    server.signalMessageReceived.connect([&](std::shared_ptr<const ByteBuffer> m) { server.sendMessage(m); });
    clients[1]->sendMessage(NetTest::binaryPattern(126));
    for (auto& collector : collectors) {
        ASSERT_TRUE(collector->waitForCount(2));
        EXPECT_EQ(collector->messages(), (std::vector<ByteBuffer>{*shared, NetTest::binaryPattern(126)}));
    }
}

TEST(WebsocketTest, AcceptAndNormalCloseAreSignalledAndLogged)
{
    StateRecorder states;
    WebsocketServer<std::string> server("127.0.0.1", 0, 1);
    server.signalClientStateChanged.connect([&](bool connected, std::string address, int port, bool* refuse) {
        states.record(connected, address, port, refuse);
    });
    ASSERT_TRUE(server.run());
    WebsocketClient<std::string> client("127.0.0.1", server.localPort());

    Log::ScopedCapture capture;
    ASSERT_TRUE(client.connect(kConnectTimeoutMs));
    EXPECT_TRUE(
        capture->contains(Log::Level::Info, "WebsocketClient",
                          "Connection established to 127.0.0.1:" + std::to_string(server.localPort())));
    ASSERT_TRUE(waitUntil([&] { return server.connectedClients() == 1; }));
    client.disconnect();
    EXPECT_FALSE(client.isConnected());
    ASSERT_TRUE(waitUntil([&] { return server.connectedClients() == 0 && states.count(false) == 1; }));

    EXPECT_TRUE(capture->contains(Log::Level::Info, "WebsocketClient", "Connection closed"));
    EXPECT_TRUE(capture->contains(Log::Level::Info, "WebsocketClient", "ClientSession closed"));
    EXPECT_TRUE(capture->contains(Log::Level::Debug, "WebsocketServer", "Connection closed gracefully"));
    EXPECT_TRUE(capture->containsFragment(Log::Level::Info, "WebsocketServer",
                                          "Connection established from client 127.0.0.1:"));
    EXPECT_TRUE(capture->containsFragment(Log::Level::Info, "WebsocketServer",
                                          "Connection closed from client 127.0.0.1:"));
    const auto changes = states.changes();
    ASSERT_EQ(changes.size(), 2u);
    EXPECT_TRUE(changes[0].connected);
    EXPECT_TRUE(changes[0].hadFlag);
    EXPECT_EQ(changes[0].address, "127.0.0.1");
    EXPECT_FALSE(changes[1].connected);
    EXPECT_FALSE(changes[1].hadFlag);
    EXPECT_EQ(changes[1].port, changes[0].port);

    // A new session after disconnect works like the first.
    Collector<std::string> received;
    client.signalMessageReceived.connect(received.receiver());
    ASSERT_TRUE(client.connect(kConnectTimeoutMs));
    ASSERT_TRUE(waitUntil([&] { return server.connectedClients() == 1; }));
    server.sendMessage("again");
    ASSERT_TRUE(received.waitForCount(1));
    EXPECT_EQ(received.messages().front(), "again");
}

TEST(WebsocketTest, ARefusedClientIsNeverCounted)
{
    StateRecorder states;
    WebsocketServer<std::string> server("127.0.0.1", 0, 1);
    std::atomic<std::size_t> maxCount{0};
    server.signalClientStateChanged.connect([&](bool connected, std::string address, int port, bool* refuse) {
        states.record(connected, address, port, refuse);
        maxCount = std::max(maxCount.load(), server.connectedClients());
    });
    states.setRefuse(true);
    ASSERT_TRUE(server.run());
    WebsocketClient<std::string> client("127.0.0.1", server.localPort());
    EXPECT_FALSE(client.connect(300));
    EXPECT_EQ(server.connectedClients(), 0u);
    EXPECT_EQ(maxCount.load(), 0u);
    EXPECT_EQ(states.count(true), 1u);
    EXPECT_EQ(states.count(false), 0u);

    states.setRefuse(false);
    EXPECT_TRUE(client.connect(kConnectTimeoutMs));
    EXPECT_TRUE(waitUntil([&] { return server.connectedClients() == 1; }));
}

TEST(WebsocketTest, StalledHandshakesAreDroppedWhileAWellBehavedClientIsServed)
{
    WebsocketServer<std::string> server("127.0.0.1", 0, 1);
    server.setHandshakeTimeout(400ms);
    Collector<std::string> atServer;
    server.signalMessageReceived.connect(atServer.receiver());
    ASSERT_TRUE(server.run());

    // Half of them send nothing, half an unfinished upgrade request.
    constexpr int kStalled = 200;
    std::vector<RawSocket> stalled(kStalled);
    for (int i = 0; i < kStalled; ++i) {
        ASSERT_TRUE(stalled[i].connect(server.localPort())) << i;
        if (i % 2 == 1) {
            ASSERT_TRUE(stalled[i].sendAll("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\n"));
        }
    }
    WebsocketClient<std::string> client("127.0.0.1", server.localPort());
    Collector<std::string> atClient;
    client.signalMessageReceived.connect(atClient.receiver());
    ASSERT_TRUE(client.connect(kConnectTimeoutMs));
    client.sendMessage("hello");
    ASSERT_TRUE(atServer.waitForCount(1));
    server.sendMessage("welcome");
    ASSERT_TRUE(atClient.waitForCount(1));

    EXPECT_TRUE(waitUntil([&] { return server.connectedClients() == 1; }, 20s));
    for (int i = 0; i < kStalled; ++i)
        EXPECT_TRUE(stalled[i].waitForClose(2s)) << i;
    server.sendMessage("still here");
    EXPECT_TRUE(atClient.waitForCount(2));
}

TEST(WebsocketTest, AClientThatStopsReadingIsDisconnectedAtTheQueueBound)
{
    StateRecorder states;
    WebsocketServer<ByteBuffer> server("127.0.0.1", 0, 1);
    server.setMaxQueuedBytes(1 << 20);
    server.signalClientStateChanged.connect([&](bool connected, std::string address, int port, bool* refuse) {
        states.record(connected, address, port, refuse);
    });
    ASSERT_TRUE(server.run());

    // A raw client that completes the handshake, then never reads again.
    RawSocket stalled;
    ASSERT_TRUE(stalled.connect(server.localPort(), 4096));
    ASSERT_TRUE(
        stalled.sendAll("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                        "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n"));
    ASSERT_TRUE(waitUntil([&] { return server.connectedClients() == 1; }));

    Log::ScopedCapture capture;
    for (int i = 0; i < 512 && states.count(false) == 0; ++i) {
        server.sendMessage(NetTest::binaryPattern(64 * 1024));
        if (i % 16 == 15)
            waitUntil([&] { return states.count(false) > 0; }, 50ms);
    }
    EXPECT_TRUE(waitUntil([&] { return server.connectedClients() == 0; }));
    EXPECT_EQ(states.count(false), 1u);
    EXPECT_TRUE(
        capture->containsFragment(Log::Level::Error, "WebsocketServer", "Outgoing queue limit exceeded"));
    EXPECT_TRUE(stalled.waitForClose(5s));
}

TEST(WebsocketTest, StopSendsCloseFramesAndRunListensAgain)
{
    WebsocketServer<std::string> server("127.0.0.1", 0, 2);
    ASSERT_TRUE(server.run());
    WebsocketClient<std::string> a("127.0.0.1", server.localPort());
    WebsocketClient<std::string> b("127.0.0.1", server.localPort());
    ASSERT_TRUE(a.connect(kConnectTimeoutMs));
    ASSERT_TRUE(b.connect(kConnectTimeoutMs));
    ASSERT_TRUE(waitUntil([&] { return server.connectedClients() == 2; }));

    EXPECT_TRUE(server.stop());
    EXPECT_FALSE(server.isRunning());
    EXPECT_EQ(server.connectedClients(), 0u);
    EXPECT_TRUE(waitUntil([&] { return !a.isConnected() && !b.isConnected(); }));
    a.sendMessage("nobody hears this");

    // Port 0 was asked for, so the new listening socket has a new free port.
    ASSERT_TRUE(server.run());
    WebsocketClient<std::string> c("127.0.0.1", server.localPort());
    EXPECT_TRUE(c.connect(kConnectTimeoutMs));
}

TEST(WebsocketTest, ServerDestructionIsLogged)
{
    Log::ScopedCapture capture;
    {
        WebsocketServer<std::string> server("10.0.0.5", 0, 1);
        EXPECT_EQ(server.address(), "10.0.0.5:0");
        EXPECT_TRUE(server.isReadyToRun());
    }
    EXPECT_TRUE(capture->contains(Log::Level::Debug, "WebsocketServer", "Webserver deconstructed"));
}

}  // namespace
}  // namespace Corvexis::Network
