#pragma once

#include <string>
#include <vector>

namespace Corvexis {

// A static object in every plug-in library: constructed when the library is loaded, destroyed when it
// is unloaded. While it lives the plug-in's identifier counts as loaded, so the host can tell which
// plug-ins are in the process, and duplicates of one plug-in are visible. Thread-safe.
class PluginAutoRegistrationGuard
{
public:
    using IdFunction = const char* (*)();

    explicit PluginAutoRegistrationGuard(IdFunction id);
    ~PluginAutoRegistrationGuard();
    PluginAutoRegistrationGuard(const PluginAutoRegistrationGuard&) = delete;
    PluginAutoRegistrationGuard& operator=(const PluginAutoRegistrationGuard&) = delete;

    // Identifiers of the live guards, in construction order (one entry per guard).
    static std::vector<std::string> registeredIds();
    static bool isRegistered(const std::string& id);

private:
    std::string id_;
};

}  // namespace Corvexis
