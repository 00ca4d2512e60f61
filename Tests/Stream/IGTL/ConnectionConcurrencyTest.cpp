#include "Stream/IGTL/Connection.h"

#include <gtest/gtest.h>

#include "Host/Core/Log.h"
#include "Stream/Framework/TrackingStreamData.h"
#include "Stream/IGTL/Conversion.h"
#include "Stream/IGTL/IgtlTestUtil.h"
#include "Stream/IGTL/IgtlTrackingOutStream.h"
#include "Stream/IGTL/IgtlTrackingStream.h"

namespace Corvexis::IGTL {
namespace {

using Corvexis::Test::waitUntil;

std::vector<std::uint8_t> transformBytes(int index)
{
    TrackingInstrument instrument;
    instrument.matrix(0, 3) = index;
    return IgtlTest::bytesOf(*Conversion::instrumentToTransform(instrument, "Cycle", 1000 + index));
}

TEST(ConnectionConcurrencyTest, ServerWithReconnectServesFiftyClientsWithoutLeakingThreadsOrDescriptors)
{
    Log::ScopedCapture capture;
    Connection server("Cycler", "localhost", 0, true, false, true);
    std::atomic<int> received{0};
    server.signalMessageReceived.connect([&](const ParsedMessage&) { received.fetch_add(1); });
    ASSERT_TRUE(server.openConnection());
    ASSERT_TRUE(waitUntil([&] { return server.listeningPort() != 0; }));
    const std::size_t threadsBefore = IgtlTest::countEntries("/proc/self/task");
    const std::size_t descriptorsBefore = IgtlTest::countEntries("/proc/self/fd");

    constexpr int kCycles = 50;
    double worstAcceptMs = 0.0;
    // Each client connects as soon as the previous one has left, without waiting for the server to
    // notice; the time counts from the previous client's close to the arrival of the new one's message.
    auto left = std::chrono::steady_clock::now();
    for (int i = 0; i < kCycles; ++i) {
        IgtlTest::RawClient client(server.listeningPort());
        ASSERT_TRUE(client.connected()) << i;
        ASSERT_TRUE(client.send(transformBytes(i)));
        ASSERT_TRUE(waitUntil([&] { return received.load() == i + 1; }, std::chrono::seconds(10))) << i;
        const double acceptMs =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - left).count();
        worstAcceptMs = std::max(worstAcceptMs, acceptMs);
        EXPECT_LT(acceptMs, 1000.0) << "client " << i << " waited too long to be served";
        client.closeNow();
        left = std::chrono::steady_clock::now();
    }
    ASSERT_TRUE(waitUntil([&] { return server.status() == ConnectionStatus::WaitingForClient; }));
    EXPECT_EQ(capture->count(Log::Level::Warning, "IGTL.Connection", "Cycler: Connection is terminated."),
              static_cast<std::size_t>(kCycles));
    EXPECT_FALSE(
        capture->containsFragment(Log::Level::Warning, "IGTL.Connection", "connection request was ignored"));
    // The last receiver has left; its thread is gone once it has been reaped by the next accept or close.
    EXPECT_TRUE(waitUntil([&] { return IgtlTest::countEntries("/proc/self/fd") <= descriptorsBefore; }))
        << IgtlTest::countEntries("/proc/self/fd") << " descriptors, " << descriptorsBefore << " before";
    EXPECT_TRUE(waitUntil([&] { return IgtlTest::countEntries("/proc/self/task") <= threadsBefore + 1; }))
        << IgtlTest::countEntries("/proc/self/task") << " threads, " << threadsBefore << " before";
    server.closeConnection();
    EXPECT_TRUE(waitUntil([&] { return IgtlTest::countEntries("/proc/self/task") < threadsBefore; }));
    std::cout << "worst time to be served: " << worstAcceptMs << " ms\n";
}

TEST(ConnectionConcurrencyTest, SendersOnSeveralThreadsNeverInterleaveMessages)
{
    auto server = std::make_unique<Connection>("Sink", "localhost", 0, true, true, false);
    server->openConnection();
    ASSERT_TRUE(waitUntil([&] { return server->listeningPort() != 0; }));
    Connection client("Source", "127.0.0.1", server->listeningPort(), false, true, false);
    ASSERT_TRUE(client.openConnection());
    ASSERT_TRUE(waitUntil([&] { return server->isConnected(); }));
    IgtlTrackingStream in(server.get(), "Tracker", "TDATA");
    std::atomic<bool> sawLast{false};
    in.signalStreamData.connect([&](const std::shared_ptr<const StreamData>& data) {
        if (data->timestampDevice() == 2)
            sawLast.store(true);
    });
    ASSERT_TRUE(in.open() && in.start());
    IgtlTrackingOutStream out(client, "Tracker", "TDATA");
    ASSERT_TRUE(out.open() && out.start());

    constexpr int kThreads = 4;
    constexpr int kPerThread = 200;
    std::vector<std::thread> senders;
    for (int t = 0; t < kThreads; ++t)
        senders.emplace_back([&, t] {
            std::vector<TrackingInstrument> instruments(3);
            for (int i = 0; i < kPerThread; ++i) {
                instruments[0].matrix(0, 3) = t * 1000 + i;
                TrackingStreamData record(nullptr, instruments);
                record.setTimestampDevice(1);
                out.sendStreamData(record);
            }
        });
    // Meanwhile the receiving stream is paused and resumed by state requests from here.
    for (int i = 0; i < 20; ++i) {
        in.stop();
        in.start();
    }
    for (auto& s : senders)
        s.join();
    EXPECT_EQ(out.sentCount(), static_cast<std::uint64_t>(kThreads * kPerThread));
    // With the CRC checked, one interleaved byte would drop messages and desynchronise the link.
    ASSERT_TRUE(waitUntil([&] { return server->getConnectedDevices().size() == 1 && in.isRunning(); }));
    TrackingStreamData last(nullptr, std::vector<TrackingInstrument>(3));
    last.setTimestampDevice(2);
    out.sendStreamData(last);
    EXPECT_TRUE(waitUntil([&] { return sawLast.load(); }));
    EXPECT_TRUE(server->isConnected());
    server.reset();
    EXPECT_TRUE(waitUntil([&] { return !client.isConnected(); }));
}

}  // namespace
}  // namespace Corvexis::IGTL
