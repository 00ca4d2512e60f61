#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "Host/Core/ByteBuffer.h"
#include "Host/Core/SignalConnection.h"

// Helpers of the network tests: a plain blocking TCP socket that we drive byte by byte, a collector of
// received messages, deterministic payloads, and a child process whose output lines we can wait for.
namespace Corvexis::Network::NetTest {

using namespace std::chrono_literals;

// A blocking IPv4 TCP socket to 127.0.0.1, with reads bounded by a deadline.
class RawSocket
{
public:
    RawSocket() = default;
    ~RawSocket() { close(); }
    RawSocket(const RawSocket&) = delete;
    RawSocket& operator=(const RawSocket&) = delete;
    RawSocket(RawSocket&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

    bool connect(int port, int receiveBufferBytes = 0)
    {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        if (fd_ < 0)
            return false;
        if (receiveBufferBytes > 0)
            ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBufferBytes, sizeof(receiveBufferBytes));
        int one = 1;
        ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return ::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
    }

    bool sendAll(const void* data, std::size_t size)
    {
        const auto* bytes = static_cast<const char*>(data);
        while (size > 0) {
            const ssize_t n = ::send(fd_, bytes, size, MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            bytes += n;
            size -= static_cast<std::size_t>(n);
        }
        return true;
    }
    bool sendAll(const std::string& text) { return sendAll(text.data(), text.size()); }

    // Up to `size` bytes; 0 at end of stream or when nothing came before the deadline, -1 on errors.
    ssize_t receiveSome(void* data, std::size_t size, std::chrono::milliseconds timeout)
    {
        pollfd entry{fd_, POLLIN, 0};
        if (::poll(&entry, 1, static_cast<int>(timeout.count())) <= 0)
            return 0;
        return ::recv(fd_, data, size, 0);
    }

    // Exactly `size` bytes, or false at end of stream, error or deadline.
    bool receiveExact(void* data, std::size_t size, std::chrono::milliseconds timeout)
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        auto* bytes = static_cast<char*>(data);
        while (size > 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return false;
            const ssize_t n = receiveSome(bytes, size, left);
            if (n <= 0)
                return false;
            bytes += n;
            size -= static_cast<std::size_t>(n);
        }
        return true;
    }

    // True when the peer closed (end of stream or reset) before the deadline; data read meanwhile is
    // discarded.
    bool waitForClose(std::chrono::milliseconds timeout)
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        char buffer[4096];
        while (std::chrono::steady_clock::now() < deadline) {
            pollfd entry{fd_, POLLIN, 0};
            if (::poll(&entry, 1, 20) <= 0)
                continue;
            const ssize_t n = ::recv(fd_, buffer, sizeof(buffer), 0);
            if (n <= 0)
                return true;
        }
        return false;
    }

    void close()
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }
    int fd() const { return fd_; }

private:
    int fd_ = -1;
};

// Collects messages delivered on network threads; tests wait for a count with a deadline. The state
// is shared with the receivers it hands out, so a message arriving while the collector is destroyed
// (a connection that outlives it in the test) touches nothing freed.
template <typename T>
class Collector
{
public:
    void add(const std::shared_ptr<const T>& message) { state_->add(*message); }
    std::function<void(std::shared_ptr<const T>)> receiver()
    {
        return [state = state_](std::shared_ptr<const T> message) { state->add(*message); };
    }
    bool waitForCount(std::size_t count, std::chrono::milliseconds timeout = 10s)
    {
        std::unique_lock lock(state_->mutex);
        return state_->changed.wait_for(lock, timeout, [&] { return state_->messages.size() >= count; });
    }
    // Waits until the concatenated bytes reach `bytes` (for TCP, where reads split and join messages).
    bool waitForBytes(std::size_t bytes, std::chrono::milliseconds timeout = 10s)
    {
        std::unique_lock lock(state_->mutex);
        return state_->changed.wait_for(lock, timeout, [&] { return state_->bytes >= bytes; });
    }
    std::vector<T> messages() const
    {
        std::lock_guard lock(state_->mutex);
        return state_->messages;
    }
    std::string concatenated() const
    {
        std::lock_guard lock(state_->mutex);
        std::string all;
        for (const auto& m : state_->messages)
            all.append(reinterpret_cast<const char*>(m.data()), m.size());
        return all;
    }
    std::size_t bytes() const
    {
        std::lock_guard lock(state_->mutex);
        return state_->bytes;
    }
    std::size_t count() const
    {
        std::lock_guard lock(state_->mutex);
        return state_->messages.size();
    }

private:
    struct State
    {
        void add(const T& message)
        {
            std::lock_guard lock(mutex);
            messages.push_back(message);
            bytes += message.size();
            changed.notify_all();
        }

