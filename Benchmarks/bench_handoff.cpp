// Latency and throughput of handing a payload from a producer thread to a BackgroundThreadConsumer,
// against a minimal mutex + condition-variable hand-off as the reference (ReferenceHandoff.h).
// Latency: one payload at a time (the producer waits until it was processed before sending the next),
// measured from push to the start of processing. Throughput: payloads processed per second while the
// producer pushes as fast as it can (drops allowed, counted separately).
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "ReferenceHandoff.h"
#include "Stream/Framework/BackgroundThreadConsumer.h"

namespace {

using Corvexis::Bench::measureLatency;
using Corvexis::Bench::nowNs;
using Corvexis::Bench::percentile;
using Corvexis::Bench::ReferenceHandoff;
using Clock = std::chrono::steady_clock;
constexpr int kLatencySamples = 20000;
constexpr int kWarmUp = 200;

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
            consumer.lastLatencyNs, kLatencySamples, kWarmUp);

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
        referenceLatency = measureLatency([&](std::int64_t t) { reference.push(t); }, reference.lastLatencyNs,
                                          kLatencySamples, kWarmUp);
    }

    std::printf("FIGURE handoff_consumer_median_us %.2f us\n", percentile(consumerLatency, 0.5));
    std::printf("FIGURE handoff_consumer_p99_us %.2f us\n", percentile(consumerLatency, 0.99));
    std::printf("FIGURE handoff_reference_median_us %.2f us\n", percentile(referenceLatency, 0.5));
    std::printf("FIGURE handoff_reference_p99_us %.2f us\n", percentile(referenceLatency, 0.99));
    std::printf("FIGURE handoff_consumer_per_s %.0f payloads/s\n", consumerPerSecond);
    std::printf("# dropped during the throughput run: %llu\n", static_cast<unsigned long long>(dropped));
    return 0;
}
