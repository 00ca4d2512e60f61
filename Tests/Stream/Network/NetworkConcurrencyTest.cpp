#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <sstream>
#include <thread>

#include "Host/Core/ByteBuffer.h"
#include "Stream/Network/NetworkTestUtil.h"
#include "Stream/Network/TCPSocketClient.h"
#include "Stream/Network/TCPSocketServer.h"
#include "Stream/Network/UDPSocket.h"
#include "Stream/Network/WebsocketClient.h"
#include "Stream/Network/WebsocketServer.h"
#include "Support/TestUtil.h"

// Races of the transports: many threads sending through one connection, connections destroyed or
// stopped while traffic flows. Bounded to about a second each; run under ThreadSanitizer as well.
namespace Corvexis::Network {
namespace {

using namespace std::chrono_literals;
using Corvexis::Test::waitUntil;
using NetTest::Collector;

constexpr int kThreads = 6;
constexpr int kPerThread = 150;
constexpr int kConnectTimeoutMs = 10000;

std::string tagged(int thread, int i)
{
    return "<" + std::to_string(thread) + ":" + std::to_string(i) + ">";
}

// Every thread's messages, in the order they arrived, from a stream of "<t:i>" items.
std::map<int, std::vector<int>> parseTagged(const std::string& stream)
{
    std::map<int, std::vector<int>> perThread;
    std::size_t pos = 0;
    while ((pos = stream.find('<', pos)) != std::string::npos) {
        const std::size_t colon = stream.find(':', pos);
        const std::size_t end = stream.find('>', pos);
        if (colon == std::string::npos || end == std::string::npos)
            break;
        perThread[std::stoi(stream.substr(pos + 1, colon - pos - 1))].push_back(
            std::stoi(stream.substr(colon + 1, end - colon - 1)));
        pos = end + 1;
    }
    return perThread;
}

void expectEveryThreadInOrder(const std::map<int, std::vector<int>>& perThread)
{
    ASSERT_EQ(perThread.size(), static_cast<std::size_t>(kThreads));
    for (const auto& [thread, numbers] : perThread) {
        ASSERT_EQ(numbers.size(), static_cast<std::size_t>(kPerThread)) << "thread " << thread;
        for (int i = 0; i < kPerThread; ++i)
            ASSERT_EQ(numbers[i], i) << "thread " << thread;
    }
}

template <typename Send>
void sendFromManyThreads(Send send)
{
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &send] {
            for (int i = 0; i < kPerThread; ++i)
                send(tagged(t, i));
        });
    }
    for (auto& thread : threads)
        thread.join();
}

TEST(NetworkConcurrencyTest, TcpClientSendsFromManyThreadsWithoutLossOrReordering)
{
    TCPSocketServer<std::string> server("127.0.0.1", 0, 2);
    Collector<std::string> received;
    server.signalMessageReceived.connect(received.receiver());
    ASSERT_TRUE(server.run());
    TCPSocketClient<std::string> client("127.0.0.1", server.localPort());
    ASSERT_TRUE(client.connect(kConnectTimeoutMs));
    std::size_t total = 0;
    for (int t = 0; t < kThreads; ++t)
        for (int i = 0; i < kPerThread; ++i)
            total += tagged(t, i).size();

    sendFromManyThreads([&](std::string m) { client.sendMessage(std::move(m)); });
    ASSERT_TRUE(received.waitForBytes(total, 30s));
    expectEveryThreadInOrder(parseTagged(received.concatenated()));
}

TEST(NetworkConcurrencyTest, WebsocketServerBroadcastsFromManyThreadsToEveryClient)
{
    WebsocketServer<std::string> server("127.0.0.1", 0, 3);
    ASSERT_TRUE(server.run());
    std::vector<std::unique_ptr<WebsocketClient<std::string>>> clients;
    std::vector<std::unique_ptr<Collector<std::string>>> collectors;
    for (int c = 0; c < 3; ++c) {
        clients.push_back(std::make_unique<WebsocketClient<std::string>>("127.0.0.1", server.localPort()));
        collectors.push_back(std::make_unique<Collector<std::string>>());
        clients.back()->signalMessageReceived.connect(collectors.back()->receiver());
        ASSERT_TRUE(clients.back()->connect(kConnectTimeoutMs));
    }
    ASSERT_TRUE(waitUntil([&] { return server.connectedClients() == 3; }));

    sendFromManyThreads([&](std::string m) { server.sendMessage(std::move(m)); });
    for (auto& collector : collectors) {
        ASSERT_TRUE(collector->waitForCount(kThreads * kPerThread, 30s));
        std::string all;
        for (const auto& m : collector->messages())
            all += m;
        expectEveryThreadInOrder(parseTagged(all));
    }
}

