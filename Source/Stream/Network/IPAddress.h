#pragma once

#include <string>

namespace Corvexis::Network {

// The text of a network address as a transport was given it. "localhost" is replaced by its first
// IPv4 address; anything that is not dotted IPv4 text is logged as invalid but kept unchanged, so
// that host names still reach the transports, which resolve them when they connect.
// A value type; caller synchronises.
class IPAddress
{
public:
    IPAddress() = default;
    explicit IPAddress(std::string text);

    void set(std::string text);
    const std::string& get() const { return address_; }

private:
    // Four groups of one to three digits separated by dots; octet values are not range-checked.
    static bool isValid(const std::string& text);
    // The first IPv4 address of `name`, or `name` itself when it cannot be resolved (logged).
    static std::string resolveHostname(const std::string& name);

    std::string address_;
};

}  // namespace Corvexis::Network
