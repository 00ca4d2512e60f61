#include "Stream/Network/WebsocketClient.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

#include "Host/Core/ByteBuffer.h"
#include "Host/Core/Log.h"
#include "Stream/Network/NetworkTestUtil.h"
#include "Stream/Network/WebsocketServer.h"
#include "Support/TestUtil.h"

// Our WebSocket client and server against the Node.js 'ws' package, driven by ws_peer.js.
namespace Corvexis::Network {
namespace {

using namespace std::chrono_literals;
using Corvexis::Test::waitUntil;
using NetTest::ChildProcess;
using NetTest::Collector;

constexpr int kPeerLifetimeS = 60;
const std::vector<std::size_t> kSizes = {0, 125, 126, 65536, 16 * 1024 * 1024};

std::string peerScript()
{
    return std::string(CORVEXIS_NETWORK_TEST_DIR) + "/ws_peer.js";
}

// NODE_PATH with the directory where Debian installs Node.js packages.
std::string nodePath()
{
    std::string path = "/usr/share/nodejs";
    if (const char* existing = std::getenv("NODE_PATH"); existing != nullptr && *existing != '\0')
        path = std::string(existing) + ":" + path;
    return path;
}

// Why the peer cannot run here, or empty when it can.
std::string peerMissingReason()
{
    const std::string probe = "NODE_PATH='" + nodePath() + "' node -e \"require('ws')\" >/dev/null 2>&1";
    if (std::system("command -v node >/dev/null 2>&1") != 0)
        return "node is not installed (Debian package nodejs)";
    if (std::system(probe.c_str()) != 0)
        return "the Node.js package 'ws' is not installed (Debian package node-ws)";
    return {};
}

std::unique_ptr<ChildProcess> startPeer(const std::vector<std::string>& arguments)
{
    std::vector<std::string> argv = {"node", peerScript()};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return std::make_unique<ChildProcess>(argv, std::vector<std::string>{"NODE_PATH=" + nodePath()});
}

// What the peer's "CMD SEND" delivers, in order.
std::vector<std::string> expectedFromPeer()
{
    std::vector<std::string> expected;
    for (std::size_t size : kSizes)
        expected.push_back(NetTest::textPattern(size));
    for (std::size_t size : kSizes)
        expected.push_back(NetTest::asText(NetTest::binaryPattern(size)));
    expected.push_back(NetTest::textPattern(3000));
    expected.push_back(NetTest::asText(NetTest::binaryPattern(3000)));
    expected.push_back("DONE");
    return expected;
}

void expectPeerMessages(const Collector<std::string>& received, std::size_t from)
{
    const auto messages = received.messages();
    const auto expected = expectedFromPeer();
    ASSERT_GE(messages.size(), from + expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const std::string& got = messages[from + i];
        EXPECT_EQ(got.size(), expected[i].size()) << "message " << i;
        EXPECT_TRUE(got == expected[i]) << "message " << i << " differs";
    }
}

bool contains(const Collector<std::string>& received, const std::string& message)
{
    const auto all = received.messages();
    return std::find(all.begin(), all.end(), message) != all.end();
}

class WebsocketInteropTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const std::string missing = peerMissingReason();
        if (!missing.empty())
            GTEST_SKIP() << missing;
    }
};

