#pragma once

#include <cstddef>
#include <mutex>
#include <vector>

#include "Host/Core/SignalConnection.h"

namespace Corvexis {

// Base class of objects whose member callables are connected to signals. Connections made with
// Signal::connect(receiver, f) are tied to the receiver and disconnected when it is destroyed; the
// destruction waits for calls of them that are running on other threads (SignalConnection::disconnect).
//
// Rule for subclasses: call disconnectAll() first thing in the destructor. This base destructor runs
// after the subclass's members are gone, so a callable running on another thread meanwhile would
// touch destroyed members; disconnectAll() in the subclass destructor waits for it while they still
// exist.
//
// Copying or moving a receiver does not copy its connections: the new object starts with none (its
// callables would capture the other object), and assignment keeps the target's own connections.
class SignalReceiver
{
public:
    SignalReceiver() = default;
    SignalReceiver(const SignalReceiver&) {}
    SignalReceiver& operator=(const SignalReceiver&) { return *this; }
    // Disconnects every tied connection, waiting as disconnectAll() does. Caller synchronises (no other
    // operation on this receiver may run; callables running on other threads are waited for).
    virtual ~SignalReceiver();

    // Disconnects every connection tied to this receiver, including ones that its callables connect
    // while this runs. Each is disconnected as by SignalConnection::disconnect. Thread-safe.
    void disconnectAll();

    // Number of tied connections still connected. Thread-safe.
    size_t tiedConnectionCount() const;

private:
    template <typename... Args>
    friend class Signal;

    // Ties a connection to this receiver. Thread-safe.
    void tie(const SignalConnection& connection);

    mutable std::mutex mutex_;
    // guarded by mutex_
    std::vector<SignalConnection> connections_;
    // Size at which tie() next drops the handles of connections that ended meanwhile.
    size_t pruneAt_ = kMinimumPruneSize;

    static constexpr size_t kMinimumPruneSize = 16;
};

}  // namespace Corvexis
