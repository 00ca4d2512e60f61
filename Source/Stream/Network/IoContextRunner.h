#pragma once

#include <exception>
#include <string>

#include <boost/asio/io_context.hpp>

#include "Host/Core/Log.h"
#include "Host/Core/ThreadName.h"

namespace Corvexis::Network {

// The body of every network thread: names the thread and runs `context` until it runs out of work or
// is stopped. An exception escaping a handler (a signal receiver that threw) is logged under
// `category` and the loop goes on, so that one bad receiver does not end the connection's thread.
inline void runIoContext(boost::asio::io_context& context, const std::string& category,
                         const std::string& threadName)
{
    Threading::setCurrentThreadName(threadName);
    for (;;) {
        try {
            context.run();
            return;
        } catch (const std::exception& e) {
            Log::log(Log::Level::Error, category,
                     std::string("Exception on the network thread: ") + e.what());
        } catch (...) {
            Log::log(Log::Level::Error, category, "Unknown exception on the network thread");
        }
    }
}

}  // namespace Corvexis::Network
