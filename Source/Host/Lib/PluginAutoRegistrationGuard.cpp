#include "Host/Lib/PluginAutoRegistrationGuard.h"

#include <algorithm>
#include <mutex>

namespace Corvexis {

namespace {

// Function-local statics: guards are constructed while libraries load, possibly before this
// library's own namespace-scope objects would be.
struct Registry
{
    std::mutex mutex;
    // guarded by mutex
    std::vector<std::string> ids;
};

Registry& registry()
{
    static Registry instance;
    return instance;
}

}  // namespace

PluginAutoRegistrationGuard::PluginAutoRegistrationGuard(IdFunction id) : id_(id != nullptr ? id() : "")
{
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    r.ids.push_back(id_);
}

PluginAutoRegistrationGuard::~PluginAutoRegistrationGuard()
{
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    auto it = std::find(r.ids.begin(), r.ids.end(), id_);
    if (it != r.ids.end())
        r.ids.erase(it);
}

std::vector<std::string> PluginAutoRegistrationGuard::registeredIds()
{
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    return r.ids;
}

bool PluginAutoRegistrationGuard::isRegistered(const std::string& id)
{
    auto ids = registeredIds();
    return std::find(ids.begin(), ids.end(), id) != ids.end();
}

}  // namespace Corvexis
