#include "Stream/Video/VideoCameraIoFactory.h"

#include <algorithm>
#include <exception>

#include "Host/Core/Log.h"

namespace Corvexis {

namespace {
constexpr const char* kCategory = "Stream.VideoCameraIoFactory";
}

VideoCameraIoFactory& VideoCameraIoFactory::get()
{
    static VideoCameraIoFactory factory;
    return factory;
}

bool VideoCameraIoFactory::registerBackend(const std::string& name, EnumerateFunction enumerate,
                                           CreateFunction create)
{
    if (name.empty() || !enumerate || !create)
        return false;
    std::lock_guard lock(mutex_);
    backends_[name] = Backend{std::move(enumerate), std::move(create)};
    return true;
}

bool VideoCameraIoFactory::unregisterBackend(const std::string& name)
{
    std::lock_guard lock(mutex_);
    return backends_.erase(name) > 0;
}

std::vector<std::string> VideoCameraIoFactory::backends(bool onlyWithDevices) const
{
    std::vector<std::string> names;
    {
        std::lock_guard lock(mutex_);
        for (const auto& entry : backends_)
            names.push_back(entry.first);
    }
    std::sort(names.begin(), names.end());
    if (onlyWithDevices)
        std::erase_if(names, [this](const std::string& name) { return devices(name).empty(); });
    return names;
}

std::vector<VideoCameraIoFactory::DeviceInfo> VideoCameraIoFactory::devices(const std::string& backend) const
{
    EnumerateFunction enumerate;
    {
        std::lock_guard lock(mutex_);
        const auto found = backends_.find(backend);
        if (found == backends_.end())
            return {};
        enumerate = found->second.enumerate;
    }
    try {
        return enumerate();
    } catch (const std::exception& e) {
        Log::log(Log::Level::Error, kCategory, "Listing the devices of " + backend + " failed: " + e.what());
        return {};
    }
}

std::unique_ptr<VideoCameraStream> VideoCameraIoFactory::openDevice(const std::string& backend,
                                                                    const std::string& devicePath) const
{
    CreateFunction create;
    {
        std::lock_guard lock(mutex_);
        const auto found = backends_.find(backend);
        if (found == backends_.end())
            return nullptr;
        create = found->second.create;
    }
    try {
        return create(devicePath);
    } catch (const std::exception& e) {
        Log::log(Log::Level::Error, kCategory,
                 "Creating a camera of " + backend + " on " + devicePath + " failed: " + e.what());
        return nullptr;
    }
}

}  // namespace Corvexis
