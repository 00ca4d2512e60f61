#include "Stream/IGTL/SupportedDeviceTypes.h"

#include <algorithm>

#include "Host/Core/Data.h"
#include "Host/Core/Log.h"

namespace Corvexis::IGTL {

SupportedDeviceTypes::Table& SupportedDeviceTypes::table()
{
    static Table instance;
    return instance;
}

void SupportedDeviceTypes::registerDescriptor(Descriptor descriptor)
{
    Table& t = table();
    std::lock_guard lock(t.mutex);
    if (std::find(t.names.begin(), t.names.end(), descriptor.name) == t.names.end())
        t.names.push_back(descriptor.name);
    const std::string name = descriptor.name;
    t.descriptors.insert_or_assign(name, std::move(descriptor));
}

std::vector<std::string> SupportedDeviceTypes::listSupported()
{
    Table& t = table();
    std::lock_guard lock(t.mutex);
    return t.names;
}

std::optional<SupportedDeviceTypes::Descriptor> SupportedDeviceTypes::descriptor(const std::string& name)
{
    Table& t = table();
    std::lock_guard lock(t.mutex);
    const auto it = t.descriptors.find(name);
    if (it == t.descriptors.end())
        return std::nullopt;
    return it->second;
}

std::unique_ptr<Data> SupportedDeviceTypes::create(const std::string& kind, Connection& connection,
                                                   const std::string& deviceName, Data* input,
                                                   const Properties* properties)
{
    const std::optional<Descriptor> found = descriptor(kind);
    if (!found || !found->create)
        return nullptr;
    try {
        return found->create(connection, deviceName, input, properties);
    } catch (const std::exception& e) {
        Log::log(Log::Level::Error, "IGTL.SupportedDeviceTypes",
                 "Could not create a device of kind '" + kind + "': " + e.what());
        return nullptr;
    }
}

void SupportedDeviceTypes::clear()
{
    Table& t = table();
    std::lock_guard lock(t.mutex);
    t.descriptors.clear();
    t.names.clear();
}

}  // namespace Corvexis::IGTL
