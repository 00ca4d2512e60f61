// OpenIGTLink on loopback, against plain sockets moving the same bytes in the same run.
// Latency: TRANSFORM messages sent at 1 kHz by a plain socket client to our server, measured from just
// before send() to the emission of the tracking record by our IgtlTrackingStream (median, p99). The
// reference is a plain ping-pong of the same 106 bytes (client sends, the peer reads them whole and
// echoes them), its round trip.
// Throughput: 640 x 480 unsigned-byte IMAGE messages written back to back into our server and emitted
// by our IgtlImageStream, against a plain reader that receives the same bytes message by message; seven
// alternating rounds of 400 messages each, so that both meet the same machine load, medians reported.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "BlockingSocketIo.h"
#include "Host/Core/Log.h"
#include "Host/Core/MemImage.h"
#include "Stream/Framework/StreamData.h"
#include "Stream/IGTL/Connection.h"
#include "Stream/IGTL/Conversion.h"
#include "Stream/IGTL/IgtlImageStream.h"
#include "Stream/IGTL/IgtlTrackingStream.h"
#include "Stream/IGTL/LibraryAdapter.h"

namespace {

using namespace Corvexis;
using Bench::recvAll;
using Bench::sendAll;
using Clock = std::chrono::steady_clock;

constexpr int kLatencyMessages = 3000;  // 3 s at 1 kHz
constexpr int kImageMessages = 400;     // per round
constexpr int kImageRounds = 7;

std::int64_t nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

int connectTo(int port)
{
    for (int attempt = 0; attempt < 500; ++attempt) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<std::uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
            int one = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            return fd;
        }
        ::close(fd);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
}

// A listening socket on a free loopback port.
int listenOn(int* port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(fd, 1);
    socklen_t length = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
    *port = ntohs(a.sin_port);
    return fd;
}

std::vector<std::uint8_t> bytesOf(igtl::MessageBase& m)
{
    const auto* p = static_cast<const std::uint8_t*>(IGTL::LibraryAdapter::bufferPointer(m));
    return {p, p + IGTL::LibraryAdapter::bufferSize(m)};
}

double percentile(std::vector<double> values, double p)
{
    std::sort(values.begin(), values.end());
    const std::size_t i =
        std::min(values.size() - 1, static_cast<std::size_t>(p * static_cast<double>(values.size())));
    return values[i];
}

// Sleeps until `deadline` without drifting (1 kHz pacing).
void waitUntil(Clock::time_point deadline)
{
    std::this_thread::sleep_until(deadline - std::chrono::microseconds(200));
    while (Clock::now() < deadline) {
    }
}

