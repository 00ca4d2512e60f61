#include "Stream/Network/WebsocketServer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "Host/Core/Log.h"
#include "Stream/Network/NetworkTestUtil.h"
#include "Stream/Network/WebsocketClient.h"
#include "Support/TestUtil.h"

// The server's answers to protocol violations, seen from a client on a plain socket that writes its
// frames byte by byte, while a well-behaved client keeps exchanging messages with the same server.
namespace Corvexis::Network {
namespace {

using namespace std::chrono_literals;
using Corvexis::Test::waitUntil;
using NetTest::Collector;
using NetTest::RawSocket;

constexpr std::uint16_t kProtocolError = 1002;
constexpr std::uint16_t kInvalidPayload = 1007;
constexpr std::uint16_t kMessageTooBig = 1009;

struct Frame
{
    bool fin = true;
    std::uint8_t rsv = 0;  // the three reserved bits, in their header positions (0x70)
    std::uint8_t opcode = 0x1;
    bool masked = true;
    std::string payload;
};

std::string encode(const Frame& frame)
{
    std::string bytes;
    bytes.push_back(static_cast<char>((frame.fin ? 0x80 : 0x00) | frame.rsv | frame.opcode));
    const std::uint8_t maskBit = frame.masked ? 0x80 : 0x00;
    const std::size_t size = frame.payload.size();
    if (size < 126) {
        bytes.push_back(static_cast<char>(maskBit | size));
    } else if (size <= 0xffff) {
        bytes.push_back(static_cast<char>(maskBit | 126));
        bytes.push_back(static_cast<char>(size >> 8));
        bytes.push_back(static_cast<char>(size & 0xff));
    } else {
        bytes.push_back(static_cast<char>(maskBit | 127));
        for (int shift = 56; shift >= 0; shift -= 8)
            bytes.push_back(static_cast<char>((size >> shift) & 0xff));
    }
    const std::uint8_t mask[4] = {0x37, 0xfa, 0x21, 0x3d};
    if (frame.masked)
        bytes.append(reinterpret_cast<const char*>(mask), 4);
    for (std::size_t i = 0; i < size; ++i)
        bytes.push_back(static_cast<char>(frame.payload[i] ^ (frame.masked ? mask[i % 4] : 0)));
    return bytes;
}

// A client speaking the protocol by hand.
class RawWebsocketClient
{
public:
    bool open(int port)
    {
        if (!socket_.connect(port))
            return false;
        if (!socket_.sendAll(
                "GET /chat HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n"))
            return false;
        std::string response;
        char c;
        while (response.find("\r\n\r\n") == std::string::npos) {
            if (!socket_.receiveExact(&c, 1, 5s))
                return false;
            response.push_back(c);
        }
        // The accept key for this request key is fixed by the protocol.
        return response.rfind("HTTP/1.1 101", 0) == 0 &&
               response.find("s3pPLMBiTxaQ9kYGzzhZRbK+xOo=") != std::string::npos;
    }

    bool send(const Frame& frame) { return socket_.sendAll(encode(frame)); }

    // The status code of the server's close frame, skipping data frames before it; none when the
    // connection ended without one or nothing came in time.
    std::optional<std::uint16_t> awaitCloseCode(std::chrono::milliseconds timeout = 5s)
    {
        for (;;) {
            std::uint8_t header[2];
            if (!socket_.receiveExact(header, 2, timeout))
                return std::nullopt;
            std::uint64_t size = header[1] & 0x7f;
            if (size == 126 || size == 127) {
                std::uint8_t extended[8];
                const std::size_t n = size == 126 ? 2 : 8;
                if (!socket_.receiveExact(extended, n, timeout))
                    return std::nullopt;
                size = 0;
                for (std::size_t i = 0; i < n; ++i)
                    size = (size << 8) | extended[i];
            }
            std::string payload(size, '\0');
            if (size > 0 && !socket_.receiveExact(payload.data(), size, timeout))
                return std::nullopt;
            if ((header[0] & 0x0f) == 0x8) {
                if (payload.size() < 2)
                    return std::uint16_t{0};
                return static_cast<std::uint16_t>((static_cast<std::uint8_t>(payload[0]) << 8) |
                                                  static_cast<std::uint8_t>(payload[1]));
            }
        }
    }

    bool closedByServer(std::chrono::milliseconds timeout = 5s) { return socket_.waitForClose(timeout); }
    void close() { socket_.close(); }

private:
    RawSocket socket_;
};

class WebsocketConformanceTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        server_.setMaxMessageSize(kLimit);
        server_.signalMessageReceived.connect(atServer_.receiver());
        ASSERT_TRUE(server_.run());
        good_ = std::make_unique<WebsocketClient<std::string>>("127.0.0.1", server_.localPort());
        good_->signalMessageReceived.connect(atGood_.receiver());
        ASSERT_TRUE(good_->connect(5000));
        // The well-behaved client talks all along; each round trip is checked after every violation.
        talker_ = std::thread([this] {
            int i = 0;
            while (!stop_.load()) {
                good_->sendMessage("tick " + std::to_string(i++));
                std::this_thread::sleep_for(2ms);
            }
        });
    }

    void TearDown() override
    {
        stop_.store(true);
        if (talker_.joinable())
            talker_.join();
    }

