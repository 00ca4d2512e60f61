#pragma once

#include "Host/Core/SignalConnection.h"

namespace Corvexis {

// Blocks one connection for its lifetime (SignalConnection::block, then unblock on destruction).
// Blocking is counted, so blockers of the same connection may nest and may live on different threads.
// An empty or ended connection makes a blocker that does nothing. Construction and destruction are
// thread-safe; one blocker object is caller synchronises.
class SignalBlocker
{
public:
    explicit SignalBlocker(SignalConnection connection);
    ~SignalBlocker();
    SignalBlocker(const SignalBlocker&) = delete;
    SignalBlocker& operator=(const SignalBlocker&) = delete;

private:
    const SignalConnection connection_;
};

}  // namespace Corvexis
