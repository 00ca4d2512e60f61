#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

#include "Host/Core/SignalSlot.h"

namespace Corvexis {

// The type-independent core of a Signal: the list of connected slots in connection order.
//
// The list is immutable once published. Connecting or disconnecting builds a new list under mutex_
// and swaps it in; an emission takes a reference to the current list under the same mutex and
// iterates it with no lock held, so callables may connect, disconnect and emit freely, and an
// emission costs no heap allocation. A slot that is disconnected while an older list is being
// iterated is skipped through its own flag (SignalSlot).
//
// Lists are released outside mutex_, because releasing one may destroy callables and run their
// captures' destructors.
class SignalImpl
{
public:
    using SlotList = std::vector<std::shared_ptr<SignalSlot>>;

    SignalImpl() = default;
    ~SignalImpl();
    SignalImpl(const SignalImpl&) = delete;
    SignalImpl& operator=(const SignalImpl&) = delete;

    // The current list, or nullptr when nothing is connected. Thread-safe.
    std::shared_ptr<const SlotList> snapshot() const
    {
        std::lock_guard lock(mutex_);
        return slots_;
    }

    // Appends a slot made for this signal, unless it was disconnected already (a receiver may have
    // disconnected it between its creation and this call). Thread-safe.
    void add(std::shared_ptr<SignalSlot> slot);
    // Takes a slot out of the list; does nothing when it is not there. Thread-safe.
    void remove(const SignalSlot* slot);
    // Disconnects every slot, with the waiting rule of SignalSlot::disconnect(). Thread-safe.
    void disconnectAll();
    // Thread-safe.
    size_t connectionCount() const;

private:
    mutable std::mutex mutex_;
    // guarded by mutex_
    std::shared_ptr<const SlotList> slots_;
};

}  // namespace Corvexis