        std::mutex mutex;
        std::condition_variable changed;
        std::vector<T> messages;
        std::size_t bytes = 0;
    };

    std::shared_ptr<State> state_ = std::make_shared<State>();
};

// Disconnects when it goes out of scope, for receivers that capture locals of a test body while the
// connection they listen to lives on in a fixture.
class ScopedConnection
{
public:
    explicit ScopedConnection(SignalConnection connection) : connection_(std::move(connection)) {}
    ~ScopedConnection() { connection_.disconnect(); }
    ScopedConnection(const ScopedConnection&) = delete;
    ScopedConnection& operator=(const ScopedConnection&) = delete;

private:
    SignalConnection connection_;
};

// Deterministic payloads, the same as the Node.js peer makes: letters for text, a byte ramp for binary.
inline std::string textPattern(std::size_t length)
{
    std::string text(length, '\0');
    for (std::size_t i = 0; i < length; ++i)
        text[i] = static_cast<char>('a' + (i * 7 + length) % 26);
    return text;
}
inline ByteBuffer binaryPattern(std::size_t length)
{
    ByteBuffer buffer(length);
    for (std::size_t i = 0; i < length; ++i)
        buffer[i] = static_cast<std::uint8_t>((i * 31 + length) & 0xff);
    return buffer;
}
inline std::string asText(const ByteBuffer& buffer)
{
    return std::string(reinterpret_cast<const char*>(buffer.data()), buffer.size());
}

// A child process whose standard output is read line by line on a thread of our own. The destructor
// ends the child (SIGKILL by pid) and reaps it.
class ChildProcess
{
public:
    ChildProcess(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnvironment = {})
    {
        int pipeFds[2];
        if (::pipe(pipeFds) != 0)
            return;
        std::vector<std::string> environment = extraEnvironment;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(pipeFds[1], STDOUT_FILENO);
            ::close(pipeFds[0]);
            ::close(pipeFds[1]);
            for (const auto& entry : environment)
                ::putenv(const_cast<char*>(entry.c_str()));
            std::vector<char*> args;
            for (const auto& a : argv)
                args.push_back(const_cast<char*>(a.c_str()));
            args.push_back(nullptr);
            ::execvp(args[0], args.data());
            ::_exit(127);
        }
        ::close(pipeFds[1]);
        readFd_ = pipeFds[0];
        reader_ = std::thread([this] { readLines(); });
    }

    ~ChildProcess()
    {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            int status = 0;
            ::waitpid(pid_, &status, 0);
        }
        if (reader_.joinable())
            reader_.join();
        if (readFd_ >= 0)
            ::close(readFd_);
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return pid_ > 0; }

    // The first line starting with `prefix`, waiting up to `timeout`.
    std::optional<std::string> waitForLine(const std::string& prefix, std::chrono::milliseconds timeout)
    {
        std::unique_lock lock(mutex_);
        std::optional<std::string> found;
        changed_.wait_for(lock, timeout, [&] {
            for (const auto& line : lines_) {
                if (line.rfind(prefix, 0) == 0) {
                    found = line;
                    return true;
                }
            }
            return finished_;
        });
        return found;
    }

    std::vector<std::string> lines() const
    {
        std::lock_guard lock(mutex_);
        return lines_;
    }

private:
    void readLines()
    {
        std::string pending;
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::read(readFd_, buffer, sizeof(buffer));
            if (n <= 0)
                break;
            pending.append(buffer, static_cast<std::size_t>(n));
            std::size_t end;
            while ((end = pending.find('\n')) != std::string::npos) {
                {
                    std::lock_guard lock(mutex_);
                    lines_.push_back(pending.substr(0, end));
                }
                pending.erase(0, end + 1);
                changed_.notify_all();
            }
        }
        {
            std::lock_guard lock(mutex_);
            finished_ = true;
        }
        changed_.notify_all();
    }

    pid_t pid_ = -1;
    int readFd_ = -1;
    std::thread reader_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> lines_;
    bool finished_ = false;
};

}  // namespace Corvexis::Network::NetTest
