#include "Host/Core/DataComponentRegistry.h"

#include "Host/Core/TimestampDataComponent.h"
#include "Host/Core/VitalsDataComponent.h"

namespace Corvexis {

DataComponentRegistry& DataComponentRegistry::get()
{
    static DataComponentRegistry registry;
    return registry;
}

DataComponentRegistry::DataComponentRegistry()
{
    registerType<VitalsDataComponent>();
    registerType<TimestampDataComponent>();
}

void DataComponentRegistry::registerType(const std::string& id, Factory factory)
{
    std::lock_guard lock(mutex_);
    factories_[id] = std::move(factory);
}

void DataComponentRegistry::unregisterType(const std::string& id)
{
    std::lock_guard lock(mutex_);
    factories_.erase(id);
}

std::unique_ptr<DataComponentBase> DataComponentRegistry::create(const std::string& id) const
{
    Factory factory;
    {
        std::lock_guard lock(mutex_);
        auto it = factories_.find(id);
        if (it == factories_.end())
            return nullptr;
        factory = it->second;
    }
    // Called outside the lock so that a component's constructor may use the registry.
    return factory();
}

bool DataComponentRegistry::isRegistered(const std::string& id) const
{
    std::lock_guard lock(mutex_);
    return factories_.count(id) != 0;
}

std::vector<std::string> DataComponentRegistry::registeredTypes() const
{
    std::lock_guard lock(mutex_);
    std::vector<std::string> ids;
    for (const auto& [id, factory] : factories_)
        ids.push_back(id);
    return ids;
}

}  // namespace Corvexis
