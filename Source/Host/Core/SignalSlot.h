#pragma once

#include <atomic>
#include <memory>

#include "Host/Core/SignalThreadRecord.h"

namespace Corvexis {

class SignalImpl;

// The shared state of one connection: its connected and blocked flags. A slot is owned by the slot
// lists of its signal (the current one and those of emissions in progress); SignalConnection handles
// only observe it. Signal<Args...> derives the slot that holds the callable.
//
// Protocol between emission and disconnection, on atomics only: an emitter writes the slot into its
// thread's record entry (SignalThreadRecord) and then re-reads connected_; disconnect() clears
// connected_ and then scans the records. Both pairs are sequentially consistent, so either the emitter
// sees the slot disconnected and skips it, or disconnect() sees the call and waits for it to end. An
// emission thus costs one ordered store per callable and no shared counter.
class SignalSlot
{
public:
    explicit SignalSlot(std::weak_ptr<SignalImpl> owner);
    virtual ~SignalSlot();
    SignalSlot(const SignalSlot&) = delete;
    SignalSlot& operator=(const SignalSlot&) = delete;

    // Thread-safe.
    bool isConnected() const { return connected_.load(std::memory_order_acquire); }

    // Removes the slot from its signal, then waits until no other thread runs its callable, unless the
    // calling thread is itself inside the callable (then it returns at once: waiting would wait for
    // itself, and two threads both inside the callable would wait for each other). Once it returns, no
    // new call starts. The caller keeps the slot alive during the call. Thread-safe.
    void disconnect();

    // Blocking is counted: the slot is skipped while more block() than unblock() calls were made;
    // unblock() at zero does nothing. Calls in progress are not interrupted. Thread-safe.
    void block() { blockCount_.fetch_add(1, std::memory_order_acq_rel); }
    void unblock();
    bool isBlocked() const { return blockCount_.load(std::memory_order_acquire) > 0; }

    // Emission steps, used by Signal<Args...>::emitSignal on the emitting thread with the entry of its
    // emission. enter() returns true when the callable may be called; every true must be followed by
    // exactly one leave().
    bool enter(SignalThreadRecord::Entry& entry) noexcept
    {
        if (blockCount_.load(std::memory_order_relaxed) > 0 || !connected_.load(std::memory_order_relaxed))
            return false;
        entry.store(this);  // seq_cst: pairs with disconnect(), see the protocol above
        if (connected_.load())
            return true;
        leave(entry);
        return false;
    }
    // Release: what the callable did happens before a disconnecting thread sees the entry change.
    static void leave(SignalThreadRecord::Entry& entry) noexcept
    {
        entry.store(nullptr, std::memory_order_release);
    }

private:
    friend class SignalImpl;

    // Clears the connected flag; returns whether it was set. Thread-safe.
    bool markDisconnected() { return connected_.exchange(false); }
    // The waiting half of disconnect(), after the slot was marked and removed. Thread-safe.
    void waitForCallsOnOtherThreads() const;

    const std::weak_ptr<SignalImpl> owner_;
    std::atomic<bool> connected_{true};
    std::atomic<int> blockCount_{0};
};

}  // namespace Corvexis
