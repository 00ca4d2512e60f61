#pragma once

#include <string>

#include <boost/system/error_code.hpp>

#include "Host/Core/Log.h"

namespace Corvexis::Network {

// The error line of the TCP and WebSocket transports for a failed asynchronous operation `what`
// ("resolve", "connect", "read", "write", ...): "Connection error <value> : <what>: <message>", at
// error level under `category`. Thread-safe.
inline void logConnectionError(const char* category, const boost::system::error_code& ec, const char* what)
{
    Log::log(Log::Level::Error, category,
             "Connection error " + std::to_string(ec.value()) + " : " + what + ": " + ec.message());
}

}  // namespace Corvexis::Network
