#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

namespace Corvexis {

// Measures the time since its construction or its last reset() on the steady clock, so it is not
// affected by changes of the wall-clock time. All operations are thread-safe: one thread may reset
// while others read.
class Timer
{
public:
    // Starts measuring. Thread-safe.
    Timer();

    // Restarts from zero. Thread-safe.
    void reset();

    // Time since the start. Thread-safe.
    std::chrono::nanoseconds elapsed() const;
    // Time since the start in milliseconds (fractional). Thread-safe.
    double elapsedMs() const;
    // Time since the start in microseconds (fractional). Thread-safe.
    double elapsedUs() const;

private:
    static int64_t nowNs();

    std::atomic<int64_t> startNs_;  // steady-clock nanoseconds
};

}  // namespace Corvexis
