#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstring>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <igtlMessageBase.h>

#include "Stream/IGTL/LibraryAdapter.h"
#include "Support/TestUtil.h"

extern char** environ;

namespace Corvexis::IGTL::IgtlTest {

using Corvexis::Test::waitUntil;

// A free TCP port on loopback (bound, read back, released).
inline int freePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

// The packed bytes of a message.
inline std::vector<std::uint8_t> bytesOf(igtl::MessageBase& message)
{
    const auto* p = static_cast<const std::uint8_t*>(LibraryAdapter::bufferPointer(message));
    return {p, p + LibraryAdapter::bufferSize(message)};
}

// A plain TCP client on loopback that writes exactly what it is given, unbuffered (TCP_NODELAY), so
// each send() leaves as its own segment where the kernel allows.
class RawClient
{
public:
    // Connects, retrying until `timeout`; connected() says whether it worked.
    explicit RawClient(int port, std::chrono::milliseconds timeout = std::chrono::seconds(5))
    {
        waitUntil(
            [&] {
                fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
                sockaddr_in address{};
                address.sin_family = AF_INET;
                address.sin_port = htons(static_cast<std::uint16_t>(port));
                address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
                if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
                    return true;
                ::close(fd_);
                fd_ = -1;
                return false;
            },
            timeout);
        if (fd_ >= 0) {
            int one = 1;
            ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        }
    }
    ~RawClient() { closeNow(); }
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    bool connected() const { return fd_ >= 0; }
    bool send(const std::uint8_t* data, std::size_t size)
    {
        std::size_t done = 0;
        while (done < size) {
            const ssize_t n = ::send(fd_, data + done, size - done, MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            done += static_cast<std::size_t>(n);
        }
        return true;
    }
    bool send(const std::vector<std::uint8_t>& bytes) { return send(bytes.data(), bytes.size()); }
    // True when the peer closed its side (a read returns 0) within `timeout`.
    bool peerClosed(std::chrono::milliseconds timeout)
    {
        return waitUntil(
            [&] {
                std::uint8_t b = 0;
                const ssize_t n = ::recv(fd_, &b, 1, MSG_DONTWAIT);
                return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
            },
            timeout);
    }
    void closeNow()
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_ = -1;
};

// A reference peer program, started with its output (stdout and stderr) in a file; killed and reaped
// when destroyed.
class PeerProcess
{
public:
    static std::string peerPath(const std::string& name)
    {
        return std::string(CORVEXIS_IGTL_PEER_DIR) + "/" + name;
    }
    static bool available(const std::string& name) { return ::access(peerPath(name).c_str(), X_OK) == 0; }

    PeerProcess(const std::string& name, const std::vector<std::string>& args)
    {
        output_ =
            std::filesystem::temp_directory_path() / ("igtl-peer-" + name + "-" + std::to_string(::getpid()) +
                                                      "-" + std::to_string(counter()++) + ".log");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, output_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        std::vector<std::string> all{peerPath(name)};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~PeerProcess()
    {
        stop();
        std::error_code ignored;
        std::filesystem::remove(output_, ignored);
    }
    bool started() const { return pid_ > 0; }
    void stop()
    {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }
    // True once the process has ended by itself.
    bool exited()
    {
        if (pid_ <= 0)
            return true;
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return true;
        }
        return false;
    }
    std::string output() const
    {
        std::ifstream in(output_);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

private:
    static int& counter()
    {
        static int n = 0;
        return n;
    }
    pid_t pid_ = -1;
    std::filesystem::path output_;
};

// Counts of this process's threads and open descriptors (from /proc/self).
inline std::size_t countEntries(const char* directory)
{
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(directory))
        ++n;
    return n;
}

}  // namespace Corvexis::IGTL::IgtlTest

#include <memory>
#include <mutex>

#include "Stream/Framework/Stream.h"
#include "Stream/IGTL/Connection.h"

namespace Corvexis::IGTL::IgtlTest {

// Keeps every record a stream emits (thread-safe).
class RecordCollector
{
public:
    explicit RecordCollector(Stream& stream)
        : connection_(stream.signalStreamData.connect([this](const std::shared_ptr<const StreamData>& data) {
              std::lock_guard lock(mutex_);
              records_.push_back(data);
          }))
    {
    }
    ~RecordCollector() { connection_.disconnect(); }
    std::size_t size() const
    {
        std::lock_guard lock(mutex_);
        return records_.size();
    }
    std::vector<std::shared_ptr<const StreamData>> records() const
    {
        std::lock_guard lock(mutex_);
        return records_;
    }
    bool waitFor(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(10)) const
    {
        return waitUntil([&] { return size() >= count; }, timeout);
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<const StreamData>> records_;
    SignalConnection connection_;
};

// A server on a free port and a client connected to it, both ours.
struct LinkedPair
{
    std::unique_ptr<Connection> server;
    std::unique_ptr<Connection> client;

    explicit LinkedPair(bool crcCheck = false, bool reconnect = false)
    {
        server = std::make_unique<Connection>("Server", "localhost", 0, true, crcCheck, reconnect);
        server->openConnection();
        waitUntil([&] { return server->listeningPort() != 0; });
        client = std::make_unique<Connection>("Client", "127.0.0.1", server->listeningPort(), false, crcCheck,
                                              false);
        client->openConnection();
        waitUntil([&] { return server->isConnected() && client->isConnected(); });
    }
    bool linked() const { return server->isConnected() && client->isConnected(); }
};

}  // namespace Corvexis::IGTL::IgtlTest
