#include "Stream/Network/ConnectionLatencyMeasuringAlgorithm.h"

#include <gtest/gtest.h>

#include "Host/Core/Log.h"
#include "Host/Lib/FactoryRegistry.h"
#include "Stream/Network/NetworkAlgorithmFactory.h"
#include "Stream/Network/NetworkTestUtil.h"
#include "Stream/Network/TCPSocketClient.h"
#include "Stream/Network/TCPSocketServer.h"
#include "Stream/Network/WebsocketServer.h"
#include "Support/TestUtil.h"

namespace Corvexis::Network {
namespace {

using namespace std::chrono_literals;
using Corvexis::Test::waitUntil;
using Algo = ConnectionLatencyMeasuringAlgorithm;

TEST(ConnectionLatencyMeasuringAlgorithmTest, TestMessagesParseBack)
{
    const std::string message = Algo::makeTestMessage(Algo::Clock::time_point(1000ms), 7);
    EXPECT_EQ(message, "[TIMESTAMP]:1000[ID]:7\n");
    const auto [number, time] = Algo::processStringMessage(message);
    EXPECT_EQ(number, 7);
    EXPECT_EQ(time, Algo::Clock::time_point(1000ms));

    for (const char* bad : {"[TIMESTAMP]:1000", "[ID]:7", "[TIMESTAMP]:x[ID]:7", "hello"}) {
        Log::ScopedCapture capture;
        EXPECT_EQ(Algo::processStringMessage(bad).first, -1) << bad;
        EXPECT_TRUE(capture->containsFragment(Log::Level::Warning, "ConnectionLatencyTestAlgorithm",
                                              "Failed to parse message"));
    }
}

TEST(ConnectionLatencyMeasuringAlgorithmTest, ParametersListTheTextProtocolsAndFollowTheChoice)
{
    Algo algorithm;
    EXPECT_EQ(algorithm.timeBetweenMessagesMs.value(), 100);
    const std::string values = algorithm.connectionProtocol.attribute("values");
    EXPECT_NE(values.find("Websocket Server"), std::string::npos);
    EXPECT_EQ(values, algorithm.connectionProtocol.attribute("keys"));
    EXPECT_EQ(algorithm.connectionProtocol.label(), "Connection type");

    algorithm.connectionProtocol.setValue("TCP Socket Server");
    EXPECT_EQ(algorithm.connectionProperties().paramNames(),
              (std::vector<std::string>{"hostIp", "hostPort", "threads"}));

    // Saved and restored with the configuration, sub-block included.
    Properties saved;
    Properties* block = saved.addSubProperties("Connection Properties");
    saved.setParam("connectionProtocol", "UDP Socket");
    block->setParam("peerPort", 4321);
    algorithm.configure(&saved);
    EXPECT_EQ(algorithm.connectionProperties().param<int>("peerPort", 0), 4321);
    EXPECT_EQ(algorithm.connectionProperties().param<std::string>("ownIp", "x"), "");
    Properties written;
    algorithm.configuration(&written);
    EXPECT_EQ(written.param<std::string>("connectionProtocol", ""), "UDP Socket");
    ASSERT_NE(written.subProperties("Connection Properties"), nullptr);
    EXPECT_EQ(written.subProperties("Connection Properties")->param<int>("peerPort", 0), 4321);
}

TEST(ConnectionLatencyMeasuringAlgorithmTest, AnUnknownProtocolFailsTheComputation)
{
    Algo algorithm;
    algorithm.connectionProtocol.setValue("Carrier Pigeon");
    Log::ScopedCapture capture;
    algorithm.compute();
    EXPECT_EQ(algorithm.status(), Algorithm::Status::Error);
    EXPECT_EQ(algorithm.connection(), nullptr);
    EXPECT_TRUE(capture->containsFragment(Log::Level::Error, "ConnectionLatencyTestAlgorithm",
                                          "Could not create Connection"));
    EXPECT_FALSE(algorithm.runAction("startTest"));
}

// A TCP client sender: compute() succeeds only once the connection is up, and a test cannot start
// over a connection that never came up.
TEST(ConnectionLatencyMeasuringAlgorithmTest, ATcpSenderSucceedsOnlyWithItsConnectionUp)
{
    Algo receiver;
    Properties receiverSettings;
    receiverSettings.setParam("connectionProtocol", "TCP Socket Server");
    receiverSettings.addSubProperties("Connection Properties")->setParam("hostPort", 0);
    receiver.configure(&receiverSettings);
    receiver.compute();
    ASSERT_EQ(receiver.status(), Algorithm::Status::Success);
    auto* server = dynamic_cast<TCPSocketServer<std::string>*>(receiver.connection());
    ASSERT_NE(server, nullptr);
    ASSERT_TRUE(server->isRunning());

    const auto makeSender = [](Algo& sender, int port) {
        Properties settings;
        settings.setParam("connectionProtocol", "TCP Socket Client");
        Properties* block = settings.addSubProperties("Connection Properties");
        block->setParam("hostIp", "127.0.0.1");
        block->setParam("hostPort", port);
        block->setParam("connectionTimeout", 300);
        sender.configure(&settings);
    };

    {
        Algo sender;
        makeSender(sender, server->localPort());
        sender.compute();
        ASSERT_EQ(sender.status(), Algorithm::Status::Success);
        auto* client = dynamic_cast<TCPSocketClient<std::string>*>(sender.connection());
        ASSERT_NE(client, nullptr);
        // Up when compute() returns, so the first message is not dropped.
        EXPECT_TRUE(client->isConnected());
        ASSERT_TRUE(sender.runAction("startTest"));
        ASSERT_TRUE(waitUntil([&] { return receiver.isRunning(); }));
        EXPECT_EQ(receiver.role(), Algo::Role::Receiver);
        sender.stop();
    }

    // Nothing listens: the wait lasts the connection's time-out and the computation fails.
    const int port = server->localPort();
    ASSERT_TRUE(server->stop());
    Algo sender;
    makeSender(sender, port);
    Log::ScopedCapture capture;
    const auto begin = std::chrono::steady_clock::now();
    sender.compute();
    EXPECT_GE(std::chrono::steady_clock::now() - begin, 300ms);
    EXPECT_EQ(sender.status(), Algorithm::Status::Error);
    EXPECT_TRUE(capture->contains(Log::Level::Error, "ConnectionLatencyTestAlgorithm",
                                  "The client connection did not connect"));
    EXPECT_FALSE(sender.runAction("startTest"));
    EXPECT_FALSE(sender.isRunning());
    EXPECT_TRUE(capture->contains(Log::Level::Error, "ConnectionLatencyTestAlgorithm",
                                  "Cannot start the test: the connection is not up"));
}

// A sender and a receiver in one process, over a WebSocket on loopback.
class LatencyPair : public ::testing::Test
{
protected:
    void SetUp() override
    {
        Properties receiverSettings;
        receiverSettings.setParam("connectionProtocol", "Websocket Server");
        receiverSettings.addSubProperties("Connection Properties")->setParam("hostPort", 0);
        receiver_.configure(&receiverSettings);
        receiver_.compute();
        ASSERT_EQ(receiver_.status(), Algorithm::Status::Success);
        auto* server = dynamic_cast<WebsocketServer<std::string>*>(receiver_.connection());
        ASSERT_NE(server, nullptr);
        ASSERT_TRUE(server->isRunning());

        Properties senderSettings;
        senderSettings.setParam("connectionProtocol", "Websocket Client");
        senderSettings.setParam("timeBetweenMessagesMs", 5);
        Properties* block = senderSettings.addSubProperties("Connection Properties");
        block->setParam("hostIp", "127.0.0.1");
        block->setParam("hostPort", server->localPort());
        block->setParam("connectionTimeout", 5000);
        sender_.configure(&senderSettings);
        int created = 0;
        NetTest::ScopedConnection counting(sender_.signalConnectionCreated.connect([&] { ++created; }));
        sender_.compute();
        ASSERT_EQ(sender_.status(), Algorithm::Status::Success);
        EXPECT_EQ(created, 1);
        ASSERT_TRUE(waitUntil([&] { return server->connectedClients() == 1; }));
    }

