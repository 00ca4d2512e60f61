#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <type_traits>
#include <utility>

#include "Host/Core/Log.h"
#include "Host/Core/SignalBlocker.h"
#include "Host/Core/SignalConnection.h"
#include "Host/Core/SignalImpl.h"
#include "Host/Core/SignalReceiver.h"
#include "Host/Core/SignalSlot.h"
#include "Host/Core/SignalThreadRecord.h"

namespace Corvexis {

// A thread-safe signal: emitSignal() calls every connected, unblocked callable synchronously on the
// emitting thread, in connection order, with the same arguments.
//
// Threading of every operation:
// - connect, disconnect (through SignalConnection or SignalReceiver), block, unblock, emitSignal,
//   disconnectAll and connectionCount are thread-safe: any thread may call any of them at any time,
//   concurrently with each other and with emissions on other threads.
// - No lock is held while a callable runs, so a callable may disconnect itself or others, connect new
//   callables, and emit this or other signals (recursion included) without deadlock. A callable
//   connected during an emission is first called by the next emission; one disconnected during an
//   emission is not called by the rest of it; a blocked one is skipped until unblocked.
// - Once disconnect() returns the callable is never called again, and disconnect() from another thread
//   waits for a call that is running; disconnect() from inside the callable does not wait for itself
//   (see SignalConnection::disconnect for the exact rule and the one way to deadlock).
// - Receivers run on the emitting thread and must be quick; hand slow work to another thread.
// - A callable that throws ends the emission: the exception reaches the emitter and the remaining
//   callables are not called for it.
// - Construction, destruction, moves: caller synchronises. The destructor disconnects everything,
//   waiting for calls running on other threads.
//
// Receivers: connect(receiver, f) ties the connection to a SignalReceiver, which disconnects it when
// destroyed. A SignalReceiver subclass must call disconnectAll() first thing in its destructor, while
// the members its callables use still exist; the base destructor runs too late for that.
//
// Lifetime: a callable is destroyed when its connection has ended and no emission that started
// before uses it any more: normally inside disconnect(), else on the thread of the last such emission.
template <typename... Args>
class Signal
{
public:
    using Function = std::function<void(Args...)>;

    Signal() : impl_(std::make_shared<SignalImpl>()) {}
    ~Signal() { impl_->disconnectAll(); }
    Signal(const Signal&) = delete;
    Signal& operator=(const Signal&) = delete;
    // The connections move with the signal; the moved-from signal is left empty and usable.
    Signal(Signal&& other) : impl_(std::exchange(other.impl_, std::make_shared<SignalImpl>())) {}
    Signal& operator=(Signal&& other)
    {
        if (this != &other) {
            impl_->disconnectAll();
            impl_ = std::exchange(other.impl_, std::make_shared<SignalImpl>());
        }
        return *this;
    }

    // Connects `f`, called after the callables connected before it. An empty `f` is refused with a
    // warning and an empty connection. Thread-safe.
    SignalConnection connect(Function f) { return connect(nullptr, std::move(f)); }
    // As above, and ties the connection to `receiver` (may be null), which disconnects it when it is
    // destroyed or its disconnectAll() is called. The receiver must be alive during this call.
    // Thread-safe.
    SignalConnection connect(SignalReceiver* receiver, Function f)
    {
        if (!f) {
            Log::log(Log::Level::Warning, "Signal", "Refused to connect an empty callable");
            return {};
        }
        auto slot = std::make_shared<Slot>(impl_, std::move(f));
        SignalConnection connection(slot);
        if (receiver)
            receiver->tie(connection);
        impl_->add(std::move(slot));
        return connection;
    }
    // Connects a member function of a receiver, tied to it. Thread-safe.
    template <typename Receiver>
    requires std::is_base_of_v<SignalReceiver, Receiver> SignalConnection
    connect(Receiver* receiver, void (Receiver::*method)(Args...))
    {
        return connect(receiver, [receiver, method](Args... args) { (receiver->*method)(args...); });
    }

    // Calls every connected, unblocked callable in connection order on the calling thread. Costs one
    // short lock to take the current list and one ordered store per callable; no heap allocation
    // (except the first emission of a thread, and nesting deeper than ever before on it). Thread-safe.
    void emitSignal(Args... args) const
    {
        const auto slots = impl_->snapshot();
        if (!slots)
            return;
        EmissionEntry emission;
        for (const auto& entry : *slots) {
            auto& slot = static_cast<Slot&>(*entry);
            if (!slot.enter(emission.entry))
                continue;
            CallGuard guard{emission.entry};
            slot.function(args...);
        }
    }

    // Disconnects every callable, with the waiting rule of disconnect(). Thread-safe.
    void disconnectAll() { impl_->disconnectAll(); }
    // Number of connected callables (blocked ones included). Thread-safe.
    size_t connectionCount() const { return impl_->connectionCount(); }

private:
    class Slot final : public SignalSlot
    {
    public:
        Slot(std::weak_ptr<SignalImpl> owner, Function f)
            : SignalSlot(std::move(owner)), function(std::move(f))
        {
        }

        const Function function;
    };

    // This emission's entry in the calling thread's record, for the whole emission.
    struct EmissionEntry
    {
        EmissionEntry() : record(SignalThreadRecord::current()), entry(record.push()) {}
        ~EmissionEntry() { record.pop(); }
        EmissionEntry(const EmissionEntry&) = delete;
        EmissionEntry& operator=(const EmissionEntry&) = delete;

        SignalThreadRecord& record;
        SignalThreadRecord::Entry& entry;
    };

    // Leaves the slot also when the callable throws.
    struct CallGuard
    {
        SignalThreadRecord::Entry& entry;
        ~CallGuard() { SignalSlot::leave(entry); }
    };

    std::shared_ptr<SignalImpl> impl_;
};

}  // namespace Corvexis
