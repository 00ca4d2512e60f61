#include "Host/Core/SignalImpl.h"

#include <algorithm>
#include <utility>

namespace Corvexis {

SignalImpl::~SignalImpl() = default;

void SignalImpl::add(std::shared_ptr<SignalSlot> slot)
{
    std::shared_ptr<const SlotList> previous;
    {
        auto next = std::make_shared<SlotList>();
        std::lock_guard lock(mutex_);
        // Checked under mutex_: remove() also runs under it after the flag was cleared, so a slot
        // disconnected concurrently is either not added or added and then removed.
        if (!slot->isConnected())
            return;
        if (slots_) {
            next->reserve(slots_->size() + 1);
            *next = *slots_;
        }
        next->push_back(std::move(slot));
        previous = std::exchange(slots_, std::move(next));
    }
}

void SignalImpl::remove(const SignalSlot* slot)
{
    std::shared_ptr<const SlotList> previous;
    {
        std::lock_guard lock(mutex_);
        if (!slots_)
            return;
        const auto found = std::find_if(slots_->begin(), slots_->end(),
                                        [slot](const auto& entry) { return entry.get() == slot; });
        if (found == slots_->end())
            return;
        std::shared_ptr<SlotList> next;
        if (slots_->size() > 1) {
            next = std::make_shared<SlotList>();
            next->reserve(slots_->size() - 1);
            next->insert(next->end(), slots_->begin(), found);
            next->insert(next->end(), found + 1, slots_->end());
        }
        previous = std::exchange(slots_, std::move(next));
    }
}

void SignalImpl::disconnectAll()
{
    std::shared_ptr<const SlotList> previous;
    {
        std::lock_guard lock(mutex_);
        previous = std::exchange(slots_, nullptr);
    }
    if (!previous)
        return;
    // Mark all first, so that no new call of any of them starts while we wait for the first one.
    for (const auto& slot : *previous)
        slot->markDisconnected();
    for (const auto& slot : *previous)
        slot->waitForCallsOnOtherThreads();
}

size_t SignalImpl::connectionCount() const
{
    std::lock_guard lock(mutex_);
    return slots_ ? slots_->size() : 0;
}

}  // namespace Corvexis