TEST_F(WebsocketInteropTest, OurClientWithTheirServer)
{
    auto peer = startPeer({"server", std::to_string(kPeerLifetimeS)});
    const auto portLine = peer->waitForLine("PORT ", 20s);
    ASSERT_TRUE(portLine) << "the peer did not start listening";
    const int port = std::stoi(portLine->substr(5));

    WebsocketClient<std::string> text("127.0.0.1", port);
    Collector<std::string> atText;
    text.signalMessageReceived.connect(atText.receiver());
    ASSERT_TRUE(text.connect(10000));
    WebsocketClient<ByteBuffer> binary("127.0.0.1", port);
    Collector<ByteBuffer> atBinary;
    binary.signalMessageReceived.connect(atBinary.receiver());
    ASSERT_TRUE(binary.connect(10000));

    // Their messages, whole and in order, fragmented ones as one message each.
    text.sendMessage("CMD SEND");
    ASSERT_TRUE(waitUntil([&] { return contains(atText, "DONE"); }, 60s));
    expectPeerMessages(atText, 0);
    const std::size_t afterSend = atText.count();

    // Ours, as text frames from the text client and binary frames from the binary one.
    for (std::size_t size : kSizes) {
        text.sendMessage(NetTest::textPattern(size));
        binary.sendMessage(NetTest::binaryPattern(size));
    }
    ASSERT_TRUE(atText.waitForCount(afterSend + kSizes.size(), 60s));
    ASSERT_TRUE(atBinary.waitForCount(kSizes.size(), 60s));
    const auto textAnswers = atText.messages();
    const auto binaryAnswers = atBinary.messages();
    for (std::size_t i = 0; i < kSizes.size(); ++i) {
        EXPECT_EQ(textAnswers[afterSend + i], "GOT text " + std::to_string(kSizes[i]) + " ok");
        EXPECT_EQ(NetTest::asText(binaryAnswers[i]), "GOT binary " + std::to_string(kSizes[i]) + " ok");
    }

    // Their ping is answered with the same payload.
    text.sendMessage("CMD PING hello");
    EXPECT_TRUE(waitUntil([&] { return contains(atText, "PONG hello"); }));

    // Our normal close reaches them as 1000 and is logged here.
    Log::ScopedCapture capture;
    text.disconnect();
    EXPECT_TRUE(peer->waitForLine("CLOSED 1000", 10s));
    EXPECT_TRUE(capture->contains(Log::Level::Info, "WebsocketClient", "Connection closed"));
    EXPECT_TRUE(capture->contains(Log::Level::Info, "WebsocketClient", "ClientSession closed"));
    EXPECT_FALSE(text.isConnected());
    EXPECT_TRUE(binary.isConnected());
}

TEST_F(WebsocketInteropTest, TheirClientWithOurServer)
{
    std::mutex statesMutex;
    std::vector<std::pair<bool, bool>> states;  // (connected, had a refuse flag)
    WebsocketServer<std::string> server("127.0.0.1", 0, 2);
    Collector<std::string> atServer;
    server.signalMessageReceived.connect(atServer.receiver());
    server.signalClientStateChanged.connect([&](bool connected, std::string, int, bool* refuse) {
        std::lock_guard lock(statesMutex);
        states.emplace_back(connected, refuse != nullptr);
    });
    ASSERT_TRUE(server.run());

    auto peer = startPeer({"client", std::to_string(server.localPort()), std::to_string(kPeerLifetimeS)});
    ASSERT_TRUE(peer->waitForLine("OPEN", 20s)) << "the peer did not connect";
    ASSERT_TRUE(waitUntil([&] { return server.connectedClients() == 1; }));

    // Their messages, received by our server.
    server.sendMessage("CMD SEND");
    ASSERT_TRUE(waitUntil([&] { return contains(atServer, "DONE"); }, 60s));
    expectPeerMessages(atServer, 0);
    const std::size_t afterSend = atServer.count();

    // Ours, broadcast as text frames.
    for (std::size_t size : kSizes)
        server.sendMessage(NetTest::textPattern(size));
    ASSERT_TRUE(atServer.waitForCount(afterSend + kSizes.size(), 60s));
    const auto answers = atServer.messages();
    for (std::size_t i = 0; i < kSizes.size(); ++i)
        EXPECT_EQ(answers[afterSend + i], "GOT text " + std::to_string(kSizes[i]) + " ok");

    server.sendMessage("CMD PING pong-me");
    EXPECT_TRUE(waitUntil([&] { return contains(atServer, "PONG pong-me"); }));

    // Their normal close.
    Log::ScopedCapture capture;
    server.sendMessage("CMD CLOSE");
    EXPECT_TRUE(peer->waitForLine("CLOSED 1000", 10s));
    ASSERT_TRUE(waitUntil([&] { return server.connectedClients() == 0; }));
    EXPECT_TRUE(capture->contains(Log::Level::Debug, "WebsocketServer", "Connection closed gracefully"));
    EXPECT_TRUE(capture->containsFragment(Log::Level::Info, "WebsocketServer",
                                          "Connection closed from client 127.0.0.1:"));
    std::lock_guard lock(statesMutex);
    EXPECT_EQ(states, (std::vector<std::pair<bool, bool>>{{true, true}, {false, false}}));
}

}  // namespace
}  // namespace Corvexis::Network
