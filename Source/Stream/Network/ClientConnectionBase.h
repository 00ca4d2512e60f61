#pragma once

#include "Stream/Network/TypedConnectionBase.h"

namespace Corvexis::Network {

// A connection that reaches out to one server.
template <typename T>
class ClientConnectionBase : public TypedConnectionBase<T>
{
public:
    ~ClientConnectionBase() override = default;

    // Starts a new connection attempt and waits at most `timeoutMs` milliseconds for it; true when
    // connected. Thread-safe.
    virtual bool connect(int timeoutMs) = 0;
    // Thread-safe.
    virtual bool isConnected() const = 0;
    // Ends the current connection and joins its thread. Thread-safe (not from a signal receiver of this
    // connection: that would join the calling thread).
    virtual void disconnect() = 0;
};

}  // namespace Corvexis::Network