    // Sends `frames` on a fresh raw connection and expects the server's close frame with `code`, the
    // connection ended, and the well-behaved client still served both ways.
    void expectClose(const std::vector<Frame>& frames, std::uint16_t code)
    {
        RawWebsocketClient raw;
        ASSERT_TRUE(raw.open(server_.localPort()));
        for (const auto& frame : frames)
            raw.send(frame);
        EXPECT_EQ(raw.awaitCloseCode(), std::optional<std::uint16_t>(code));
        EXPECT_TRUE(raw.closedByServer());
        // The server waits for the client to close its end of the connection, as the protocol asks.
        raw.close();
        EXPECT_TRUE(waitUntil([&] { return server_.connectedClients() == 1; }));

        const std::size_t heard = atServer_.count();
        EXPECT_TRUE(atServer_.waitForCount(heard + 1));
        const std::size_t told = atGood_.count();
        server_.sendMessage("still served");
        EXPECT_TRUE(atGood_.waitForCount(told + 1));
        EXPECT_TRUE(good_->isConnected());
    }

    static constexpr std::size_t kLimit = 4096;
    WebsocketServer<std::string> server_{"127.0.0.1", 0, 2};
    std::unique_ptr<WebsocketClient<std::string>> good_;
    Collector<std::string> atServer_;
    Collector<std::string> atGood_;
    std::thread talker_;
    std::atomic<bool> stop_{false};
};

TEST_F(WebsocketConformanceTest, WellFormedFramesAreAccepted)
{
    RawWebsocketClient raw;
    ASSERT_TRUE(raw.open(server_.localPort()));
    const std::size_t before = atServer_.count();
    // A text message in three fragments with a ping between them.
    raw.send({false, 0, 0x1, true, "frag"});
    raw.send({true, 0, 0x9, true, "p"});
    raw.send({false, 0, 0x0, true, "men"});
    raw.send({true, 0, 0x0, true, "ted"});
    ASSERT_TRUE(waitUntil([&] {
        const auto all = atServer_.messages();
        return std::find(all.begin() + static_cast<std::ptrdiff_t>(before), all.end(), "fragmented") !=
               all.end();
    }));
    // A normal close is answered with a normal close.
    std::string code = "\x03\xe8";
    raw.send({true, 0, 0x8, true, code});
    EXPECT_EQ(raw.awaitCloseCode(), std::optional<std::uint16_t>(1000));
}

TEST_F(WebsocketConformanceTest, ReservedBitsWithoutAnExtensionAreAProtocolError)
{
    expectClose({{true, 0x40, 0x1, true, "rsv1"}}, kProtocolError);
    expectClose({{true, 0x10, 0x2, true, "rsv3"}}, kProtocolError);
}

TEST_F(WebsocketConformanceTest, UnknownOpcodesAreAProtocolError)
{
    expectClose({{true, 0, 0x3, true, "data?"}}, kProtocolError);
    expectClose({{true, 0, 0xb, true, "control?"}}, kProtocolError);
}

TEST_F(WebsocketConformanceTest, AFragmentedControlFrameIsAProtocolError)
{
    expectClose({{false, 0, 0x9, true, "ping"}}, kProtocolError);
}

TEST_F(WebsocketConformanceTest, AContinuationWithoutAStartIsAProtocolError)
{
    expectClose({{true, 0, 0x0, true, "orphan"}}, kProtocolError);
}

TEST_F(WebsocketConformanceTest, InvalidUtf8InTextIsAnInvalidPayload)
{
    expectClose({{true, 0, 0x1, true, std::string("ok \xc3\x28", 5)}}, kInvalidPayload);
    // Split across fragments the check still holds.
    expectClose({{false, 0, 0x1, true, "fine "}, {true, 0, 0x0, true, std::string("\xed\xa0\x80", 3)}},
                kInvalidPayload);
}

TEST_F(WebsocketConformanceTest, UnmaskedClientFramesAreAProtocolError)
{
    expectClose({{true, 0, 0x1, false, "naked"}}, kProtocolError);
}

TEST_F(WebsocketConformanceTest, AMessageAboveTheLimitIsTooBigAndLogged)
{
    Log::ScopedCapture capture;
    expectClose({{true, 0, 0x2, true, std::string(kLimit + 1, 'x')}}, kMessageTooBig);
    // In fragments, each below the limit, the sum above it.
    expectClose(
        {{false, 0, 0x2, true, std::string(kLimit - 10, 'x')}, {true, 0, 0x0, true, std::string(20, 'y')}},
        kMessageTooBig);
    EXPECT_EQ(capture->count(Log::Level::Error, "WebsocketServer",
                             "Message size exceeded maximum limit of " + std::to_string(kLimit) + " bytes"),
              2u);
    // Exactly at the limit is fine.
    RawWebsocketClient raw;
    ASSERT_TRUE(raw.open(server_.localPort()));
    raw.send({true, 0, 0x2, true, std::string(kLimit, 'z')});
    EXPECT_TRUE(waitUntil([&] {
        const auto all = atServer_.messages();
        return std::find(all.begin(), all.end(), std::string(kLimit, 'z')) != all.end();
    }));
}

TEST(WebsocketLimitTest, TheDefaultLimitIsOneGibibyte)
{
    WebsocketServer<std::string> server("127.0.0.1", 0, 1);
    EXPECT_EQ(server.maxMessageSize(), std::size_t{1073741824});
}

}  // namespace
}  // namespace Corvexis::Network
