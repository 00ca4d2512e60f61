#pragma once

#include <string>
#include <vector>

namespace Corvexis {

// Base of every plug-in object. The host creates it through the library's exported creation
// function, calls init() once, and destroys it at shut-down, before it unloads the library.
// Not copyable. Threading: caller synchronises (the host's main thread).
class PluginBase
{
public:
    enum class Status : int
    {
        Success = 0,
        Failure = 1,
    };

    PluginBase();
    virtual ~PluginBase();
    PluginBase(const PluginBase&) = delete;
    PluginBase& operator=(const PluginBase&) = delete;

    virtual std::string author() const = 0;
    virtual std::string description() const = 0;
    // Identifiers of plug-ins that must be loaded first; none by default.
    virtual std::vector<std::string> dependencies() const;
    // Registers what the plug-in offers. May throw; the host then skips the plug-in.
    virtual Status init() = 0;
};

}  // namespace Corvexis
