#include "Stream/IGTL/DeviceImpl.h"

#include "Stream/IGTL/Connection.h"

namespace Corvexis::IGTL {

DeviceImpl::DeviceImpl(Connection* connection, std::string deviceName, std::string igtlType)
    : deviceName_(std::move(deviceName)), igtlType_(std::move(igtlType)), connection_(connection)
{
    bindConnection();
}

DeviceImpl::~DeviceImpl()
{
    unbindConnection();
}

void DeviceImpl::bindConnection()
{
    Connection* connection = nullptr;
    {
        std::lock_guard lock(mutex_);
        connection = connection_;
    }
    if (connection == nullptr)
        return;
    connection->addFilter(deviceName_, igtlType_);
    SignalConnection deleted = connection->signalDeleted.connect([this] { onConnectionDeleted(); });
    std::lock_guard lock(mutex_);
    deletedSubscription_ = deleted;
    bound_.store(true);
}

void DeviceImpl::unbindConnection()
{
    // Disconnect outside the mutex: a disconnect waits for a running onConnectionDeleted, which needs it.
    Connection* connection = nullptr;
    SignalConnection message;
    SignalConnection deleted;
    {
        std::lock_guard lock(mutex_);
        connection = connection_;
        message = messageSubscription_;
        deleted = deletedSubscription_;
    }
    deleted.disconnect();
    message.disconnect();
    std::lock_guard lock(mutex_);
    if (connection != nullptr && connection_ == connection)
        connection->removeFilter(deviceName_, igtlType_);
    connection_ = nullptr;
    hasCallback_ = false;
    bound_.store(false);
}

void DeviceImpl::onConnectionDeleted()
{
    SignalConnection message;
    {
        std::lock_guard lock(mutex_);
        connection_ = nullptr;
        bound_.store(false);
        message = messageSubscription_;
        hasCallback_ = false;
    }
    message.disconnect();
}

Connection* DeviceImpl::connection() const
{
    std::lock_guard lock(mutex_);
    return connection_;
}

bool DeviceImpl::addCallback(Callback callback)
{
    removeCallback();
    std::lock_guard lock(mutex_);
    if (connection_ == nullptr || !callback)
        return false;
    messageSubscription_ = connection_->signalMessageReceived.connect(
        [callback = std::move(callback)](const ParsedMessage& message) { callback(message); });
    hasCallback_ = true;
    return true;
}

bool DeviceImpl::removeCallback()
{
    SignalConnection message;
    {
        std::lock_guard lock(mutex_);
        message = messageSubscription_;
        messageSubscription_ = SignalConnection();
        hasCallback_ = false;
    }
    message.disconnect();
    return true;
}

bool DeviceImpl::sendMessage(igtl::MessageBase& message)
{
    std::lock_guard lock(mutex_);
    if (connection_ == nullptr)
        return false;
    return connection_->sendMessage(message);
}

}  // namespace Corvexis::IGTL
