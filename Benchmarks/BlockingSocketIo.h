#pragma once

// Whole-buffer transfers on a blocking socket, for the plain reference peers of the network benchmarks.

#include <sys/socket.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>

namespace Corvexis::Bench {

// Sends all `size` bytes; false when the peer is gone or the socket fails (no SIGPIPE).
inline bool sendAll(int fd, const std::uint8_t* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Receives exactly `size` bytes; false at end of stream or on a failure.
inline bool recvAll(int fd, std::uint8_t* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::recv(fd, data, size, 0);
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace Corvexis::Bench
