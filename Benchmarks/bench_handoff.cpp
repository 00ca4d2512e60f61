// Latency and throughput of handing a payload from a producer thread to a BackgroundThreadConsumer,
// against a minimal mutex + condition-variable hand-off written here as the reference.
// Latency: one payload at a time (the producer waits until it was processed before sending the next),
// measured from push to the start of processing. Throughput: payloads processed per second while the
// producer pushes as fast as it can (drops allowed, counted separately).
#include "Stream/Framework/BackgroundThreadConsumer.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kLatencySamples = 20000;

std::int64_t nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

class LatencyConsumer : public Corvexis::BackgroundThreadConsumer<std::int64_t>
{
public:
    LatencyConsumer() : BackgroundThreadConsumer<std::int64_t>("bench", 5) {}
    ~LatencyConsumer() override { stopProcessing(); }

    std::atomic<std::int64_t> lastLatencyNs{-1};
    std::atomic<std::uint64_t> processedCount{0};

protected:
    void process(Corvexis::TimestampedPayload<std::int64_t> payload) override
    {
        lastLatencyNs.store(nowNs() - payload.payload, std::memory_order_release);
        processedCount.fetch_add(1, std::memory_order_relaxed);
    }
};

// The reference: a deque, a mutex and a condition variable, nothing else.
class ReferenceHandoff
{
public:
    ReferenceHandoff() : thread_([this] { run(); }) {}
    ~ReferenceHandoff()
    {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        cv_.notify_one();
        thread_.join();
    }
    void push(std::int64_t value)
    {
        {
            std::lock_guard lock(mutex_);
            queue_.push_back(value);
        }
        cv_.notify_one();
    }

    std::atomic<std::int64_t> lastLatencyNs{-1};

private:
    void run()
    {
        std::unique_lock lock(mutex_);
        for (;;) {
            cv_.wait(lock, [this] { return stop_ || !queue_.empty(); });
            if (stop_)
                return;
            const auto value = queue_.front();
            queue_.pop_front();
            lock.unlock();
            lastLatencyNs.store(nowNs() - value, std::memory_order_release);
            lock.lock();
        }
    }

    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<std::int64_t> queue_;
    bool stop_ = false;
    std::thread thread_;
};

template <typename Push, typename Latest>
std::vector<double> measureLatency(Push push, Latest& latest)
{
    std::vector<double> samples;
    samples.reserve(kLatencySamples);
    for (int i = 0; i < kLatencySamples + 200; ++i) {
        latest.store(-1, std::memory_order_relaxed);
        push(nowNs());
        std::int64_t value;
        while ((value = latest.load(std::memory_order_acquire)) < 0)
            std::this_thread::yield();
        if (i >= 200)  // warm-up
            samples.push_back(static_cast<double>(value) / 1000.0);
    }
    std::sort(samples.begin(), samples.end());
    return samples;
}

double percentile(const std::vector<double>& sorted, double p)
{
    return sorted[std::min(sorted.size() - 1, static_cast<size_t>(p * static_cast<double>(sorted.size())))];
}

}  // namespace

int main()
{
    std::vector<double> consumerLatency;
    double consumerPerSecond = 0;
    std::uint64_t dropped = 0;
    {
        LatencyConsumer consumer;
        consumerLatency = measureLatency(
            [&](std::int64_t t) {
                consumer.pushPayload({t, 0, 0, nullptr});
            },
            consumer.lastLatencyNs);

        const auto before = consumer.processedCount.load();
        const auto droppedBefore = consumer.droppedCount();
        const auto begin = Clock::now();
        const auto end = begin + std::chrono::seconds(1);
        while (Clock::now() < end)
            consumer.pushPayload({nowNs(), 0, 0, nullptr});
        consumer.waitUntilCompleted();
        const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
        consumerPerSecond = static_cast<double>(consumer.processedCount.load() - before) / seconds;
        dropped = consumer.droppedCount() - droppedBefore;
    }
    std::vector<double> referenceLatency;
    {
        ReferenceHandoff reference;
        referenceLatency =
            measureLatency([&](std::int64_t t) { reference.push(t); }, reference.lastLatencyNs);
    }

    std::printf("FIGURE handoff_consumer_median_us %.2f us\n", percentile(consumerLatency, 0.5));
    std::printf("FIGURE handoff_consumer_p99_us %.2f us\n", percentile(consumerLatency, 0.99));
    std::printf("FIGURE handoff_reference_median_us %.2f us\n", percentile(referenceLatency, 0.5));
    std::printf("FIGURE handoff_reference_p99_us %.2f us\n", percentile(referenceLatency, 0.99));
    std::printf("FIGURE handoff_consumer_per_s %.0f payloads/s\n", consumerPerSecond);
    std::printf("# dropped during the throughput run: %llu\n", static_cast<unsigned long long>(dropped));
    return 0;
}