// One immutable message shared by many sending threads and by every client's queue: each client gets
// every send, whole and unchanged, and the sender's own reference is all that is left afterwards.
TEST(NetworkConcurrencyTest, ASharedMessageSentFromManyThreadsReachesEveryClientIntact)
{
    WebsocketServer<ByteBuffer> server("127.0.0.1", 0, 3);
    ASSERT_TRUE(server.run());
    std::vector<std::unique_ptr<WebsocketClient<ByteBuffer>>> clients;
    std::vector<std::unique_ptr<Collector<ByteBuffer>>> collectors;
    for (int c = 0; c < 2; ++c) {
        clients.push_back(std::make_unique<WebsocketClient<ByteBuffer>>("127.0.0.1", server.localPort()));
        collectors.push_back(std::make_unique<Collector<ByteBuffer>>());
        clients.back()->signalMessageReceived.connect(collectors.back()->receiver());
        ASSERT_TRUE(clients.back()->connect(kConnectTimeoutMs));
    }
    ASSERT_TRUE(waitUntil([&] { return server.connectedClients() == 2; }));

    const auto shared = std::make_shared<const ByteBuffer>(NetTest::binaryPattern(1000));
    sendFromManyThreads([&](const std::string&) { server.sendMessage(shared); });
    for (auto& collector : collectors) {
        ASSERT_TRUE(collector->waitForCount(kThreads * kPerThread, 30s));
        const auto messages = collector->messages();
        ASSERT_EQ(messages.size(), static_cast<std::size_t>(kThreads * kPerThread));
        for (const auto& m : messages)
            ASSERT_EQ(m, *shared);
    }
    ASSERT_TRUE(waitUntil([&] { return server.queuedBytes() == 0; }));
    EXPECT_TRUE(waitUntil([&] { return shared.use_count() == 1; }));
}

TEST(NetworkConcurrencyTest, WebsocketClientSendsFromManyThreadsAsWholeMessages)
{
    WebsocketServer<ByteBuffer> server("127.0.0.1", 0, 2);
    Collector<ByteBuffer> received;
    server.signalMessageReceived.connect(received.receiver());
    ASSERT_TRUE(server.run());
    WebsocketClient<ByteBuffer> client("127.0.0.1", server.localPort());
    ASSERT_TRUE(client.connect(kConnectTimeoutMs));

    sendFromManyThreads([&](const std::string& m) {
        ByteBuffer buffer;
        buffer.copyFrom(m.data(), m.size());
        client.sendMessage(std::move(buffer));
    });
    ASSERT_TRUE(received.waitForCount(kThreads * kPerThread, 30s));
    std::string all;
    for (const auto& m : received.messages()) {
        const std::string text = NetTest::asText(m);
        ASSERT_EQ(text.front(), '<');
        ASSERT_EQ(text.back(), '>');
        all += text;
    }
    expectEveryThreadInOrder(parseTagged(all));
}

