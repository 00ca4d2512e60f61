#include "Stream/Network/NetworkAddresses.h"

#include <gtest/gtest.h>

#include "Host/Core/Log.h"
#include "Stream/Network/IPAddress.h"

namespace Corvexis::Network {
namespace {

TEST(IPAddressTest, LocalhostBecomesItsFirstIPv4Address)
{
    Log::ScopedCapture capture;
    const IPAddress address("localhost");
    EXPECT_EQ(address.get(), "127.0.0.1");
    EXPECT_FALSE(capture->contains(Log::Level::Error, "IPAddress", "Invalid IP address"));
}

TEST(IPAddressTest, DottedTextIsAcceptedWithoutCheckingOctetRanges)
{
    Log::ScopedCapture capture;
    EXPECT_EQ(IPAddress("999.1.1.1").get(), "999.1.1.1");
    EXPECT_EQ(IPAddress("10.0.0.5").get(), "10.0.0.5");
    EXPECT_TRUE(capture->records().empty());
}

TEST(IPAddressTest, AnythingElseIsLoggedAndKeptUnchanged)
{
    for (const std::string text :
         {"1.2.3", " 10.0.0.5", "10.0.0.5 ", "example.invalid", "LocalHost", "1.2.3.4.5"}) {
        Log::ScopedCapture capture;
        IPAddress address(text);
        EXPECT_EQ(address.get(), text);
        EXPECT_EQ(capture->count(Log::Level::Error, "IPAddress", "Invalid IP address"), 1u) << text;
    }
}

TEST(NetworkAddressesTest, SubnetMembershipFollowsThePrefix)
{
    EXPECT_TRUE(isAddressInSubnet("192.168.1.17", "192.168.1.0/24"));
    EXPECT_FALSE(isAddressInSubnet("192.168.2.17", "192.168.1.0/24"));
    EXPECT_TRUE(isAddressInSubnet("192.168.1.17", "192.168.1.17/32"));
    EXPECT_FALSE(isAddressInSubnet("192.168.1.16", "192.168.1.17/32"));
    // The boundary bit of a /23 network.
    EXPECT_TRUE(isAddressInSubnet("10.0.1.255", "10.0.0.0/23"));
    EXPECT_FALSE(isAddressInSubnet("10.0.2.0", "10.0.0.0/23"));
    for (const char* any : {"0.0.0.0", "8.8.8.8", "255.255.255.255"})
        EXPECT_TRUE(isAddressInSubnet(any, "192.168.1.0/0")) << any;
}

TEST(NetworkAddressesTest, UnparsableInputIsLoggedAndOutside)
{
    for (const auto& [address, subnet] :
         std::vector<std::pair<std::string, std::string>>{{"192.168.1.17", "192.168.1.0/33"},
                                                          {"192.168.1.300", "192.168.1.0/24"},
                                                          {"192.168.1.17", "192.168.1.0"},
                                                          {"192.168.1.17", "192.168.1.0/x"}}) {
        Log::ScopedCapture capture;
        EXPECT_FALSE(isAddressInSubnet(address, subnet)) << address << " " << subnet;
        EXPECT_TRUE(capture->containsFragment(Log::Level::Error, "Network.isAddressInSubnet",
                                              "Error parsing address or subnet: "));
    }
    Log::ScopedCapture capture;
    isAddressInSubnet("192.168.1.17", "192.168.1.0/33");
    EXPECT_TRUE(
        capture->containsFragment(Log::Level::Error, "Network.isAddressInSubnet", "prefix length too large"));
}

TEST(NetworkAddressesTest, HostAddressesStartWithLoopbackOnlyWhenAsked)
{
    Log::ScopedCapture capture;
    const auto with = getHostIPAddresses(true);
    const auto without = getHostIPAddresses(false);
    ASSERT_FALSE(with.empty());
    EXPECT_EQ(with.front(), "127.0.0.1");
    EXPECT_EQ(std::vector<std::string>(with.begin() + 1, with.end()), without);
    EXPECT_TRUE(capture->containsFragment(Log::Level::Debug, "Network.getHostIPAddresses", "Hostname: "));
}

TEST(NetworkAddressesTest, PrimaryAddressIsDottedIPv4OrRaisesWithoutRoute)
{
    try {
        const std::string primary = getPrimaryIPAddress();
        EXPECT_EQ(IPAddress(primary).get(), primary);
        EXPECT_NE(primary, "0.0.0.0");
    } catch (const std::system_error& e) {
        GTEST_SKIP() << "this machine has no default route: " << e.what();
    }
}

}  // namespace
}  // namespace Corvexis::Network
