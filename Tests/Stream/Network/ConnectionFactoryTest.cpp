#include "Stream/Network/ConnectionFactory.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "Host/Core/ByteBuffer.h"
#include "Host/Core/Log.h"
#include "Stream/Network/TCPSocketClient.h"
#include "Stream/Network/TCPSocketServer.h"
#include "Stream/Network/UDPSocket.h"
#include "Stream/Network/WebsocketClient.h"
#include "Stream/Network/WebsocketServer.h"

namespace Corvexis::Network {
namespace {

template <typename T>
class ConnectionFactoryTest : public ::testing::Test
{
};
using MessageTypes = ::testing::Types<std::string, ByteBuffer>;
TYPED_TEST_SUITE(ConnectionFactoryTest, MessageTypes);

TYPED_TEST(ConnectionFactoryTest, OffersExactlyTheFiveBuiltInProtocols)
{
    auto names = ConnectionFactory<TypeParam>::instance().supportedConnections();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"TCP Socket Client", "TCP Socket Server", "UDP Socket",
                                               "Websocket Client", "Websocket Server"}));
}

TYPED_TEST(ConnectionFactoryTest, PropertiesHoldEveryParameterWithItsDefault)
{
    const auto& factory = ConnectionFactory<TypeParam>::instance();
    const std::optional<Properties> server = factory.connectionProperties("TCP Socket Server");
    ASSERT_TRUE(server);
    EXPECT_EQ(server->paramNames(), (std::vector<std::string>{"hostIp", "hostPort", "threads"}));
    EXPECT_EQ(server->param<std::string>("hostIp", "x"), "");
    EXPECT_EQ(server->param<int>("hostPort", -1), 0);
    EXPECT_EQ(server->param<int>("threads", -1), 1);

    const std::optional<Properties> client = factory.connectionProperties("Websocket Client");
    ASSERT_TRUE(client);
    EXPECT_EQ(client->paramNames(), (std::vector<std::string>{"hostIp", "hostPort", "connectionTimeout"}));
    EXPECT_EQ(client->param<int>("connectionTimeout", -1), 50);

    const std::optional<Properties> udp = factory.connectionProperties("UDP Socket");
    ASSERT_TRUE(udp);
    EXPECT_EQ(udp->paramNames(), (std::vector<std::string>{"ownIp", "ownPort", "peerIp", "peerPort"}));

    EXPECT_FALSE(factory.connectionProperties("Carrier Pigeon"));
}

TYPED_TEST(ConnectionFactoryTest, CreatesTheRegisteredClassFromPropertiesOverDefaults)
{
    const auto& factory = ConnectionFactory<TypeParam>::instance();
    Log::ScopedCapture capture;
    Properties properties;
    properties.setParam("hostIp", "10.0.0.5");
    // No "hostPort": the default 0 is used, so the server listens on a free port.
    auto connection = factory.createConnection("TCP Socket Server", properties);
    auto* server = dynamic_cast<TCPSocketServer<TypeParam>*>(connection.get());
    ASSERT_NE(server, nullptr);
    EXPECT_EQ(server->address(), "10.0.0.5:0");
    EXPECT_FALSE(server->isRunning());  // the blueprint does not run it
    EXPECT_GT(server->localPort(), 0);

    auto client = factory.createConnection("TCP Socket Client", Properties());
    ASSERT_TRUE(dynamic_cast<TCPSocketClient<TypeParam>*>(client.get()));
    EXPECT_FALSE(dynamic_cast<TCPSocketClient<TypeParam>*>(client.get())->isConnected());

    Properties udpProperties;
    udpProperties.setParam("ownIp", "127.0.0.1");
    auto udp = factory.createConnection("UDP Socket", udpProperties);
    ASSERT_TRUE(dynamic_cast<UDPSocket<TypeParam>*>(udp.get()));

    EXPECT_EQ(factory.createConnection("Carrier Pigeon", Properties()), nullptr);
}

TYPED_TEST(ConnectionFactoryTest, WebsocketClientBlueprintConnectsOnceAndReturnsTheClientEitherWay)
{
    const auto& factory = ConnectionFactory<TypeParam>::instance();
    WebsocketServer<TypeParam> server("127.0.0.1", 0, 1);
    ASSERT_TRUE(server.run());
    Properties properties;
    properties.setParam("hostIp", "127.0.0.1");
    properties.setParam("hostPort", server.localPort());
    properties.setParam("connectionTimeout", 2000);
    auto connected = factory.createConnection("Websocket Client", properties);
    auto* client = dynamic_cast<WebsocketClient<TypeParam>*>(connected.get());
    ASSERT_NE(client, nullptr);
    EXPECT_TRUE(client->isConnected());

    // Nothing listens on the port of a stopped server: the client comes back unconnected.
    const int port = server.localPort();
    connected.reset();
    server.stop();
    properties.setParam("hostPort", port);
    properties.setParam("connectionTimeout", 60);
    auto unconnected = factory.createConnection("Websocket Client", properties);
    ASSERT_NE(unconnected, nullptr);
    EXPECT_FALSE(dynamic_cast<WebsocketClient<TypeParam>*>(unconnected.get())->isConnected());
}

TEST(ConnectionFactoryRegistrationTest, ReplacingAProtocolWarnsOnceAndUsesTheNewCallables)
{
    // A copy, so the process-wide table stays as it is for the other tests.
    ConnectionFactory<std::string> factory = ConnectionFactory<std::string>::instance();
    int made = 0;
    ConnectionBlueprint<std::string> replacement;
    replacement.protocol = "UDP Socket";
    replacement.makeProperties = [] {
        Properties properties;
        properties.setParam("marker", 7);
        return properties;
    };
    replacement.makeConnection =
        [&made](const Properties& properties) -> std::unique_ptr<TypedConnectionBase<std::string>> {
        made = properties.param<int>("marker", -1);
        return nullptr;
    };
    Log::ScopedCapture capture;
    EXPECT_TRUE(factory.registerBlueprint(std::move(replacement)));
    EXPECT_EQ(capture->records().size(), 1u);
    EXPECT_TRUE(
        capture->contains(Log::Level::Warning, "ConnectionFactory",
                          "The connection protocol was already registered, overwriting the previous entry"));
    EXPECT_EQ(factory.supportedConnections().size(), 5u);
    EXPECT_EQ(factory.createConnection("UDP Socket", Properties()), nullptr);
    EXPECT_EQ(made, 7);
    EXPECT_EQ(factory.connectionProperties("UDP Socket")->paramNames(), std::vector<std::string>{"marker"});
    // The shared instance still makes real sockets.
    EXPECT_EQ(ConnectionFactory<std::string>::instance().connectionProperties("UDP Socket")->paramCount(),
              4u);
}

}  // namespace
}  // namespace Corvexis::Network
