// Two host-application processes measure a loopback connection with 'corvexis net-latency'.

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <regex>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "Apps/corvexis/AppRunner.h"

namespace Corvexis {
namespace {

using AppTest::runApp;

// A loopback port that was free a moment ago.
int freePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

TEST(NetLatencyAppTest, SenderAndReceiverProcessesMeasureEveryEcho)
{
    // WebSocket only: TCP keeps no message boundaries, so test messages or echoes that arrive in one
    // read count as one and the lost-echo count depends on the machine's timing.
    for (const char* protocol : {"websocket"}) {
        SCOPED_TRACE(protocol);
        const int port = freePort();
        ASSERT_GT(port, 0);
        const std::string settings = std::string(" protocol=") + protocol + " port=" + std::to_string(port);
        AppTest::Result receiver;
        std::thread receiving([&] { receiver = runApp("net-latency receiver" + settings + " --seconds 10", 60); });
        // Started together: the sender keeps trying to connect until the receiver listens.
        const auto sender = runApp("net-latency sender" + settings + " intervalMs=50 --seconds 1.5", 60);
        receiving.join();

        EXPECT_EQ(sender.code, 0) << sender.output;
        std::smatch match;
        ASSERT_TRUE(std::regex_search(sender.output, match, std::regex("Lost Echo Messages: ([0-9]+) of ([0-9]+)")))
            << sender.output;
        // The echo of the message sent just before the stop may still be on its way when the sender
        // counts; every earlier one must have come back.
        EXPECT_LE(std::stoi(match[1]), 1);
        EXPECT_GT(std::stoi(match[2]), 5);
        EXPECT_NE(sender.output.find("Average Echo Latency: "), std::string::npos);
        EXPECT_EQ(receiver.code, 0) << receiver.output;
        EXPECT_NE(receiver.output.find("Receiver: START received"), std::string::npos) << receiver.output;
    }
}

TEST(NetLatencyAppTest, WrongRoleOrSettingIsOneErrorLine)
{
    auto r = runApp("net-latency listener");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.output.rfind("corvexis: 'net-latency' takes 'sender' or 'receiver'", 0), 0u) << r.output;
    r = runApp("net-latency sender protocol=carrier-pigeon");
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.output.find("protocol 'carrier-pigeon' is not offered"), std::string::npos) << r.output;
    r = runApp("net-latency sender prot=tcp");
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.output.find("unknown setting 'prot'"), std::string::npos) << r.output;
}

}  // namespace
}  // namespace Corvexis
