#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>

#include <igtlMessageBase.h>

#include "Host/Core/SignalConnection.h"
#include "Stream/IGTL/ParsedMessage.h"

namespace Corvexis::IGTL {

class Connection;

// Binds one device to a connection: registers the device's (name, type) filter pair, subscribes the
// device's message callback, and follows the connection's destruction, after which sends fail quietly
// and connection() is null. Destroying it unbinds.
//
// Threading: every operation is thread-safe. mutex_ guards the connection pointer and the callback;
// it is held during a send, so the connection cannot go away in the middle of one (its deletion
// notification waits for the mutex). The message callback runs on the connection's receiver thread.
class DeviceImpl
{
public:
    using Callback = std::function<bool(const ParsedMessage&)>;

    // Binds at once (connection may be null: the device starts unbound).
    DeviceImpl(Connection* connection, std::string deviceName, std::string igtlType);
    virtual ~DeviceImpl();
    DeviceImpl(const DeviceImpl&) = delete;
    DeviceImpl& operator=(const DeviceImpl&) = delete;

    // The connection while bound, else null. Thread-safe.
    Connection* connection() const;
    bool isBound() const { return bound_.load(); }

    // Subscribes `callback` to the connection's messages (replacing a previous one). False when unbound.
    // Thread-safe.
    bool addCallback(Callback callback);
    // Unsubscribes and drops the callback; waits for a call running on the receiver thread unless called
    // from it. True. Thread-safe.
    bool removeCallback();
    // Connection::sendMessage while bound, else false. Thread-safe.
    bool sendMessage(igtl::MessageBase& message);

private:
    void bindConnection();
    void unbindConnection();
    void onConnectionDeleted();

    const std::string deviceName_;
    const std::string igtlType_;
    mutable std::mutex mutex_;
    // guarded by mutex_
    Connection* connection_ = nullptr;
    SignalConnection messageSubscription_;
    SignalConnection deletedSubscription_;
    bool hasCallback_ = false;
    std::atomic<bool> bound_{false};
};

}  // namespace Corvexis::IGTL
