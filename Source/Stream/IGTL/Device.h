#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <igtlMessageBase.h>

#include "Stream/IGTL/DeviceImpl.h"

namespace Corvexis::IGTL {

class Connection;

// One named endpoint on a connection: it receives the messages of its device name and type, or sends
// them. Its DeviceImpl binds it to the connection from construction until resetConnection() or its
// destruction; a device whose connection was destroyed first stays alive, unbound, and its sends fail.
//
// Threading: every operation is thread-safe (implMutex_ guards the DeviceImpl pointer; the DeviceImpl
// locks itself). Callbacks run on the connection's receiver thread.
class Device
{
public:
    // Direction of a device kind.
    enum class IO
    {
        Input,
        Output,
    };

    Device(Connection* connection, std::string deviceName, std::string igtlType,
           std::vector<std::string> compatibleTypes);
    virtual ~Device();
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    const std::string& deviceName() const { return deviceName_; }
    const std::string& deviceIgtlType() const { return igtlType_; }
    const std::vector<std::string>& compatibleIgtlTypes() const { return compatibleTypes_; }
    // True when `type` is in the compatible list (an empty list is compatible with nothing).
    bool isCompatible(const std::string& type) const;
    // Bound to a live connection. Thread-safe.
    bool isConnected() const;
    // Unbinds for good. Thread-safe (waits for a callback running on another thread).
    void resetConnection();
    // The bound connection, or null. Thread-safe.
    Connection* boundConnection() const;

protected:
    bool addCallback(DeviceImpl::Callback callback);
    bool removeCallback();
    bool sendMessage(igtl::MessageBase& message) const;
    // Call first in a subclass destructor: no callback reaches a half-destroyed subclass afterwards.
    void unbind() { resetConnection(); }

private:
    const std::string deviceName_;
    const std::string igtlType_;
    const std::vector<std::string> compatibleTypes_;
    mutable std::mutex implMutex_;
    // guarded by implMutex_ (the pointer; the object locks itself)
    std::shared_ptr<DeviceImpl> impl_;
};

}  // namespace Corvexis::IGTL
