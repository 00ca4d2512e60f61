#include "Stream/Network/UDPSocket.h"

#include <gtest/gtest.h>

#include <boost/system/system_error.hpp>

#include "Host/Core/ByteBuffer.h"
#include "Host/Core/Log.h"
#include "Stream/Network/NetworkTestUtil.h"
#include "Support/TestUtil.h"

namespace Corvexis::Network {
namespace {

using namespace std::chrono_literals;
using NetTest::Collector;

TEST(UDPSocketTest, UnicastDatagramsArriveWholeWithTheirSenderInBothDirections)
{
    std::vector<std::string> senders;
    std::mutex sendersMutex;
    UDPSocket<ByteBuffer> a("127.0.0.1", 0, "", 0);
    const unsigned short portA = a.localPort();
    UDPSocket<ByteBuffer> b("127.0.0.1", 0, "127.0.0.1", portA);
    ASSERT_GT(portA, 0);
    // Ports are chosen at construction, so the way back to b goes through a third socket that knows it.
    UDPSocket<ByteBuffer> aToB("127.0.0.1", 0, "127.0.0.1", b.localPort());

    Collector<ByteBuffer> atA;
    a.signalMessageReceived.connect(atA.receiver());
    a.signalMessageReceivedFrom.connect([&](const UDPSocket<ByteBuffer>::SenderAndMessage& from) {
        std::lock_guard lock(sendersMutex);
        senders.push_back(from.first);
    });
    Collector<ByteBuffer> atB;
    b.signalMessageReceived.connect(atB.receiver());
    ASSERT_TRUE(a.run());
    ASSERT_TRUE(b.run());
    ASSERT_TRUE(aToB.run());

    for (std::size_t size : {1u, 1000u, 8192u, 60000u})
        b.sendMessage(NetTest::binaryPattern(size));
    ASSERT_TRUE(atA.waitForCount(4));
    const auto messages = atA.messages();
    ASSERT_EQ(messages.size(), 4u);
    EXPECT_EQ(messages[0], NetTest::binaryPattern(1));
    EXPECT_EQ(messages[3], NetTest::binaryPattern(60000));
    // The sender-aware signal follows the plain one for each datagram.
    EXPECT_TRUE(Corvexis::Test::waitUntil([&] {
        std::lock_guard lock(sendersMutex);
        return senders.size() == 4;
    }));
    {
        std::lock_guard lock(sendersMutex);
        EXPECT_EQ(senders, std::vector<std::string>(4, "127.0.0.1"));
    }

    aToB.sendMessage(NetTest::binaryPattern(77));
    ASSERT_TRUE(atB.waitForCount(1));
    EXPECT_EQ(atB.messages().front(), NetTest::binaryPattern(77));

    // A shared message is one datagram like any other (a null one is ignored), and stays as it was.
    const auto shared = std::make_shared<const ByteBuffer>(NetTest::binaryPattern(500));
    aToB.sendMessage(UDPSocket<ByteBuffer>::MessagePtr());
    aToB.sendMessage(shared);
    ASSERT_TRUE(atB.waitForCount(2));
    EXPECT_EQ(atB.messages(), (std::vector<ByteBuffer>{NetTest::binaryPattern(77), *shared}));
    EXPECT_EQ(*shared, NetTest::binaryPattern(500));
    EXPECT_EQ(b.signalMessageSent.connectionCount(), 0u);
}

TEST(UDPSocketTest, RunTwiceStartsOnceAndStopEndsReceivingUntilRunAgain)
{
    UDPSocket<std::string> receiver("127.0.0.1", 0, "", 0);
    UDPSocket<std::string> sender("127.0.0.1", 0, "127.0.0.1", receiver.localPort());
    Collector<std::string> received;
    receiver.signalMessageReceived.connect(received.receiver());
    Log::ScopedCapture capture;
    EXPECT_TRUE(receiver.run());
    EXPECT_TRUE(receiver.run());
    EXPECT_EQ(capture->count(Log::Level::Info, "UDPSession", "Started"), 1u);
    ASSERT_TRUE(sender.run());

    sender.sendMessage("one");
    ASSERT_TRUE(received.waitForCount(1));
    EXPECT_TRUE(receiver.stop());
    EXPECT_FALSE(receiver.isRunning());
    EXPECT_TRUE(receiver.stop());
    EXPECT_EQ(capture->count(Log::Level::Info, "UDPSession", "Stopped"), 1u);

    // Sent while stopped: waits in the socket's buffer and arrives after the next run.
    sender.sendMessage("two");
    ASSERT_TRUE(receiver.run());
    ASSERT_TRUE(received.waitForCount(2));
    EXPECT_EQ(received.messages(), (std::vector<std::string>{"one", "two"}));
}

TEST(UDPSocketTest, SetUpIsLoggedAndAnUnusableOwnAddressRaises)
{
    Log::ScopedCapture capture;
    UDPSocket<std::string> socket("127.0.0.1", 0, "127.0.0.1", 9);
    EXPECT_TRUE(capture->contains(Log::Level::Info, "UDPSession", "Setup UDP communication to  127.0.0.1:9"));
    EXPECT_TRUE(capture->contains(Log::Level::Info, "UDPSession", "Listen on endpoint 127.0.0.1:0"));
    // 192.0.2.1 is reserved for documentation and belongs to no interface here.
    EXPECT_THROW(UDPSocket<std::string>("192.0.2.1", 0, "", 0), boost::system::system_error);
    EXPECT_ANY_THROW(UDPSocket<std::string>("not an address", 0, "", 0));
}

TEST(UDPSocketTest, MulticastGroupReceivesWhatASenderSendsToIt)
{
    const std::string group = "239.255.42.99";
    std::unique_ptr<UDPSocket<std::string>> receiver;
    try {
        // Port 0 would give the receiver a port the sender cannot know before it exists.
        UDPSocket<std::string> probe("127.0.0.1", 0, "", 0);
        const unsigned short port = probe.localPort();
        receiver = std::make_unique<UDPSocket<std::string>>(group, port, "", 0);
    } catch (const std::exception& e) {
        GTEST_SKIP() << "this machine cannot join a multicast group: " << e.what();
    }
    Collector<std::string> received;
    receiver->signalMessageReceived.connect(received.receiver());
    ASSERT_TRUE(receiver->run());
    std::unique_ptr<UDPSocket<std::string>> sender;
    try {
        // The any-address leaves the outgoing interface to the routing table, as for the group join.
        sender = std::make_unique<UDPSocket<std::string>>("0.0.0.0", 0, group, receiver->localPort());
    } catch (const std::exception& e) {
        GTEST_SKIP() << "this machine cannot send to a multicast group: " << e.what();
    }
    ASSERT_TRUE(sender->run());
    // Datagrams may be lost; a few tries, then the verdict.
    for (int i = 0; i < 5 && received.count() == 0; ++i) {
        sender->sendMessage("to the group");
        received.waitForCount(1, 200ms);
    }
    if (received.count() == 0)
        GTEST_SKIP() << "multicast over loopback is not routed on this machine";
    EXPECT_EQ(received.messages().front(), "to the group");
}

}  // namespace
}  // namespace Corvexis::Network
