#include "Stream/IGTL/LibraryAdapter.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>

namespace Corvexis::IGTL {

namespace {

// Reaches the descriptor that igtl::Socket keeps protected, through a pointer to member formed in a
// derived class (legal access; no object of the derived class is ever made).
struct SocketAccess : igtl::Socket
{
    static int descriptorOf(igtl::Socket& socket) { return socket.*(&SocketAccess::m_SocketDescriptor); }
};

constexpr int kPollSliceMs = 100;

// Waits for `events` on fd: 1 ready, 0 time-out, -1 error (EINTR retried by the caller's loop).
int waitFor(int fd, short events, int timeoutMs)
{
    pollfd p{fd, events, 0};
    const int r = ::poll(&p, 1, timeoutMs);
    if (r < 0)
        return errno == EINTR ? 0 : -1;
    if (r == 0)
        return 0;
    if ((p.revents & (POLLERR | POLLNVAL)) != 0 && (p.revents & POLLIN) == 0)
        return -1;
    return 1;
}

LibraryAdapter::ReadResult readSome(int fd, std::uint8_t* out, std::size_t length, std::size_t& done,
                                    int firstByteTimeoutMs, const std::atomic<bool>& stop)
{
    int waitedMs = 0;
    while (done < length) {
        if (stop.load())
            return LibraryAdapter::ReadResult::Stopped;
        // Read what is there first; wait only when nothing is (one system call per chunk of a large body).
        const ssize_t n = ::recv(fd, out + done, length - done, MSG_DONTWAIT);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n == 0)
            return LibraryAdapter::ReadResult::Closed;
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return errno == ECONNRESET ? LibraryAdapter::ReadResult::Closed
                                       : LibraryAdapter::ReadResult::Failed;
        const int slice = done == 0 && firstByteTimeoutMs >= 0
                              ? std::min(kPollSliceMs, std::max(0, firstByteTimeoutMs - waitedMs))
                              : kPollSliceMs;
        const int ready = waitFor(fd, POLLIN, slice);
        if (ready < 0)
            return LibraryAdapter::ReadResult::Failed;
        if (ready == 0) {
            waitedMs += slice;
            if (done == 0 && firstByteTimeoutMs >= 0 && waitedMs >= firstByteTimeoutMs)
                return LibraryAdapter::ReadResult::TimedOut;
        }
    }
    return LibraryAdapter::ReadResult::Complete;
}

}  // namespace

std::size_t LibraryAdapter::bufferSize(igtl::MessageBase& message)
{
    const int size = message.GetPackSize();
    return size > 0 ? static_cast<std::size_t>(size) : 0;
}

std::size_t LibraryAdapter::bodySize(igtl::MessageBase& message)
{
    const int size = message.GetPackBodySize();
    return size > 0 ? static_cast<std::size_t>(size) : 0;
}

std::string LibraryAdapter::messageType(igtl::MessageBase& message)
{
    const char* type = message.GetDeviceType();
    return type != nullptr ? std::string(type) : std::string();
}

std::size_t LibraryAdapter::bodySizeToRead(igtl::MessageBase& message)
{
    const int size = message.GetBodySizeToRead();
    return size > 0 ? static_cast<std::size_t>(size) : 0;
}

std::uint64_t LibraryAdapter::rawBodySize(const std::uint8_t* header)
{
    std::uint64_t size = 0;
    for (int i = 0; i < 8; ++i)
        size = (size << 8) | header[42 + i];
    return size;
}

int LibraryAdapter::descriptor(igtl::Socket& socket)
{
    return SocketAccess::descriptorOf(socket);
}

void LibraryAdapter::closeSocket(igtl::Socket& socket)
{
    const int fd = descriptor(socket);
    socket.CloseSocket();
    if (fd >= 0)
        ::close(fd);
}

LibraryAdapter::ReadResult LibraryAdapter::receive(int fd, void* data, std::size_t length,
                                                   int firstByteTimeoutMs, const std::atomic<bool>& stop,
                                                   std::size_t* received)
{
    std::size_t done = 0;
    const ReadResult result =
        fd < 0 ? ReadResult::Failed
               : readSome(fd, static_cast<std::uint8_t*>(data), length, done, firstByteTimeoutMs, stop);
    if (received != nullptr)
        *received = done;
    return result;
}

LibraryAdapter::ReadResult LibraryAdapter::skip(int fd, std::size_t length, const std::atomic<bool>& stop,
                                                std::size_t* received)
{
    std::array<std::uint8_t, 64 * 1024> sink{};
    std::size_t total = 0;
    ReadResult result = ReadResult::Complete;
    while (total < length && result == ReadResult::Complete) {
        const std::size_t chunk = std::min(sink.size(), length - total);
        std::size_t done = 0;
        result = fd < 0 ? ReadResult::Failed : readSome(fd, sink.data(), chunk, done, -1, stop);
        total += done;
    }
    if (received != nullptr)
        *received = total;
    return result;
}

bool LibraryAdapter::send(int fd, const void* data, std::size_t length, int stallTimeoutMs)
{
    if (fd < 0)
        return false;
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    std::size_t done = 0;
    int stalledMs = 0;
    while (done < length) {
        const ssize_t n = ::send(fd, bytes + done, length - done, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            stalledMs = 0;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            return false;
        const int ready = waitFor(fd, POLLOUT, kPollSliceMs);
        if (ready < 0)
            return false;
        if (ready == 0) {
            stalledMs += kPollSliceMs;
            if (stalledMs >= stallTimeoutMs)
                return false;
        }
    }
    return true;
}

}  // namespace Corvexis::IGTL