// Traffic in both directions, then the connection objects go away in the middle of it.
template <typename Server, typename Client>
void destroyWhileTrafficFlows()
{
    auto server = std::make_unique<Server>("127.0.0.1", 0, 2);
    std::atomic<std::size_t> atServer{0};
    server->signalMessageReceived.connect([&](auto) { ++atServer; });
    ASSERT_TRUE(server->run());
    std::vector<std::unique_ptr<Client>> clients;
    std::atomic<std::size_t> atClients{0};
    for (int c = 0; c < 4; ++c) {
        clients.push_back(std::make_unique<Client>("127.0.0.1", server->localPort()));
        clients.back()->signalMessageReceived.connect([&](auto) { ++atClients; });
        ASSERT_TRUE(clients.back()->connect(kConnectTimeoutMs));
    }
    ASSERT_TRUE(waitUntil([&] { return server->connectedClients() == 4; }));

    std::atomic<bool> stop{false};
    // Two named threads rather than a vector: GCC 12 at -O3 warns falsely about a vector of threads here.
    std::thread serverSender([&] {
        while (!stop.load())
            server->sendMessage(std::string(1000, 's'));
    });
    std::mutex clientsMutex;
    std::thread clientSender([&] {
        while (!stop.load()) {
            std::lock_guard lock(clientsMutex);
            for (auto& client : clients)
                client->sendMessage(std::string(500, 'c'));
        }
    });
    ASSERT_TRUE(waitUntil([&] { return atServer.load() > 50 && atClients.load() > 50; }));
    // Two clients disconnect and one is destroyed while both directions are busy.
    {
        std::lock_guard lock(clientsMutex);
        clients[0]->disconnect();
        clients[1].reset();
        clients.erase(clients.begin() + 1);
    }
    EXPECT_TRUE(waitUntil([&] { return server->connectedClients() == 2; }));
    const std::size_t before = atClients.load();
    EXPECT_TRUE(waitUntil([&] { return atClients.load() > before + 50; }));

    // The server stops while it and the clients still send.
    server->stop();
    EXPECT_EQ(server->connectedClients(), 0u);
    stop.store(true);
    serverSender.join();
    clientSender.join();
    clients.clear();
    server.reset();
}

TEST(NetworkConcurrencyTest, TcpConnectionsAreDestroyedWhileTrafficFlows)
{
    destroyWhileTrafficFlows<TCPSocketServer<std::string>, TCPSocketClient<std::string>>();
}

TEST(NetworkConcurrencyTest, WebsocketConnectionsAreDestroyedWhileTrafficFlows)
{
    destroyWhileTrafficFlows<WebsocketServer<std::string>, WebsocketClient<std::string>>();
}

TEST(NetworkConcurrencyTest, ReconnectingWhileOtherThreadsSendIsSafe)
{
    WebsocketServer<std::string> server("127.0.0.1", 0, 2);
    ASSERT_TRUE(server.run());
    TCPSocketServer<std::string> tcpServer("127.0.0.1", 0, 1);
    ASSERT_TRUE(tcpServer.run());
    WebsocketClient<std::string> client("127.0.0.1", server.localPort());
    TCPSocketClient<std::string> tcpClient("127.0.0.1", tcpServer.localPort());
    std::atomic<bool> stop{false};
    std::thread sender([&] {
        while (!stop.load()) {
            client.sendMessage("x");
            tcpClient.sendMessage("y");
            client.isConnected();
        }
    });
    for (int i = 0; i < 5; ++i) {
        EXPECT_TRUE(client.connect(kConnectTimeoutMs));
        EXPECT_TRUE(tcpClient.connect(kConnectTimeoutMs));
        client.disconnect();
        tcpClient.disconnect();
    }
    stop.store(true);
    sender.join();
    EXPECT_TRUE(
        waitUntil([&] { return server.connectedClients() == 0 && tcpServer.connectedClients() == 0; }));
}

TEST(NetworkConcurrencyTest, UdpSendsFromManyThreadsWhileRunAndStopAlternate)
{
    std::atomic<int> received{0};
    UDPSocket<std::string> receiver("127.0.0.1", 0, "", 0);
    receiver.signalMessageReceived.connect([&](auto) { ++received; });
    ASSERT_TRUE(receiver.run());
    UDPSocket<std::string> sender("127.0.0.1", 0, "127.0.0.1", receiver.localPort());
    ASSERT_TRUE(sender.run());
    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t) {
        threads.emplace_back([&] {
            while (!stop.load()) {
                sender.sendMessage("datagram");
                std::this_thread::sleep_for(100us);
            }
        });
    }
    ASSERT_TRUE(waitUntil([&] { return received.load() > 10; }));
    for (int i = 0; i < 5; ++i) {
        receiver.stop();
        receiver.run();
    }
    const int before = received.load();
    EXPECT_TRUE(waitUntil([&] { return received.load() > before + 10; }));
    stop.store(true);
    for (auto& thread : threads)
        thread.join();
}

}  // namespace
}  // namespace Corvexis::Network
