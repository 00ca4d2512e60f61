#include "Host/Core/SignalConnection.h"

#include "Host/Core/SignalSlot.h"

namespace Corvexis {

void SignalConnection::disconnect() const
{
    // The local reference keeps the slot alive while disconnect() releases the lists that held it.
    if (const auto slot = slot_.lock())
        slot->disconnect();
}

bool SignalConnection::isConnected() const
{
    const auto slot = slot_.lock();
    return slot && slot->isConnected();
}

void SignalConnection::block() const
{
    if (const auto slot = slot_.lock())
        slot->block();
}

void SignalConnection::unblock() const
{
    if (const auto slot = slot_.lock())
        slot->unblock();
}

bool SignalConnection::isBlocked() const
{
    const auto slot = slot_.lock();
    return slot && slot->isBlocked();
}

bool SignalConnection::operator==(const SignalConnection& other) const
{
    return !slot_.owner_before(other.slot_) && !other.slot_.owner_before(slot_);
}

}  // namespace Corvexis
