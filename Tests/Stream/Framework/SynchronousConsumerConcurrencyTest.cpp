#include "Stream/Framework/SynchronousConsumer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>
#include <vector>

#include "Stream/Framework/StreamData.h"
#include "TestStreams.h"

namespace Corvexis {
namespace {

using Status = SynchronousConsumer::WaitResult::Status;

TEST(SynchronousConsumerConcurrencyTest, SeveralWaitersOneEmitterThenDisconnect)
{
    Corvexis::Test::ScriptedStream stream("source", Stream::ThreadingMode::NoWorkerThread);
    SynchronousConsumer consumer(stream);
    consumer.connect();

    std::atomic<bool> stopEmitting{false};
    std::thread emitter([&] {
        std::uint64_t ms = 1;
        while (!stopEmitting)
            stream.emitRecordAt(ms++);
    });

    constexpr int kWaiters = 3;
    std::vector<std::future<int>> waiters;
    for (int w = 0; w < kWaiters; ++w) {
        waiters.push_back(std::async(std::launch::async, [&] {
            int received = 0;
            std::uint64_t last = 0;
            for (;;) {
                const auto result = consumer.waitForData(std::chrono::duration<double>(0.05));
                if (result.status == Status::Disconnected)
                    return received;
                if (result.status == Status::Received) {
                    EXPECT_NE(result.data, nullptr);
                    // Each waiter sees records newer than the last it got.
                    EXPECT_GT(result.data->timestampArrival(), last);
                    last = result.data->timestampArrival();
                    ++received;
                }
            }
        }));
    }

    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(600);
    int toggles = 0;
    while (std::chrono::steady_clock::now() < end) {
        std::this_thread::yield();
        ++toggles;
    }
    consumer.disconnect();
    int total = 0;
    for (auto& waiter : waiters) {
        ASSERT_EQ(waiter.wait_for(std::chrono::seconds(10)), std::future_status::ready);
        total += waiter.get();
    }
    stopEmitting = true;
    emitter.join();
    EXPECT_GT(total, 0);
    EXPECT_GT(toggles, 0);
}

TEST(SynchronousConsumerConcurrencyTest, ConnectDisconnectRacesWithEmission)
{
    Corvexis::Test::ScriptedStream stream("source", Stream::ThreadingMode::NoWorkerThread);
    const auto baseline = stream.signalStreamData.connectionCount();
    std::atomic<bool> stop{false};
    std::thread emitter([&] {
        while (!stop)
            stream.emitRecordAt(1);
    });
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
    int rounds = 0;
    while (std::chrono::steady_clock::now() < end) {
        SynchronousConsumer consumer(stream);
        consumer.connect();
        const auto result = consumer.waitForData(std::chrono::duration<double>(0.001));
        EXPECT_NE(result.status, Status::Disconnected);
        consumer.disconnect();
        ++rounds;
    }
    stop = true;
    emitter.join();
    EXPECT_GT(rounds, 0);
    EXPECT_EQ(stream.signalStreamData.connectionCount(), baseline);
}

}  // namespace
}  // namespace Corvexis
