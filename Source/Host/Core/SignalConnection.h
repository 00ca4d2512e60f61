#pragma once

#include <memory>

namespace Corvexis {

class SignalSlot;

// A copyable handle on one connection made by Signal::connect. It does not keep the connection or its
// callable alive: once the connection is disconnected (or its signal destroyed) and no emission uses
// it any more, the handle reports it disconnected and every operation does nothing. A default-
// constructed handle refers to no connection.
//
// The operations are thread-safe; copying and assigning one handle object is caller synchronises,
// as for std::shared_ptr.
class SignalConnection
{
public:
    SignalConnection() = default;
    // Used by Signal::connect. Thread-safe.
    explicit SignalConnection(std::weak_ptr<SignalSlot> slot) : slot_(std::move(slot)) {}

    // Removes the connection from its signal. Once it returns the callable is not called again, and
    // no call of it is running on another thread, except when called from inside the callable itself:
    // then it returns at once without waiting for itself (nor for concurrent calls of the same
    // callable on other threads). Disconnecting twice is harmless. Thread-safe.
    //
    // Deadlock rule: a callable that disconnects a connection whose callable may at that moment be
    // running on another thread waits for it; two callables doing that to each other from two threads
    // wait forever, as with locks taken in opposite orders.
    void disconnect() const;
    // Thread-safe.
    bool isConnected() const;

    // Counted blocking: the callable is skipped by emissions while block() has been called more often
    // than unblock(); extra unblock() calls do nothing. A call already running is not interrupted.
    // Prefer SignalBlocker, which pairs the two. Thread-safe.
    void block() const;
    void unblock() const;
    bool isBlocked() const;

    // Handles are equal when they refer to the same connection (all empty handles are equal).
    // Thread-safe.
    bool operator==(const SignalConnection& other) const;

private:
    std::weak_ptr<SignalSlot> slot_;
};

}  // namespace Corvexis