void benchTransformLatency()
{
    IGTL::Connection server("Bench", "localhost", 0, true, false, false);
    server.openConnection();
    while (server.listeningPort() == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    IGTL::IgtlTrackingStream stream(&server, "Bench", "TRANSFORM");
    std::vector<std::int64_t> sentNs(kLatencyMessages, 0);
    std::vector<double> latencyUs(kLatencyMessages, -1.0);
    std::atomic<int> received{0};
    stream.signalStreamData.connect([&](const std::shared_ptr<const StreamData>&) {
        const std::int64_t t = nowNs();
        const int i = received.fetch_add(1);
        if (i < kLatencyMessages)
            latencyUs[static_cast<std::size_t>(i)] =
                static_cast<double>(t - sentNs[static_cast<std::size_t>(i)]) / 1000.0;
    });
    stream.open();
    stream.start();
    const int fd = connectTo(server.listeningPort());
    while (!server.isConnected())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    TrackingInstrument instrument;
    const auto bytes = bytesOf(*IGTL::Conversion::instrumentToTransform(instrument, "Bench", 1));
    auto next = Clock::now();
    for (int i = 0; i < kLatencyMessages; ++i) {
        next += std::chrono::milliseconds(1);
        waitUntil(next);
        sentNs[static_cast<std::size_t>(i)] = nowNs();
        sendAll(fd, bytes.data(), bytes.size());
    }
    while (received.load() < kLatencyMessages)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ::close(fd);

    // Plain ping-pong of the same bytes at the same pace.
    int port = 0;
    const int listener = listenOn(&port);
    std::thread echo([&] {
        const int peer = ::accept(listener, nullptr, nullptr);
        int one = 1;
        ::setsockopt(peer, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        std::vector<std::uint8_t> buffer(bytes.size());
        while (recvAll(peer, buffer.data(), buffer.size()) && sendAll(peer, buffer.data(), buffer.size())) {
        }
        ::close(peer);
    });
    const int client = connectTo(port);
    std::vector<double> rttUs;
    std::vector<std::uint8_t> back(bytes.size());
    next = Clock::now();
    for (int i = 0; i < kLatencyMessages; ++i) {
        next += std::chrono::milliseconds(1);
        waitUntil(next);
        const std::int64_t t0 = nowNs();
        sendAll(client, bytes.data(), bytes.size());
        recvAll(client, back.data(), back.size());
        rttUs.push_back(static_cast<double>(nowNs() - t0) / 1000.0);
    }
    ::close(client);
    echo.join();
    ::close(listener);

    std::printf("FIGURE igtl_transform_median_us %.1f us\n", percentile(latencyUs, 0.5));
    std::printf("FIGURE igtl_transform_p99_us %.1f us\n", percentile(latencyUs, 0.99));
    std::printf("FIGURE raw_pingpong_median_us %.1f us\n", percentile(rttUs, 0.5));
    std::fflush(stdout);
}

// One round: kImageMessages written back to back; messages per second until the last was emitted.
double igtlImageRound(const std::vector<std::uint8_t>& bytes)
{
    IGTL::Connection server("Bench", "localhost", 0, true, false, false);
    server.openConnection();
    while (server.listeningPort() == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    IGTL::IgtlImageStream stream(&server, "Bench");
    std::atomic<int> received{0};
    std::atomic<std::int64_t> lastNs{0};
    stream.signalStreamData.connect([&](const std::shared_ptr<const StreamData>&) {
        lastNs.store(nowNs());
        received.fetch_add(1);
    });
    stream.open();
    stream.start();
    const int fd = connectTo(server.listeningPort());
    while (!server.isConnected())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const std::int64_t start = nowNs();
    for (int i = 0; i < kImageMessages; ++i)
        sendAll(fd, bytes.data(), bytes.size());
    while (received.load() < kImageMessages)
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    ::close(fd);
    return kImageMessages / (static_cast<double>(lastNs.load() - start) / 1e9);
}

// The same bytes to a plain reader that receives them message by message into one buffer.
double rawImageRound(const std::vector<std::uint8_t>& bytes)
{
    int port = 0;
    const int listener = listenOn(&port);
    std::atomic<std::int64_t> rawEnd{0};
    std::thread reader([&] {
        const int peer = ::accept(listener, nullptr, nullptr);
        std::vector<std::uint8_t> buffer(bytes.size());
        for (int i = 0; i < kImageMessages && recvAll(peer, buffer.data(), buffer.size()); ++i) {
        }
        rawEnd.store(nowNs());
        ::close(peer);
    });
    const int client = connectTo(port);
    const std::int64_t rawStart = nowNs();
    for (int i = 0; i < kImageMessages; ++i)
        sendAll(client, bytes.data(), bytes.size());
    reader.join();
    ::close(client);
    ::close(listener);
    return kImageMessages / (static_cast<double>(rawEnd.load() - rawStart) / 1e9);
}

// Alternating rounds, so that both see the same machine load; the medians are reported.
void benchImageThroughput()
{
    auto image = MemImage::create(ImageDescriptor(ImageDescriptor::kUByte, 640, 480));
    for (std::size_t i = 0; i < image->byteSize(); ++i)
        static_cast<std::uint8_t*>(image->data())[i] = static_cast<std::uint8_t>(i * 13);
    const auto bytes =
        bytesOf(*IGTL::Conversion::imageToMessage(*image, Eigen::Matrix4d::Identity(), 1, "Bench"));
    std::vector<double> igtl;
    std::vector<double> raw;
    for (int round = 0; round < kImageRounds; ++round) {
        igtl.push_back(igtlImageRound(bytes));
        raw.push_back(rawImageRound(bytes));
    }
    std::printf("FIGURE igtl_image_msgs_per_s %.0f msgs/s\n", percentile(igtl, 0.5));
    std::printf("FIGURE raw_image_msgs_per_s %.0f msgs/s\n", percentile(raw, 0.5));
}

}  // namespace

int main()
{
    Log::setLevel(Log::Level::Error);
    benchTransformLatency();
    benchImageThroughput();
    return 0;
}
