#include "Host/Core/SignalBlocker.h"

#include <utility>

namespace Corvexis {

SignalBlocker::SignalBlocker(SignalConnection connection) : connection_(std::move(connection))
{
    connection_.block();
}

SignalBlocker::~SignalBlocker()
{
    connection_.unblock();
}

}  // namespace Corvexis
