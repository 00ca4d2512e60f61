#pragma once

// The reference hand-off the benchmarks measure our queues against: a deque, a mutex and a condition
// variable, nothing else; and the one-payload-at-a-time latency loop they share.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace Corvexis::Bench {

// Nanoseconds on the steady clock; payloads carry it so the receiving thread can take the difference.
inline std::int64_t nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The value at fraction p (0..1) of already sorted samples.
inline double percentile(const std::vector<double>& sorted, double p)
{
    return sorted[std::min(sorted.size() - 1, static_cast<size_t>(p * static_cast<double>(sorted.size())))];
}

// Pushed values are steady-clock nanoseconds; the worker stores push-to-start-of-processing latency in
// lastLatencyNs. push: thread-safe; destruction joins the worker (caller synchronises).
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
    ReferenceHandoff(const ReferenceHandoff&) = delete;
    ReferenceHandoff& operator=(const ReferenceHandoff&) = delete;

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

    // Guarded by mutex_.
    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<std::int64_t> queue_;
    bool stop_ = false;

    std::thread thread_;  // last: started once the members above exist
};

// One payload at a time: push(nowNs()), then spin until the receiver stores a latency (ns) in `latest`.
// Returns `samples` latencies in µs, sorted, after `warmUp` unrecorded rounds.
template <typename Push>
std::vector<double> measureLatency(Push push, std::atomic<std::int64_t>& latest, int samples, int warmUp)
{
    std::vector<double> result;
    result.reserve(static_cast<size_t>(samples));
    for (int i = 0; i < samples + warmUp; ++i) {
        latest.store(-1, std::memory_order_relaxed);
        push(nowNs());
        std::int64_t value;
        while ((value = latest.load(std::memory_order_acquire)) < 0)
            std::this_thread::yield();
        if (i >= warmUp)
            result.push_back(static_cast<double>(value) / 1000.0);
    }
    std::sort(result.begin(), result.end());
    return result;
}

}  // namespace Corvexis::Bench
