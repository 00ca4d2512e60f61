#include "Host/Lib/Video/CameraDirectory.h"

#include <algorithm>
#include <exception>

#include "Host/Core/Log.h"

namespace Corvexis {

CameraDirectory& CameraDirectory::get()
{
    static CameraDirectory directory;
    return directory;
}

void CameraDirectory::publish(const std::string& backend, Lister lister)
{
    if (backend.empty() || !lister)
        return;
    std::lock_guard lock(mutex_);
    listers_[backend] = std::move(lister);
}

void CameraDirectory::withdraw(const std::string& backend)
{
    std::lock_guard lock(mutex_);
    listers_.erase(backend);
}

std::vector<std::string> CameraDirectory::backends() const
{
    std::vector<std::string> names;
    {
        std::lock_guard lock(mutex_);
        for (const auto& entry : listers_)
            names.push_back(entry.first);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<CameraDirectory::Device> CameraDirectory::devices(const std::string& backend) const
{
    Lister lister;
    {
        std::lock_guard lock(mutex_);
        const auto found = listers_.find(backend);
        if (found == listers_.end())
            return {};
        lister = found->second;
    }
    try {
        return lister();
    } catch (const std::exception& e) {
        Log::log(Log::Level::Error, "CameraDirectory",
                 "Listing the cameras of " + backend + " failed: " + e.what());
        return {};
    }
}

}  // namespace Corvexis
