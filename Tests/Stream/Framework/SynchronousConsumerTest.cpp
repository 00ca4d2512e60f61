#include "Stream/Framework/SynchronousConsumer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <thread>

#include "Host/Core/DataDeletionWatch.h"
#include "Stream/Framework/StreamData.h"
#include "Support/TestUtil.h"
#include "TestStreams.h"

namespace Corvexis {
namespace {

using Clock = std::chrono::steady_clock;
using Status = SynchronousConsumer::WaitResult::Status;

class SynchronousConsumerTest : public ::testing::Test
{
protected:
    Corvexis::Test::ScriptedStream stream{"source", Stream::ThreadingMode::NoWorkerThread};
};

// Emits records from another thread until `done` is ready.
template <typename Future>
void emitUntil(Corvexis::Test::ScriptedStream& stream, Future& done, std::uint64_t ms)
{
    while (done.wait_for(std::chrono::milliseconds(1)) != std::future_status::ready)
        stream.emitRecordAt(ms);
}

// Connects, lets a thread wait without a time-out, runs `release` once the waiter started, and expects
// the waiter to return Disconnected. The waiter may not be inside the wait yet when `release` runs; a
// disconnected consumer makes it return at once either way.
template <typename Release>
void expectWaiterReleased(SynchronousConsumer& consumer, Release release)
{
    consumer.connect();
    std::atomic<bool> entered{false};
    auto waiter = std::async(std::launch::async, [&] {
        entered = true;
        return consumer.waitForData();
    });
    ASSERT_TRUE(Corvexis::Test::waitUntil([&] { return entered.load(); }));
    release();
    ASSERT_EQ(waiter.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(waiter.get().status, Status::Disconnected);
}

TEST_F(SynchronousConsumerTest, SilentStreamTimesOutAfterAboutTheTimeout)
{
    SynchronousConsumer consumer(stream);
    consumer.connect();
    ASSERT_TRUE(consumer.isConnected());

    const auto begin = Clock::now();
    const auto result = consumer.waitForData(std::chrono::duration<double>(0.5));
    const auto elapsed = Clock::now() - begin;

    EXPECT_EQ(result.status, Status::TimedOut);
    EXPECT_EQ(result.data, nullptr);
    EXPECT_GE(elapsed, std::chrono::milliseconds(490));
    EXPECT_LT(elapsed, std::chrono::seconds(5));
}

TEST_F(SynchronousConsumerTest, NonPositiveTimeoutMeansNow)
{
    SynchronousConsumer consumer(stream);
    consumer.connect();
    EXPECT_EQ(consumer.waitForData(std::chrono::duration<double>(0.0)).status, Status::TimedOut);
    EXPECT_EQ(consumer.waitForData(std::chrono::duration<double>(-3.0)).status, Status::TimedOut);
}

TEST_F(SynchronousConsumerTest, NotConnectedReturnsDisconnectedAtOnce)
{
    SynchronousConsumer consumer(stream);
    // Neither a long time-out nor none at all may wait: a wait would turn into TimedOut or a hang.
    EXPECT_EQ(consumer.waitForData(std::chrono::duration<double>(30.0)).status, Status::Disconnected);
    EXPECT_EQ(consumer.waitForData().status, Status::Disconnected);

    consumer.connect();
    consumer.disconnect();
    EXPECT_FALSE(consumer.isConnected());
    EXPECT_EQ(consumer.waitForData(std::chrono::duration<double>(30.0)).status, Status::Disconnected);
}

TEST_F(SynchronousConsumerTest, RecordBeforeTheCallIsIgnored)
{
    SynchronousConsumer consumer(stream);
    consumer.connect();
    stream.emitRecordAt(7);
    EXPECT_EQ(consumer.waitForData(std::chrono::duration<double>(0.05)).status, Status::TimedOut);
}

TEST_F(SynchronousConsumerTest, RecordDuringTheWaitIsReturned)
{
    SynchronousConsumer consumer(stream);
    consumer.connect();
    auto waiter = std::async(std::launch::async, [&] { return consumer.waitForData(); });
    emitUntil(stream, waiter, 42);

    const auto result = waiter.get();
    ASSERT_EQ(result.status, Status::Received);
    ASSERT_NE(result.data, nullptr);
    EXPECT_EQ(result.data->timestampArrival(), 42u);
    EXPECT_EQ(result.data->stream(), &stream);
}

TEST_F(SynchronousConsumerTest, DisconnectReleasesWaitersWithoutTimeout)
{
    SynchronousConsumer consumer(stream);
    expectWaiterReleased(consumer, [&] { consumer.disconnect(); });
}

TEST(SynchronousConsumer, DestroyedStreamReleasesWaitersAndStaysDisconnected)
{
    auto stream =
        std::make_unique<Corvexis::Test::ScriptedStream>("doomed", Stream::ThreadingMode::NoWorkerThread);
    SynchronousConsumer consumer(*stream);
    expectWaiterReleased(consumer, [&] { stream.reset(); });
    consumer.connect();
    EXPECT_FALSE(consumer.isConnected());
}

TEST_F(SynchronousConsumerTest, HugeTimeoutIsClampedNotOverflowed)
{
    SynchronousConsumer consumer(stream);
    consumer.connect();
    auto waiter = std::async(std::launch::async,
                             [&] { return consumer.waitForData(std::chrono::duration<double>(1e300)); });
    emitUntil(stream, waiter, 3);
    EXPECT_EQ(waiter.get().status, Status::Received);
}

TEST_F(SynchronousConsumerTest, ConnectionCountReturnsAfterDisconnectAndDestruction)
{
    const auto baseline = stream.signalStreamData.connectionCount();
    {
        SynchronousConsumer consumer(stream);
        EXPECT_EQ(stream.signalStreamData.connectionCount(), baseline);  // not connected yet
        consumer.connect();
        consumer.connect();  // idempotent
        EXPECT_EQ(stream.signalStreamData.connectionCount(), baseline + 1);
        consumer.disconnect();
        EXPECT_EQ(stream.signalStreamData.connectionCount(), baseline);
        consumer.connect();
        EXPECT_EQ(stream.signalStreamData.connectionCount(), baseline + 1);
    }
    EXPECT_EQ(stream.signalStreamData.connectionCount(), baseline);
    stream.emitRecordAt(1);  // reaches no destroyed consumer
}

// A connect() that runs while the stream is being destroyed, after its signals are gone: here from a
// deletion watch of the stream, which fires at the very end of the destruction. The consumer must have
// let go of the stream before its signals went, so the connect finds no stream.
TEST(SynchronousConsumerLifetimeTest, ConnectDuringTheStreamsDestructionReachesNoDestroyedSignal)
{
    auto* stream = new Corvexis::Test::ScriptedStream("doomed", Stream::ThreadingMode::NoWorkerThread);
    std::unique_ptr<SynchronousConsumer> consumer;
    int connectedLate = -1;
    DataDeletionWatch lateConnect(*stream, [&] {
        consumer->connect();
        connectedLate = consumer->isConnected() ? 1 : 0;
    });
    consumer = std::make_unique<SynchronousConsumer>(*stream);
    consumer->connect();
    ASSERT_TRUE(consumer->isConnected());
    delete stream;
    EXPECT_EQ(connectedLate, 0);
    EXPECT_FALSE(consumer->isConnected());
    EXPECT_EQ(consumer->waitForData(std::chrono::seconds(0)).status, Status::Disconnected);
}

}  // namespace
}  // namespace Corvexis
