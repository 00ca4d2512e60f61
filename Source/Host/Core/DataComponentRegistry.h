#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Host/Core/DataComponentBase.h"

namespace Corvexis {

// Creates components by their id(), so that saved component lists can be read back. The host's own
// component types (VitalsDataComponent, TimestampDataComponent) are registered from the start;
// plug-ins register theirs at initialisation. Thread-safe.
class DataComponentRegistry
{
public:
    using Factory = std::function<std::unique_ptr<DataComponentBase>()>;

    static DataComponentRegistry& get();

    // Registers (or replaces) the factory for `id`. Thread-safe.
    void registerType(const std::string& id, Factory factory);
    // Registers a default-constructible component type under its own id(). Thread-safe.
    template <typename T>
    void registerType()
    {
        registerType(T().id(), [] { return std::make_unique<T>(); });
    }
    void unregisterType(const std::string& id);  // thread-safe
    // A new default component of type `id`, or null when unknown. Thread-safe.
    std::unique_ptr<DataComponentBase> create(const std::string& id) const;
    bool isRegistered(const std::string& id) const;    // thread-safe
    std::vector<std::string> registeredTypes() const;  // sorted; thread-safe

private:
    DataComponentRegistry();

    mutable std::mutex mutex_;
    // guarded by mutex_
    std::map<std::string, Factory> factories_;
};

}  // namespace Corvexis
