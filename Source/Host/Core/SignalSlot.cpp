#include "Host/Core/SignalSlot.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "Host/Core/SignalImpl.h"

namespace Corvexis {

SignalSlot::SignalSlot(std::weak_ptr<SignalImpl> owner) : owner_(std::move(owner)) {}

SignalSlot::~SignalSlot() = default;

void SignalSlot::disconnect()
{
    if (markDisconnected()) {
        if (const auto owner = owner_.lock())
            owner->remove(this);
    }
    // Also waited for when another thread disconnected first: the promise is that no call runs on
    // another thread once disconnect() returns, whoever cleared the flag.
    waitForCallsOnOtherThreads();
}

void SignalSlot::unblock()
{
    int count = blockCount_.load(std::memory_order_acquire);
    while (count > 0 && !blockCount_.compare_exchange_weak(count, count - 1, std::memory_order_acq_rel)) {
    }
}

void SignalSlot::waitForCallsOnOtherThreads() const
{
    if (const SignalThreadRecord* own = SignalThreadRecord::currentIfAny(); own && own->contains(this))
        return;
    // Emitters do not signal the end of a call (that would cost every emission a second ordered
    // operation), so poll: a few yields for the common short call, then sleeps growing to 1 ms, which
    // bounds the extra delay after a long call and costs next to nothing while waiting.
    auto pause = std::chrono::microseconds(20);
    for (int round = 0; SignalThreadRecord::isCalledOnOtherThread(this); ++round) {
        if (round < 16) {
            std::this_thread::yield();
        } else {
            std::this_thread::sleep_for(pause);
            pause = std::min<std::chrono::microseconds>(pause * 2, std::chrono::milliseconds(1));
        }
    }
}

}  // namespace Corvexis
