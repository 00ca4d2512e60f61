#include "Stream/IGTL/Device.h"

#include <algorithm>

namespace Corvexis::IGTL {

Device::Device(Connection* connection, std::string deviceName, std::string igtlType,
               std::vector<std::string> compatibleTypes)
    : deviceName_(std::move(deviceName)),
      igtlType_(std::move(igtlType)),
      compatibleTypes_(std::move(compatibleTypes)),
      impl_(std::make_shared<DeviceImpl>(connection, deviceName_, igtlType_))
{
}

Device::~Device()
{
    resetConnection();
}

bool Device::isCompatible(const std::string& type) const
{
    return std::find(compatibleTypes_.begin(), compatibleTypes_.end(), type) != compatibleTypes_.end();
}

bool Device::isConnected() const
{
    std::lock_guard lock(implMutex_);
    return impl_ && impl_->connection() != nullptr;
}

Connection* Device::boundConnection() const
{
    std::lock_guard lock(implMutex_);
    return impl_ ? impl_->connection() : nullptr;
}

void Device::resetConnection()
{
    std::shared_ptr<DeviceImpl> impl;
    {
        std::lock_guard lock(implMutex_);
        impl = std::move(impl_);
    }
    impl.reset();
}

bool Device::addCallback(DeviceImpl::Callback callback)
{
    std::shared_ptr<DeviceImpl> impl;
    {
        std::lock_guard lock(implMutex_);
        impl = impl_;
    }
    return impl && impl->addCallback(std::move(callback));
}

bool Device::removeCallback()
{
    std::shared_ptr<DeviceImpl> impl;
    {
        std::lock_guard lock(implMutex_);
        impl = impl_;
    }
    return !impl || impl->removeCallback();
}

bool Device::sendMessage(igtl::MessageBase& message) const
{
    std::shared_ptr<DeviceImpl> impl;
    {
        std::lock_guard lock(implMutex_);
        impl = impl_;
    }
    return impl && impl->sendMessage(message);
}

}  // namespace Corvexis::IGTL
