#include "Stream/Framework/BackgroundThreadConsumer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "Support/TestUtil.h"

namespace Corvexis {
namespace {

namespace T = Corvexis::Test;

// Spins a little per payload so that the producer overruns it; records the order.
class SlowConsumer : public BackgroundThreadConsumer<int>
{
public:
    explicit SlowConsumer(std::size_t capacity) : BackgroundThreadConsumer<int>("slow", capacity) {}
    ~SlowConsumer() override { stopProcessing(); }

    std::vector<int> processed() const
    {
        std::lock_guard lock(mutex_);
        return processed_;
    }

protected:
    void process(TimestampedPayload<int> payload) override
    {
        const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(50);
        while (std::chrono::steady_clock::now() < until) {
        }
        std::lock_guard lock(mutex_);
        processed_.push_back(payload.payload);
    }

private:
    mutable std::mutex mutex_;
    // guarded by mutex_
    std::vector<int> processed_;
};

TEST(BackgroundThreadConsumerConcurrencyTest, ProducerOverrunsConsumerWithinBound)
{
    SlowConsumer consumer(5);
    std::atomic<int> completed{0};
    std::vector<std::future<void>> completions;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(800);
    int pushed = 0;
    while (std::chrono::steady_clock::now() < end && pushed < 200'000) {
        auto promise = std::make_shared<std::promise<void>>();
        completions.push_back(promise->get_future());
        ASSERT_TRUE(consumer.pushPayload({pushed++, 0, 0, promise}));
        ASSERT_LE(consumer.queueSize(), 6u);
    }
    consumer.waitUntilCompleted();
    for (auto& completion : completions)
        ASSERT_EQ(completion.wait_for(std::chrono::seconds(10)), std::future_status::ready);

    const auto processed = consumer.processed();
    ASSERT_FALSE(processed.empty());
    for (size_t i = 1; i < processed.size(); ++i)
        ASSERT_LT(processed[i - 1], processed[i]) << "processing order broke at " << i;
    EXPECT_EQ(processed.back(), pushed - 1);  // the newest payload is never the one dropped
    EXPECT_EQ(processed.size() + consumer.droppedCount(), static_cast<size_t>(pushed));
    EXPECT_LE(consumer.queueHighWaterMark(), 6u);
}

TEST(BackgroundThreadConsumerConcurrencyTest, StopWhileAnotherThreadPushes)
{
    for (int round = 0; round < 20; ++round) {
        SlowConsumer consumer(3);
        std::atomic<bool> refused{false};
        std::atomic<int> pushed{0};
        std::thread producer([&] {
            while (!refused) {
                if (!consumer.pushPayload({pushed.load(), 0, 0, nullptr}))
                    refused = true;
                ++pushed;
            }
        });
        ASSERT_TRUE(T::waitUntil([&] { return pushed.load() > 50; }));
        consumer.stopProcessing();
        producer.join();
        EXPECT_TRUE(refused.load());
        EXPECT_EQ(consumer.queueSize(), 0u);
    }
}

}  // namespace
}  // namespace Corvexis
