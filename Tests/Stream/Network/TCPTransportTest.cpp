#include "Stream/Network/TCPSocketServer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>

#include "Host/Core/ByteBuffer.h"
#include "Host/Core/Log.h"
#include "Stream/Network/NetworkTestUtil.h"
#include "Stream/Network/TCPSocketClient.h"
#include "Support/TestUtil.h"

namespace Corvexis::Network {
namespace {

using namespace std::chrono_literals;
using Corvexis::Test::waitUntil;
using NetTest::Collector;
using NetTest::RawSocket;

constexpr int kConnectTimeoutMs = 5000;

TEST(TCPTransportTest, AStreamOfBytesArrivesInReadsOfAtMost8192BytesThatConcatenateExactly)
{
    TCPSocketServer<ByteBuffer> server("127.0.0.1", 0, 1);
    Collector<ByteBuffer> received;
    server.signalMessageReceived.connect(received.receiver());
    ASSERT_TRUE(server.run());

    RawSocket peer;
    ASSERT_TRUE(peer.connect(server.localPort()));
    const ByteBuffer sent = NetTest::binaryPattern(20000);
    ASSERT_TRUE(peer.sendAll(sent.data(), sent.size()));

    ASSERT_TRUE(received.waitForBytes(20000));
    const auto messages = received.messages();
    EXPECT_GE(messages.size(), 3u);
    for (const auto& m : messages)
        EXPECT_LE(m.size(), 8192u);
    EXPECT_EQ(received.concatenated(), NetTest::asText(sent));
}

TEST(TCPTransportTest, BroadcastReachesEveryClientOnceInCallOrder)
{
    TCPSocketServer<std::string> server("127.0.0.1", 0, 2);
    ASSERT_TRUE(server.run());
    // Nobody connected: dropped without trace.
    server.sendMessage("lost");

    std::vector<std::unique_ptr<TCPSocketClient<std::string>>> clients;
    std::vector<std::unique_ptr<Collector<std::string>>> collectors;
    for (int i = 0; i < 3; ++i) {
        clients.push_back(std::make_unique<TCPSocketClient<std::string>>("127.0.0.1", server.localPort()));
        collectors.push_back(std::make_unique<Collector<std::string>>());
        clients.back()->signalMessageReceived.connect(collectors.back()->receiver());
        ASSERT_TRUE(clients.back()->connect(kConnectTimeoutMs));
    }
    ASSERT_TRUE(waitUntil([&] { return server.connectedClients() == 3; }));

    std::string expected;
    for (int i = 0; i < 50; ++i) {
        const std::string message = "<" + std::to_string(i) + ">";
        expected += message;
        server.sendMessage(message);
    }
    for (auto& collector : collectors) {
        ASSERT_TRUE(collector->waitForBytes(expected.size()));
        EXPECT_EQ(collector->concatenated(), expected);
    }
}

TEST(TCPTransportTest, WrittenMessagesAreReportedByServerAndClient)
{
    TCPSocketServer<std::string> server("127.0.0.1", 0, 1);
    Collector<std::string> serverSent;
    Collector<std::string> serverReceived;
    server.signalMessageSent.connect(serverSent.receiver());
    server.signalMessageReceived.connect(serverReceived.receiver());
    ASSERT_TRUE(server.run());

    TCPSocketClient<std::string> client("127.0.0.1", server.localPort());
    Collector<std::string> clientSent;
    Collector<std::string> clientReceived;
    client.signalMessageSent.connect(clientSent.receiver());
    client.signalMessageReceived.connect(clientReceived.receiver());
    ASSERT_TRUE(client.connect(kConnectTimeoutMs));
    ASSERT_TRUE(waitUntil([&] { return server.connectedClients() == 1; }));

    client.sendMessage("to server");
    ASSERT_TRUE(clientSent.waitForCount(1));
    EXPECT_EQ(clientSent.messages(), std::vector<std::string>{"to server"});
    ASSERT_TRUE(serverReceived.waitForBytes(9));
    EXPECT_EQ(serverReceived.concatenated(), "to server");

    server.sendMessage("to client");
    ASSERT_TRUE(serverSent.waitForCount(1));
    EXPECT_EQ(serverSent.messages(), std::vector<std::string>{"to client"});
    ASSERT_TRUE(clientReceived.waitForBytes(9));
    EXPECT_EQ(clientReceived.concatenated(), "to client");
}

// A producer that gives its buffer up, or shares an immutable one, pays no copy: what the transport
// reports as written is the producer's own block of bytes, and the peer still reads every byte.
TEST(TCPTransportTest, MovedAndSharedMessagesAreWrittenWithoutACopy)
{
    TCPSocketServer<ByteBuffer> server("127.0.0.1", 0, 1);
    Collector<ByteBuffer> atServer;
    server.signalMessageReceived.connect(atServer.receiver());
    ASSERT_TRUE(server.run());
    TCPSocketClient<ByteBuffer> client("127.0.0.1", server.localPort());
    std::mutex mutex;
    std::vector<std::shared_ptr<const ByteBuffer>> written;
    client.signalMessageSent.connect([&](std::shared_ptr<const ByteBuffer> m) {
        std::lock_guard lock(mutex);
        written.push_back(std::move(m));
    });
    const auto writtenCount = [&] {
        std::lock_guard lock(mutex);
        return written.size();
    };
    ASSERT_TRUE(client.connect(kConnectTimeoutMs));
    ASSERT_TRUE(waitUntil([&] { return server.connectedClients() == 1; }));

    ByteBuffer moved = NetTest::binaryPattern(30000);
    const std::uint8_t* movedBytes = moved.data();
    client.sendMessage(std::move(moved));
    EXPECT_EQ(moved.size(), 0u);  // NOLINT(bugprone-use-after-move): the hand-over empties it
    EXPECT_EQ(moved.data(), nullptr);

    const auto shared = std::make_shared<const ByteBuffer>(NetTest::binaryPattern(20000));
    client.sendMessage(shared);
    client.sendMessage(shared);
    client.sendMessage(TCPSocketClient<ByteBuffer>::MessagePtr());  // ignored

    ASSERT_TRUE(waitUntil([&] { return writtenCount() == 3; }));
    ASSERT_TRUE(atServer.waitForBytes(70000));
    {
        std::lock_guard lock(mutex);
        EXPECT_EQ(written[0]->data(), movedBytes);
        EXPECT_EQ(*written[0], NetTest::binaryPattern(30000));
        EXPECT_EQ(written[1], shared);
        EXPECT_EQ(written[2], shared);
    }
    EXPECT_EQ(*shared, NetTest::binaryPattern(20000));
    EXPECT_EQ(atServer.concatenated(), NetTest::asText(NetTest::binaryPattern(30000)) +
                                           NetTest::asText(*shared) + NetTest::asText(*shared));
    EXPECT_EQ(atServer.bytes(), 70000u);
    EXPECT_EQ(client.queuedBytes(), 0u);
}

// Large messages are written in as few calls as the socket takes; a write that the socket only partly
// accepts goes on where it stopped, so every byte arrives once and in order.
TEST(TCPTransportTest, LargeMessagesArriveExactlyBothWays)
{
    TCPSocketServer<ByteBuffer> server("127.0.0.1", 0, 1);
    Collector<ByteBuffer> atServer;
    server.signalMessageReceived.connect(atServer.receiver());
    ASSERT_TRUE(server.run());
    TCPSocketClient<ByteBuffer> client("127.0.0.1", server.localPort());
    Collector<ByteBuffer> atClient;
    client.signalMessageReceived.connect(atClient.receiver());
    ASSERT_TRUE(client.connect(kConnectTimeoutMs));
    ASSERT_TRUE(waitUntil([&] { return server.connectedClients() == 1; }));

    const ByteBuffer first = NetTest::binaryPattern(6 << 20);
    const ByteBuffer second = NetTest::binaryPattern((3 << 20) + 7);
    client.sendMessage(first);
    client.sendMessage(second);
    server.sendMessage(second);
    ASSERT_TRUE(atServer.waitForBytes(first.size() + second.size(), 30s));
    ASSERT_TRUE(atClient.waitForBytes(second.size(), 30s));
    EXPECT_EQ(atServer.concatenated(), NetTest::asText(first) + NetTest::asText(second));
    EXPECT_EQ(atClient.concatenated(), NetTest::asText(second));
}

// A broadcast of a shared message queues that one message for every client, and a received message
// can be passed on as it is.
TEST(TCPTransportTest, ASharedBroadcastAndAPassedOnMessageReachEveryClientIntact)
{
    TCPSocketServer<ByteBuffer> server("127.0.0.1", 0, 2);
    std::mutex mutex;
    std::vector<std::shared_ptr<const ByteBuffer>> written;
    server.signalMessageSent.connect([&](std::shared_ptr<const ByteBuffer> m) {
        std::lock_guard lock(mutex);
        written.push_back(std::move(m));
    });
    ASSERT_TRUE(server.run());
    std::vector<std::unique_ptr<TCPSocketClient<ByteBuffer>>> clients;
    std::vector<std::unique_ptr<Collector<ByteBuffer>>> collectors;
    for (int i = 0; i < 2; ++i) {
        clients.push_back(std::make_unique<TCPSocketClient<ByteBuffer>>("127.0.0.1", server.localPort()));
        collectors.push_back(std::make_unique<Collector<ByteBuffer>>());
        clients.back()->signalMessageReceived.connect(collectors.back()->receiver());
        ASSERT_TRUE(clients.back()->connect(kConnectTimeoutMs));
    }
    ASSERT_TRUE(waitUntil([&] { return server.connectedClients() == 2; }));

    const auto shared = std::make_shared<const ByteBuffer>(NetTest::binaryPattern(10000));
    server.sendMessage(shared);
    for (auto& collector : collectors) {
        ASSERT_TRUE(collector->waitForBytes(10000));
        EXPECT_EQ(collector->concatenated(), NetTest::asText(*shared));
    }
    ASSERT_TRUE(waitUntil([&] {
        std::lock_guard lock(mutex);
        return written.size() == 2;
    }));
    {
        std::lock_guard lock(mutex);
        EXPECT_EQ(written[0], shared);
        EXPECT_EQ(written[1], shared);
    }

    // The first client's pieces go back to the server, which passes each on to both clients.
    server.signalMessageReceived.connect([&](std::shared_ptr<const ByteBuffer> m) { server.sendMessage(m); });
    clients[0]->sendMessage(NetTest::binaryPattern(5000));
    for (auto& collector : collectors) {
        ASSERT_TRUE(collector->waitForBytes(15000));
        EXPECT_EQ(collector->concatenated(),
                  NetTest::asText(*shared) + NetTest::asText(NetTest::binaryPattern(5000)));
    }
}

TEST(TCPTransportTest, ConnectingWhereNothingListensFailsAfterTheTimeOut)
{
    int port = 0;
    {
        // A port that was free a moment ago; nothing listens there once the server is gone.
        TCPSocketServer<std::string> probe("127.0.0.1", 0, 1);
        port = probe.localPort();
    }
    TCPSocketClient<std::string> client("127.0.0.1", port);
    Log::ScopedCapture capture;
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_FALSE(client.connect(300));
    EXPECT_GE(std::chrono::steady_clock::now() - begin, 300ms);
    EXPECT_FALSE(client.isConnected());
    EXPECT_TRUE(capture->contains(Log::Level::Error, "TCPSocketClient",
                                  "Failed to connect to Server at: 127.0.0.1:" + std::to_string(port)));
    EXPECT_TRUE(capture->containsFragment(Log::Level::Error, "TCPSocketClient", " : connect: "));
}

TEST(TCPTransportTest, SendingWithoutAConnectionDoesNothing)
{
    TCPSocketClient<ByteBuffer> client("127.0.0.1", 1);
    Log::ScopedCapture capture;
    client.sendMessage(NetTest::binaryPattern(10));
    client.disconnect();
    EXPECT_TRUE(capture->records().empty());
    EXPECT_EQ(client.queuedBytes(), 0u);
}

TEST(TCPTransportTest, AClientLeavingIsSignalledAndUncounted)
{
    std::atomic<int> ended{0};
    TCPSocketServer<std::string> server("127.0.0.1", 0, 1);
    server.signalClientConnection.connect([&](bool connected) {
        if (!connected)
            ++ended;
    });
    ASSERT_TRUE(server.run());
    TCPSocketClient<std::string> stays("127.0.0.1", server.localPort());
    TCPSocketClient<std::string> leaves("127.0.0.1", server.localPort());
    ASSERT_TRUE(stays.connect(kConnectTimeoutMs));
    ASSERT_TRUE(leaves.connect(kConnectTimeoutMs));
    ASSERT_TRUE(waitUntil([&] { return server.connectedClients() == 2; }));

    Log::ScopedCapture capture;
    leaves.disconnect();
    EXPECT_FALSE(leaves.isConnected());
    EXPECT_TRUE(
        capture->contains(Log::Level::Info, "TCPSocketClient", "Client socket is successfully closed"));
    ASSERT_TRUE(waitUntil([&] { return server.connectedClients() == 1; }));
    EXPECT_TRUE(waitUntil([&] { return ended.load() == 1; }));

    // The remaining client is still served, and a reconnect starts a new session.
    Collector<std::string> received;
    stays.signalMessageReceived.connect(received.receiver());
    server.sendMessage("still here");
    EXPECT_TRUE(received.waitForBytes(10));
    ASSERT_TRUE(leaves.connect(kConnectTimeoutMs));
    EXPECT_TRUE(waitUntil([&] { return server.connectedClients() == 2; }));
    EXPECT_EQ(ended.load(), 1);
}

TEST(TCPTransportTest, AddressIsReportedAsConfiguredWhileListeningOnEveryInterface)
{
    TCPSocketServer<std::string> server("10.0.0.5", 0, 1);
    EXPECT_EQ(server.address(), "10.0.0.5:0");
    EXPECT_TRUE(server.isReadyToRun());
    ASSERT_TRUE(server.run());
    EXPECT_TRUE(server.run());  // a second run changes nothing
    TCPSocketClient<std::string> client("127.0.0.1", server.localPort());
    EXPECT_TRUE(client.connect(kConnectTimeoutMs));
}

TEST(TCPTransportTest, StopEndsEverySessionAndRunListensAgain)
{
    TCPSocketServer<std::string> server("127.0.0.1", 0, 2);
    ASSERT_TRUE(server.run());
    RawSocket a;
    RawSocket b;
    ASSERT_TRUE(a.connect(server.localPort()));
    ASSERT_TRUE(b.connect(server.localPort()));
    ASSERT_TRUE(waitUntil([&] { return server.connectedClients() == 2; }));

    EXPECT_TRUE(server.stop());
    EXPECT_FALSE(server.isRunning());
    EXPECT_EQ(server.connectedClients(), 0u);
    EXPECT_TRUE(a.waitForClose(5s));
    EXPECT_TRUE(b.waitForClose(5s));

    ASSERT_TRUE(server.run());
    RawSocket c;
    ASSERT_TRUE(c.connect(server.localPort()));
    EXPECT_TRUE(waitUntil([&] { return server.connectedClients() == 1; }));
}

TEST(TCPTransportTest, AClientThatStopsReadingIsDroppedAtTheQueueBoundWithoutHoldingUpOthers)
{
    TCPSocketServer<ByteBuffer> server("127.0.0.1", 0, 1);
    server.setMaxQueuedBytes(1 << 20);
    ASSERT_TRUE(server.run());
    RawSocket stalled;
    ASSERT_TRUE(stalled.connect(server.localPort(), 4096));
    TCPSocketClient<ByteBuffer> reader("127.0.0.1", server.localPort());
    Collector<ByteBuffer> received;
    reader.signalMessageReceived.connect(received.receiver());
    ASSERT_TRUE(reader.connect(kConnectTimeoutMs));
    ASSERT_TRUE(waitUntil([&] { return server.connectedClients() == 2; }));

    Log::ScopedCapture capture;
    // Far more than the socket buffers and the bound together; the reader keeps up, the stalled one not.
    const std::size_t chunk = 64 * 1024;
    std::size_t sent = 0;
    for (int i = 0; i < 256 && server.connectedClients() == 2; ++i) {
        server.sendMessage(NetTest::binaryPattern(chunk));
        sent += chunk;
        waitUntil([&] { return received.bytes() + 2 * chunk >= sent; }, 2s);
    }
    EXPECT_TRUE(waitUntil([&] { return server.connectedClients() == 1; }));
    EXPECT_TRUE(
        capture->containsFragment(Log::Level::Error, "TCPSocketServer", "Outgoing queue limit exceeded"));
    EXPECT_TRUE(stalled.waitForClose(5s));

    server.sendMessage(NetTest::binaryPattern(100));
    EXPECT_TRUE(received.waitForBytes(sent + 100));
}

}  // namespace
}  // namespace Corvexis::Network
