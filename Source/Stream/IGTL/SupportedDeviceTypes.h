#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "Stream/IGTL/Device.h"

namespace Corvexis {
class Data;
class Properties;
}  // namespace Corvexis

namespace Corvexis::IGTL {

class Connection;

// The registry of device kinds ("Igtlink Input Image Stream", ...): each kind's descriptor says its
// direction and makes a device of it on a connection. Every device is also a data item, so it is
// returned as one; dynamic_cast it to Device for the device side. The plug-in fills the registry at
// initialisation (DeviceKinds).
//
// Threading: every operation is thread-safe (one mutex guards the table). Creators run on the calling
// thread without the lock.
class SupportedDeviceTypes
{
public:
    // (connection, device name, input data for output data devices or null, stored properties or null).
    using Creator =
        std::function<std::unique_ptr<Data>(Connection&, const std::string&, Data*, const Properties*)>;
    struct Descriptor
    {
        std::string name;
        Device::IO io = Device::IO::Input;
        Creator create;
    };

    // Stores the descriptor under its name, replacing one stored before; a new name is appended to the
    // list of names. Thread-safe.
    static void registerDescriptor(Descriptor descriptor);
    // Names in registration order. Thread-safe.
    static std::vector<std::string> listSupported();
    static std::optional<Descriptor> descriptor(const std::string& name);
    // A device of `kind`, or null for an unknown kind or when its creator refuses (or throws, logged).
    static std::unique_ptr<Data> create(const std::string& kind, Connection& connection,
                                        const std::string& deviceName, Data* input,
                                        const Properties* properties);
    // Empties the registry (tests). Thread-safe.
    static void clear();

private:
    struct Table
    {
        std::mutex mutex;
        // guarded by mutex
        std::map<std::string, Descriptor> descriptors;
        std::vector<std::string> names;
    };
    static Table& table();
};

}  // namespace Corvexis::IGTL
