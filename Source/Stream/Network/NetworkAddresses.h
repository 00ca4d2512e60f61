#pragma once

#include <string>
#include <vector>

// Address helpers of the network transports. All functions are thread-safe.
namespace Corvexis::Network {

// The machine's addresses: "127.0.0.1" first when `includeLoopback`, then every address its host name
// resolves to (IPv4 and IPv6, resolver order, duplicates removed). A host name that does not resolve
// gives the list built so far (logged).
std::vector<std::string> getHostIPAddresses(bool includeLoopback);

// The local IPv4 address of the interface the default route uses. Sends nothing. Raises
// std::system_error when no such route exists.
std::string getPrimaryIPAddress();

// True when the dotted IPv4 `address` lies in `subnet` ("192.168.1.0/24"). Text that does not parse,
// or a prefix above 32, is logged and gives false.
bool isAddressInSubnet(const std::string& address, const std::string& subnet);

}  // namespace Corvexis::Network
