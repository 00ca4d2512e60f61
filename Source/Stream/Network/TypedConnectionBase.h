#pragma once

#include <memory>

#include "Host/Core/Signal.h"
#include "Stream/Network/ConnectionBase.h"

namespace Corvexis::Network {

// A connection carrying messages of type T: std::string for text messages, ByteBuffer for binary ones.
// What one message is on the wire depends on the transport (TCP delivers whatever one read returned,
// UDP one datagram, WebSocket one whole message).
template <typename T>
class TypedConnectionBase : public ConnectionBase
{
public:
    using Message = T;
    using MessagePtr = std::shared_ptr<const T>;

    ~TypedConnectionBase() override = default;

    // Queues `message` for sending; it is moved into the connection's own queue and written later on
    // the network thread. Thread-safe.
    virtual void sendMessage(T message) = 0;

    // Queues a message that stays shared: the connection keeps a reference until it is written and
    // copies nothing, so the same immutable bytes may go out again, or on several connections, or be a
    // received message passed on. A null pointer is ignored. The TCP and WebSocket transports queue the
    // pointer itself; the default copies the message into sendMessage(T). Thread-safe.
    virtual void sendMessage(MessagePtr message)
    {
        if (message)
            sendMessage(T(*message));
    }

    // One emission per received message, on the network thread that completed the read.
    Signal<MessagePtr> signalMessageReceived;
    // After a queued message was written (TCP transports only), with the written message, on the
    // network thread that completed the write.
    Signal<MessagePtr> signalMessageSent;
};

}  // namespace Corvexis::Network
