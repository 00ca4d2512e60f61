#include "Stream/Framework/BackgroundThreadConsumer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <future>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "Host/Core/Log.h"
#include "Host/GL/ContextManager.h"
#include "Support/TestUtil.h"

namespace Corvexis {
namespace {

namespace T = Corvexis::Test;

// Records processed payloads in order; can hold the processing thread inside process() and throw on
// request (payload values below 0).
class GatedConsumer : public BackgroundThreadConsumer<int>
{
public:
    explicit GatedConsumer(std::size_t capacity = 5, bool needsOpenGl = false)
        : BackgroundThreadConsumer<int>("gated", capacity, needsOpenGl)
    {
    }
    ~GatedConsumer() override
    {
        open();
        stopProcessing();
    }

    void close()
    {
        std::lock_guard lock(mutex_);
        gateOpen_ = false;
    }
    void open()
    {
        std::lock_guard lock(mutex_);
        gateOpen_ = true;
        cv_.notify_all();
    }
    bool inside() const { return inside_.load(); }
    std::vector<int> processed() const
    {
        std::lock_guard lock(mutex_);
        return processed_;
    }
    std::vector<bool> hadContext() const
    {
        std::lock_guard lock(mutex_);
        return hadContext_;
    }

    using BackgroundThreadConsumer<int>::process;

protected:
    void process(TimestampedPayload<int> payload) override
    {
        std::unique_lock lock(mutex_);
        inside_ = true;
        cv_.wait(lock, [this] { return gateOpen_; });
        inside_ = false;
        processed_.push_back(payload.payload);
        hadContext_.push_back(GL::ContextManager::hasCurrent());
        if (payload.payload == -1)
            throw std::runtime_error("bad frame");
        if (payload.payload == -2)
            throw 17;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::atomic<bool> inside_{false};
    // guarded by mutex_
    bool gateOpen_ = true;
    std::vector<int> processed_;
    std::vector<bool> hadContext_;
};

TimestampedPayload<int> payloadOf(int value, std::shared_ptr<std::promise<void>> completion = {})
{
    return {value, static_cast<std::uint64_t>(value), static_cast<std::uint64_t>(value),
            std::move(completion)};
}

TEST(BackgroundThreadConsumerTest, BusyQueueKeepsAtMostCapacityPlusOneAndProcessesTheNewestInOrder)
{
    GatedConsumer consumer(5);
    consumer.close();
    std::vector<std::shared_ptr<std::promise<void>>> promises;
    std::vector<std::future<void>> completions;
    auto push = [&](int value) {
        promises.push_back(std::make_shared<std::promise<void>>());
        completions.push_back(promises.back()->get_future());
        ASSERT_TRUE(consumer.pushPayload(payloadOf(value, promises.back())));
    };

    push(0);
    ASSERT_TRUE(T::waitUntil([&] { return consumer.inside(); }));
    for (int i = 1; i <= 40; ++i) {
        push(i);
        ASSERT_LE(consumer.queueSize(), 6u) << "after payload " << i;
    }
    EXPECT_EQ(consumer.queueSize(), 6u);
    // The overflows cost the oldest waiting payloads; the dropped ones are complete already.
    EXPECT_EQ(completions[1].wait_for(std::chrono::seconds(0)), std::future_status::ready);
    EXPECT_NE(completions[0].wait_for(std::chrono::seconds(0)), std::future_status::ready);

    consumer.open();
    consumer.waitUntilCompleted();
    EXPECT_EQ(consumer.processed(), (std::vector<int>{0, 36, 37, 38, 39, 40}));
    EXPECT_EQ(consumer.queueHighWaterMark(), 6u);
    EXPECT_EQ(consumer.droppedCount(), 35u);
    for (auto& completion : completions)
        EXPECT_EQ(completion.wait_for(std::chrono::seconds(10)), std::future_status::ready);
}

TEST(BackgroundThreadConsumerTest, FewerPayloadsThanCapacityAreAllProcessed)
{
    GatedConsumer consumer(5);
    consumer.close();
    ASSERT_TRUE(consumer.pushPayload(payloadOf(0)));
    ASSERT_TRUE(T::waitUntil([&] { return consumer.inside(); }));
    for (int i = 1; i <= 5; ++i)
        ASSERT_TRUE(consumer.pushPayload(payloadOf(i)));
    consumer.open();
    consumer.waitUntilCompleted();
    EXPECT_EQ(consumer.processed(), (std::vector<int>{0, 1, 2, 3, 4, 5}));
    EXPECT_EQ(consumer.droppedCount(), 0u);
}

TEST(BackgroundThreadConsumerTest, CapacityOneKeepsOnlyTheNewestWaitingPayload)
{
    GatedConsumer consumer(1);
    consumer.close();
    ASSERT_TRUE(consumer.pushPayload(payloadOf(0)));
    ASSERT_TRUE(T::waitUntil([&] { return consumer.inside(); }));
    for (int i = 1; i <= 10; ++i) {
        consumer.pushPayload(payloadOf(i));
        ASSERT_LE(consumer.queueSize(), 2u);
    }
    consumer.open();
    consumer.waitUntilCompleted();
    // Busy limit 1: [in progress, newest]; the first overflow removes the entry in progress, so the
    // thread's own removal afterwards drops payload 9 and only the newest is processed.
    EXPECT_EQ(consumer.processed(), (std::vector<int>{0, 10}));
}

TEST(BackgroundThreadConsumerTest, ExceptionsAreLoggedAndProcessingGoesOn)
{
    Log::ScopedCapture capture;
    GatedConsumer consumer;
    ASSERT_TRUE(consumer.pushPayload(payloadOf(-1)));
    consumer.waitUntilCompleted();
    ASSERT_TRUE(consumer.pushPayload(payloadOf(-2)));
    consumer.waitUntilCompleted();
    ASSERT_TRUE(consumer.pushPayload(payloadOf(3)));
    consumer.waitUntilCompleted();

    EXPECT_EQ(consumer.processed(), (std::vector<int>{-1, -2, 3}));
    EXPECT_TRUE(
        capture->contains(Log::Level::Error, "BackgroundThreadQueue",
                          "An unexpected exception occurred while running the processing thread: bad frame"));
    EXPECT_TRUE(capture->contains(Log::Level::Error, "BackgroundThreadQueue",
                                  "An unexpected exception occurred while running the processing thread."));
}

TEST(BackgroundThreadConsumerTest, StopRefusesFurtherPayloadsAndCompletesThem)
{
    GatedConsumer consumer;
    consumer.pushPayload(payloadOf(1));
    consumer.stopProcessing();
    auto promise = std::make_shared<std::promise<void>>();
    auto completion = promise->get_future();
    EXPECT_FALSE(consumer.pushPayload(payloadOf(2, promise)));
    EXPECT_EQ(completion.wait_for(std::chrono::seconds(0)), std::future_status::ready);
    consumer.waitUntilCompleted();  // returns after a stop
}

// Two threads stopping at once while process() runs: neither may return before the thread has ended.
TEST(BackgroundThreadConsumerTest, ConcurrentStopsBothWaitForTheRunningPayload)
{
    GatedConsumer consumer;
    consumer.close();
    ASSERT_TRUE(consumer.pushPayload(payloadOf(1)));
    ASSERT_TRUE(T::waitUntil([&] { return consumer.inside(); }));
    std::atomic<int> returned{0};
    std::atomic<int> returnedEarly{0};
    std::vector<std::thread> stoppers;
    for (int i = 0; i < 2; ++i) {
        stoppers.emplace_back([&] {
            consumer.stopProcessing();
            if (consumer.processed().empty())
                ++returnedEarly;
            ++returned;
        });
    }
    // Both are blocked by the payload in progress; a stop that returns here did not join.
    EXPECT_FALSE(T::waitUntil([&] { return returned.load() > 0; }, std::chrono::milliseconds(300)));
    consumer.open();
    for (auto& th : stoppers)
        th.join();
    EXPECT_EQ(returned.load(), 2);
    EXPECT_EQ(returnedEarly.load(), 0);
    EXPECT_EQ(consumer.processed(), std::vector<int>{1});
}

TEST(BackgroundThreadConsumerTest, ProcessingThreadHasAGraphicsContextOnlyWhenAsked)
{
    GatedConsumer plain;
    plain.pushPayload(payloadOf(1));
    plain.waitUntilCompleted();
    EXPECT_EQ(plain.hadContext(), std::vector<bool>{false});

    if (!GL::ContextManager::get().isAvailable())
        GTEST_SKIP() << GL::ContextManager::get().unavailableReason();
    GatedConsumer withGl(5, true);
    withGl.pushPayload(payloadOf(1));
    withGl.pushPayload(payloadOf(2));
    withGl.waitUntilCompleted();
    EXPECT_EQ(withGl.hadContext(), (std::vector<bool>{true, true}));
}

}  // namespace
}  // namespace Corvexis
