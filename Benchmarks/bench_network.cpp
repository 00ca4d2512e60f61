// Loopback throughput and round-trip time of the network transports against a plain blocking TCP socket
// pair written here as the reference.
// Throughput: 1 MiB binary messages from a client to a server, as fast as the sender may queue them
// (the sender keeps at most 16 MiB queued); measured until the server has received every byte. The
// producer hands the same immutable payload over again and again as a shared message, as the reference
// writes one buffer again and again; `*_copied` runs make each message as a copy of the payload instead. Each
// throughput run gives its rate (MB/s) and the CPU time of the whole process per GB moved (ms/GB),
// which is what to compare on a machine shared with other work.
// Round trip: a 64-byte message from the client, echoed by the server, and the next one sent when the
// echo is in, on the threads that own the sockets; median and 99th percentile over the samples.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "BlockingSocketIo.h"
#include "Host/Core/ByteBuffer.h"
#include "Stream/Network/TCPSocketClient.h"
#include "Stream/Network/TCPSocketServer.h"
#include "Stream/Network/WebsocketClient.h"
#include "Stream/Network/WebsocketServer.h"

namespace {

using namespace Corvexis;
using namespace Corvexis::Network;
using Bench::recvAll;
using Bench::sendAll;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kMessageBytes = 1 << 20;
constexpr std::size_t kMessages = 512;  // 512 MiB per throughput run
constexpr std::size_t kMaxQueued = 16 << 20;
constexpr std::size_t kRttBytes = 64;
constexpr int kRttWarmup = 200;
constexpr int kRttSamples = 5000;
constexpr std::size_t kRawReadBytes = 64 * 1024;

struct Rtt
{
    double medianUs;
    double p99Us;
};

Rtt summarise(std::vector<double> samplesUs)
{
    std::sort(samplesUs.begin(), samplesUs.end());
    return {samplesUs[samplesUs.size() / 2], samplesUs[samplesUs.size() * 99 / 100]};
}

double secondsSince(Clock::time_point begin)
{
    return std::chrono::duration<double>(Clock::now() - begin).count();
}

// CPU time of the whole process (every thread), in seconds.
double processCpuSeconds()
{
    timespec now{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// A throughput run: wall-clock rate and the CPU time the process spent per GB moved (all threads:
// producer, network threads, consumer). On a loaded machine the rate follows the load; the CPU time
// per GB hardly does, so it is what compares transports across runs.
struct Throughput
{
    double mbps;
    double cpuSecondsPerGB;
};

Throughput measured(std::uint64_t bytes, Clock::time_point begin, double cpuBegin)
{
    const double seconds = secondsSince(begin);
    const double cpu = processCpuSeconds() - cpuBegin;
    return {static_cast<double>(bytes) / seconds / 1e6, cpu / (static_cast<double>(bytes) / 1e9)};
}

void waitAtLeast(std::atomic<std::uint64_t>& value, std::uint64_t target)
{
    for (std::uint64_t seen = value.load(); seen < target; seen = value.load())
        value.wait(seen);
}

void add(std::atomic<std::uint64_t>& value, std::uint64_t amount)
{
    value.fetch_add(amount);
    value.notify_all();
}

ByteBuffer payload(std::size_t size)
{
    ByteBuffer buffer(size);
    for (std::size_t i = 0; i < size; ++i)
        buffer[i] = static_cast<std::uint8_t>(i * 13);
    return buffer;
}

enum class Producer
{
    Shared,  // sendMessage(std::shared_ptr<const ByteBuffer>): the payload itself, nothing copied
    Copied,  // sendMessage(ByteBuffer): a copy of the payload per message
};

// Our transports: Server and Client of the same message type ByteBuffer.
template <typename Server, typename Client>
Throughput transportThroughput(Producer producer)
{
    Server server("127.0.0.1", 0, 1);
    std::atomic<std::uint64_t> received{0};
    server.signalMessageReceived.connect(
        [&](std::shared_ptr<const ByteBuffer> m) { add(received, m->size()); });
    if (!server.run())
        throw std::runtime_error("server does not run");
    Client client("127.0.0.1", server.localPort());
    if (!client.connect(5000))
        throw std::runtime_error("client does not connect");
    const auto message = std::make_shared<const ByteBuffer>(payload(kMessageBytes));
    const double cpuBegin = processCpuSeconds();
    const auto begin = Clock::now();
    for (std::size_t i = 0; i < kMessages; ++i) {
        // A coarse poll: the producer must not take a core from the two network threads it measures.
        while (client.queuedBytes() > kMaxQueued)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (producer == Producer::Shared)
            client.sendMessage(message);
        else
            client.sendMessage(ByteBuffer(*message));
    }
    waitAtLeast(received, kMessages * kMessageBytes);
    return measured(kMessages * kMessageBytes, begin, cpuBegin);
}

// The producer's share of a `*_copied` run: each message is made as a copy of the payload, with as many
// messages alive as the sender's queue holds.
Throughput messageMaking()
{
    const ByteBuffer message = payload(kMessageBytes);
    std::deque<ByteBuffer> alive;
    const double cpuBegin = processCpuSeconds();
    const auto begin = Clock::now();
    for (std::size_t i = 0; i < kMessages; ++i) {
        alive.push_back(message);
        if (alive.size() > kMaxQueued / kMessageBytes)
            alive.pop_front();
    }
    alive.clear();
    return measured(kMessages * kMessageBytes, begin, cpuBegin);
}

// Ping-pong driven from the client's own network thread, as the reference drives it from the threads
// that own its sockets: the client's receiver takes the sample and sends the next ping.
template <typename Server, typename Client>
Rtt transportRtt()
{
    Server server("127.0.0.1", 0, 1);
    server.signalMessageReceived.connect(
        // The echo is the received message itself, passed on shared.
        [&](std::shared_ptr<const ByteBuffer> m) { server.sendMessage(std::move(m)); });
    if (!server.run())
        throw std::runtime_error("server does not run");
    Client client("127.0.0.1", server.localPort());
    const auto message = std::make_shared<const ByteBuffer>(payload(kRttBytes));
    std::vector<double> samples;
    samples.reserve(kRttWarmup + kRttSamples);
    std::atomic<std::uint64_t> rounds{0};
    Clock::time_point sentAt;
    std::size_t pending = 0;  // bytes of the current pong still to come (TCP may split it)
    client.signalMessageReceived.connect([&](std::shared_ptr<const ByteBuffer> m) {
        pending -= std::min(pending, m->size());
        if (pending > 0)
            return;
        samples.push_back(secondsSince(sentAt) * 1e6);
        if (samples.size() < static_cast<std::size_t>(kRttWarmup + kRttSamples)) {
            sentAt = Clock::now();
            pending = kRttBytes;
            client.sendMessage(message);
        }
        add(rounds, 1);
    });
    if (!client.connect(5000))
        throw std::runtime_error("client does not connect");
    while (server.connectedClients() == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    sentAt = Clock::now();
    pending = kRttBytes;
    client.sendMessage(message);
    waitAtLeast(rounds, kRttWarmup + kRttSamples);
    samples.erase(samples.begin(), samples.begin() + kRttWarmup);
    return summarise(std::move(samples));
}

// The reference: a connected pair of blocking TCP sockets on loopback.
struct RawPair
{
    int client = -1;
    int server = -1;

    RawPair()
    {
        const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof(address);
        if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
            ::listen(listener, 1) != 0 ||
            ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            throw std::runtime_error("raw listen");
        client = ::socket(AF_INET, SOCK_STREAM, 0);
        if (::connect(client, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0)
            throw std::runtime_error("raw connect");
        server = ::accept(listener, nullptr, nullptr);
        ::close(listener);
        int one = 1;
        ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
        ::setsockopt(server, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
    }
    ~RawPair()
    {
        ::close(client);
        ::close(server);
    }
};

Throughput rawThroughput(std::size_t readBytes)
{
    RawPair pair;
    const ByteBuffer message = payload(kMessageBytes);
    const std::uint64_t total = kMessages * kMessageBytes;
    const double cpuBegin = processCpuSeconds();
    const auto begin = Clock::now();
    std::thread reader([&] {
        std::vector<std::uint8_t> buffer(readBytes);
        std::uint64_t got = 0;
        while (got < total) {
            const ssize_t n = ::recv(pair.server, buffer.data(), buffer.size(), 0);
            if (n <= 0)
                break;
            got += static_cast<std::uint64_t>(n);
        }
    });
    for (std::size_t i = 0; i < kMessages; ++i)
        sendAll(pair.client, message.data(), message.size());
    reader.join();
    return measured(total, begin, cpuBegin);
}

Rtt rawRtt()
{
    RawPair pair;
    std::thread echo([&] {
        std::uint8_t buffer[kRttBytes];
        for (int i = 0; i < kRttWarmup + kRttSamples; ++i) {
            if (!recvAll(pair.server, buffer, kRttBytes) || !sendAll(pair.server, buffer, kRttBytes))
                return;
        }
    });
    const ByteBuffer message = payload(kRttBytes);
    std::uint8_t answer[kRttBytes];
    std::vector<double> samples;
    for (int i = 0; i < kRttWarmup + kRttSamples; ++i) {
        const auto begin = Clock::now();
        sendAll(pair.client, message.data(), kRttBytes);
        recvAll(pair.client, answer, kRttBytes);
        if (i >= kRttWarmup)
            samples.push_back(secondsSince(begin) * 1e6);
    }
    echo.join();
    return summarise(std::move(samples));
}

void figure(const char* name, double value, const char* unit)
{
    std::printf("FIGURE %s %.1f %s\n", name, value, unit);
    std::fflush(stdout);
}

// `name`_MBps and `name`_cpu_ms_per_GB.
void figures(const std::string& name, const Throughput& result)
{
    figure((name + "_MBps").c_str(), result.mbps, "MB/s");
    figure((name + "_cpu_ms_per_GB").c_str(), result.cpuSecondsPerGB * 1e3, "ms/GB");
}

}  // namespace

// Arguments, when given, pick what runs: "raw", "copy", "tcp", "ws", "tcp_copied", "ws_copied"
// (throughput) and "rtt" (round trips of all three); without arguments everything runs.
int main(int argc, char** argv)
{
    const auto wanted = [&](const char* name) {
        if (argc < 2)
            return true;
        for (int i = 1; i < argc; ++i)
            if (std::strcmp(argv[i], name) == 0)
                return true;
        return false;
    };
    try {
        if (wanted("raw")) {
            figures("raw_tcp", rawThroughput(kRawReadBytes));
            // The same reference reading at most 8192 bytes at a time.
            figures("raw_tcp_8k_reads", rawThroughput(8192));
        }
        if (wanted("copy"))
            figure("message_copy_cpu_ms_per_GB", messageMaking().cpuSecondsPerGB * 1e3, "ms/GB");
        using TcpServer = TCPSocketServer<ByteBuffer>;
        using TcpClient = TCPSocketClient<ByteBuffer>;
        using WsServer = WebsocketServer<ByteBuffer>;
        using WsClient = WebsocketClient<ByteBuffer>;
        if (wanted("tcp"))
            figures("tcp", transportThroughput<TcpServer, TcpClient>(Producer::Shared));
        if (wanted("ws"))
            figures("ws", transportThroughput<WsServer, WsClient>(Producer::Shared));
        if (wanted("tcp_copied"))
            figures("tcp_copied", transportThroughput<TcpServer, TcpClient>(Producer::Copied));
        if (wanted("ws_copied"))
            figures("ws_copied", transportThroughput<WsServer, WsClient>(Producer::Copied));
        if (wanted("rtt")) {
            const Rtt raw = rawRtt();
            figure("raw_rtt_median_us", raw.medianUs, "us");
            figure("raw_rtt_p99_us", raw.p99Us, "us");
            const Rtt tcp = transportRtt<TCPSocketServer<ByteBuffer>, TCPSocketClient<ByteBuffer>>();
            figure("tcp_rtt_median_us", tcp.medianUs, "us");
            figure("tcp_rtt_p99_us", tcp.p99Us, "us");
            const Rtt ws = transportRtt<WebsocketServer<ByteBuffer>, WebsocketClient<ByteBuffer>>();
            figure("ws_rtt_median_us", ws.medianUs, "us");
            figure("ws_rtt_p99_us", ws.p99Us, "us");
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_network: %s\n", e.what());
        return 1;
    }
    return 0;
}