    Algo receiver_;
    Algo sender_;
};

TEST_F(LatencyPair, TheSenderMeasuresEchoesAndTheReceiverReportsBack)
{
    std::atomic<int> receiverStarted{0};
    std::atomic<int> receiverStopped{0};
    NetTest::ScopedConnection started(receiver_.signalTestStarted.connect([&] { ++receiverStarted; }));
    NetTest::ScopedConnection stopped(receiver_.signalTestStopped.connect([&] { ++receiverStopped; }));
    std::atomic<bool> peerReported{false};
    NetTest::ScopedConnection reported(
        sender_.signalPeerLatency.connect([&](double) { peerReported = true; }));

    std::atomic<int> echoes{0};
    NetTest::ScopedConnection counting(
        sender_.connection()->signalMessageReceived.connect([&](std::shared_ptr<const std::string> text) {
            if (text->find("[ID]:") != std::string::npos)
                ++echoes;
        }));
    Log::ScopedCapture capture;
    ASSERT_TRUE(sender_.runAction("startTest"));
    EXPECT_TRUE(sender_.isRunning());
    EXPECT_EQ(sender_.role(), Algo::Role::Sender);
    ASSERT_TRUE(waitUntil([&] { return receiver_.isRunning(); }));
    EXPECT_EQ(receiver_.role(), Algo::Role::Receiver);
    EXPECT_TRUE(
        capture->contains(Log::Level::Info, "ConnectionLatencyTestAlgorithm", "Receiver: START received"));
    ASSERT_TRUE(waitUntil([&] { return echoes.load() >= 10; }));
    ASSERT_TRUE(sender_.runAction("stopTest"));
    EXPECT_FALSE(sender_.isRunning());

    const auto report = sender_.lastReport();
    EXPECT_EQ(report.role, Algo::Role::Sender);
    EXPECT_GT(report.sent, 0u);
    EXPECT_GT(report.evaluated, 0u);
    EXPECT_LE(report.evaluated, Algo::kMaxQueuedMessages);
    EXPECT_GE(report.averageMs, 0.0);
    EXPECT_LT(report.averageMs, 5000.0);
    EXPECT_LE(report.lost, report.sent);
    EXPECT_TRUE(capture->containsFragment(Log::Level::Info, "ConnectionLatencyTestAlgorithm",
                                          "Average Echo Latency: "));
    EXPECT_TRUE(capture->containsFragment(Log::Level::Info, "ConnectionLatencyTestAlgorithm",
                                          "Lost Echo Messages: "));

    ASSERT_TRUE(waitUntil([&] { return peerReported.load(); }));
    EXPECT_TRUE(
        capture->containsFragment(Log::Level::Info, "ConnectionLatencyTestAlgorithm", "Peer Latency: "));
    EXPECT_TRUE(capture->containsFragment(Log::Level::Info, "ConnectionLatencyTestAlgorithm",
                                          "Average Peer Latency: "));
    EXPECT_FALSE(receiver_.isRunning());
    EXPECT_EQ(receiverStarted.load(), 1);
    EXPECT_EQ(receiverStopped.load(), 1);
    ASSERT_TRUE(sender_.lastReport().peerAverageMs);
    EXPECT_EQ(receiver_.lastReport().role, Algo::Role::Receiver);
    EXPECT_GT(receiver_.lastReport().evaluated, 0u);
}

TEST_F(LatencyPair, OnlyTheLast100EchoesEnterTheAverage)
{
    auto* server = dynamic_cast<WebsocketServer<std::string>*>(receiver_.connection());
    std::atomic<int> arrived{0};
    // Connected after the algorithm's own receiver, so it counts what the algorithm has already taken.
    NetTest::ScopedConnection counting(sender_.connection()->signalMessageReceived.connect(
        [&](std::shared_ptr<const std::string>) { ++arrived; }));
    // One test message (number 0) goes out; the interval keeps the next one away.
    sender_.timeBetweenMessagesMs.setValue(100000);
    sender_.start();
    ASSERT_TRUE(waitUntil([&] { return receiver_.isRunning() && arrived.load() >= 1; }));
    // 150 more echoes of message 0, made by hand on the receiver's server: 151 in all.
    const auto stamp = Algo::Clock::now();
    for (int i = 0; i < 150; ++i)
        server->sendMessage(Algo::makeTestMessage(stamp, 0));
    ASSERT_TRUE(waitUntil([&] { return arrived.load() >= 151; }));
    sender_.stop();
    const auto report = sender_.lastReport();
    EXPECT_EQ(report.evaluated, Algo::kMaxQueuedMessages);
    EXPECT_EQ(report.sent, 1u);
    EXPECT_EQ(report.lost, 0u);
}

TEST_F(LatencyPair, TextsThatDoNotParseAreLeftOutOfTheAverage)
{
    auto* server = dynamic_cast<WebsocketServer<std::string>*>(receiver_.connection());
    std::atomic<int> arrived{0};
    NetTest::ScopedConnection counting(sender_.connection()->signalMessageReceived.connect(
        [&](std::shared_ptr<const std::string>) { ++arrived; }));
    sender_.timeBetweenMessagesMs.setValue(100000);
    sender_.start();
    ASSERT_TRUE(waitUntil([&] { return receiver_.isRunning() && arrived.load() >= 1; }));
    server->sendMessage("no number here");
    server->sendMessage(Algo::makeTestMessage(Algo::Clock::now(), 999));  // never sent by us
    ASSERT_TRUE(waitUntil([&] { return arrived.load() >= 3; }));
    Log::ScopedCapture capture;
    sender_.stop();
    EXPECT_EQ(sender_.lastReport().evaluated, 1u);
    EXPECT_TRUE(capture->containsFragment(Log::Level::Warning, "ConnectionLatencyTestAlgorithm",
                                          "Failed to parse message"));
}

TEST(NetworkAlgorithmFactoryTest, OffersTheLatencyTestUnderTheNetworkName)
{
    NetworkAlgorithmFactory factory;
    ASSERT_EQ(factory.entries().size(), 1u);
    EXPECT_EQ(factory.entries().front().id, "Network.ConnectionLatencyMeasuring");
    EXPECT_EQ(factory.entries().front().menuPath, "Network;Connection Latency Test");
    auto algorithm = factory.create("Network.ConnectionLatencyMeasuring", DataList{});
    ASSERT_TRUE(dynamic_cast<Algo*>(algorithm.get()));
    const auto actions = algorithm->actions();
    ASSERT_EQ(actions.size(), 2u);
    EXPECT_EQ(actions[0].label, "Start Test");
    EXPECT_EQ(actions[1].label, "Stop Test");
}

}  // namespace
}  // namespace Corvexis::Network
