#include "Stream/Network/NetworkAddresses.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <exception>
#include <stdexcept>
#include <system_error>

#include <boost/asio/ip/address_v4.hpp>

#include "Host/Core/Log.h"

namespace Corvexis::Network {

namespace {

// Any well-known public address works: connecting a datagram socket only picks the route.
constexpr const char* kProbeAddress = "192.0.2.1";
constexpr std::uint16_t kProbePort = 53;

class FileDescriptor
{
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

[[noreturn]] void raiseErrno(const char* what)
{
    throw std::system_error(errno, std::system_category(), what);
}

}  // namespace

std::vector<std::string> getHostIPAddresses(bool includeLoopback)
{
    std::vector<std::string> addresses;
    if (includeLoopback)
        addresses.emplace_back("127.0.0.1");
    char hostName[1024] = {};
    if (gethostname(hostName, sizeof(hostName) - 1) != 0) {
        Log::log(Log::Level::Error, "Network.getHostIPAddresses", "gethostname failed");
        return addresses;
    }
    Log::log(Log::Level::Debug, "Network.getHostIPAddresses", std::string("Hostname: ") + hostName);

    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* result = nullptr;
    const int rc = getaddrinfo(hostName, nullptr, &hints, &result);
    if (rc != 0) {
        Log::log(Log::Level::Error, "Network.getHostIPAddresses",
                 std::string("getaddrinfo error: ") + gai_strerror(rc));
        return addresses;
    }
    const size_t resolvedFrom = addresses.size();
    for (const addrinfo* entry = result; entry != nullptr; entry = entry->ai_next) {
        char text[INET6_ADDRSTRLEN] = {};
        const void* raw = nullptr;
        if (entry->ai_family == AF_INET)
            raw = &reinterpret_cast<const sockaddr_in*>(entry->ai_addr)->sin_addr;
        else if (entry->ai_family == AF_INET6)
            raw = &reinterpret_cast<const sockaddr_in6*>(entry->ai_addr)->sin6_addr;
        if (raw == nullptr || inet_ntop(entry->ai_family, raw, text, sizeof(text)) == nullptr)
            continue;
        // One address per socket type would repeat otherwise; the loopback entry given first stays.
        if (std::find(addresses.begin() + static_cast<std::ptrdiff_t>(resolvedFrom), addresses.end(), text) ==
            addresses.end())
            addresses.emplace_back(text);
    }
    freeaddrinfo(result);
    return addresses;
}

std::string getPrimaryIPAddress()
{
    FileDescriptor fd(::socket(AF_INET, SOCK_DGRAM, 0));
    if (fd.get() < 0)
        raiseErrno("socket");
    sockaddr_in probe{};
    probe.sin_family = AF_INET;
    probe.sin_port = htons(kProbePort);
    inet_pton(AF_INET, kProbeAddress, &probe.sin_addr);
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&probe), sizeof(probe)) != 0)
        raiseErrno("connect");
    sockaddr_in local{};
    socklen_t length = sizeof(local);
    if (::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&local), &length) != 0)
        raiseErrno("getsockname");
    char text[INET_ADDRSTRLEN] = {};
    if (inet_ntop(AF_INET, &local.sin_addr, text, sizeof(text)) == nullptr)
        raiseErrno("inet_ntop");
    return text;
}

bool isAddressInSubnet(const std::string& address, const std::string& subnet)
{
    try {
        const auto host = boost::asio::ip::make_address_v4(address);
        const auto slash = subnet.find('/');
        if (slash == std::string::npos)
            throw std::invalid_argument("subnet without prefix length");
        const auto network = boost::asio::ip::make_address_v4(subnet.substr(0, slash));
        const std::string prefixText = subnet.substr(slash + 1);
        if (prefixText.empty() || prefixText.size() > 3 ||
            !std::all_of(prefixText.begin(), prefixText.end(), [](char c) { return c >= '0' && c <= '9'; }))
            throw std::invalid_argument("invalid prefix length");
        const int prefix = std::stoi(prefixText);
        if (prefix > 32)
            throw std::out_of_range("prefix length too large");
        // A shift by 32 is undefined, so prefix 0 is its own case.
        const std::uint32_t mask = prefix == 0 ? 0u : ~std::uint32_t{0} << (32 - prefix);
        return (host.to_uint() & mask) == (network.to_uint() & mask);
    } catch (const std::exception& e) {
        Log::log(Log::Level::Error, "Network.isAddressInSubnet",
                 std::string("Error parsing address or subnet: ") + e.what());
        return false;
    }
}

}  // namespace Corvexis::Network
