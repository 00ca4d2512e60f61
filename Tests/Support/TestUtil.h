#pragma once

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <random>
#include <thread>

namespace Corvexis::Test {

// Polls `condition` until it holds or `timeout` passes; returns its last value. Tests wait on a
// condition with a deadline instead of sleeping and hoping.
inline bool waitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds timeout = std::chrono::seconds(10))
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return condition();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// A TCP port in [lowest, highest], other than `avoid`, that was free on every address a moment ago; 0
// when 200 random picks found none. For peers that only accept ports in a range (picking at random keeps
// parallel test processes apart).
inline int freePortBetween(int lowest, int highest, int avoid = 0)
{
    static std::mt19937 random(static_cast<unsigned>(::getpid()));
    for (int attempt = 0; attempt < 200; ++attempt) {
        const int port = std::uniform_int_distribution<int>(lowest, highest)(random);
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_ANY);
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        const bool free = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        ::close(fd);
        if (free && port != avoid)
            return port;
    }
    return 0;
}

}  // namespace Corvexis::Test
