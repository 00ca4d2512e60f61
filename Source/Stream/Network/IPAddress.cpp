#include "Stream/Network/IPAddress.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <regex>

#include "Host/Core/Log.h"

namespace Corvexis::Network {

namespace {
constexpr const char* kCategory = "IPAddress";
}

IPAddress::IPAddress(std::string text)
{
    set(std::move(text));
}

void IPAddress::set(std::string text)
{
    if (text == "localhost")
        text = resolveHostname(text);
    if (!isValid(text))
        Log::log(Log::Level::Error, kCategory, "Invalid IP address");
    address_ = std::move(text);
}

bool IPAddress::isValid(const std::string& text)
{
    // std::regex_match on a shared const regex is safe from several threads.
    static const std::regex kDottedQuad(R"((\d{1,3}\.){3}\d{1,3})", std::regex::ECMAScript);
    return std::regex_match(text, kDottedQuad);
}

std::string IPAddress::resolveHostname(const std::string& name)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* result = nullptr;
    const int rc = getaddrinfo(name.c_str(), nullptr, &hints, &result);
    if (rc != 0) {
        Log::log(Log::Level::Error, kCategory, std::string("getaddrinfo error: ") + gai_strerror(rc));
        return name;
    }
    std::string resolved = name;
    if (result == nullptr || result->ai_addr == nullptr) {
        Log::log(Log::Level::Error, kCategory, "Invalid address info received");
    } else {
        char text[22] = {};
        const auto* in = reinterpret_cast<const sockaddr_in*>(result->ai_addr);
        if (inet_ntop(AF_INET, &in->sin_addr, text, sizeof(text)) == nullptr)
            Log::log(Log::Level::Error, kCategory, "Error converting address to string");
        else
            resolved = text;
    }
    freeaddrinfo(result);
    return resolved;
}

}  // namespace Corvexis::Network
