#pragma once

#include <array>
#include <chrono>
#include <cstddef>

namespace Corvexis {

// Estimates how late a timed sleep of the calling thread wakes up (about the 99th percentile of the
// recent wake-up lateness), to choose how long before a deadline a precise sleep must stop sleeping and
// start spinning. The guard it proposes is that estimate plus a small margin, clamped to
// [minGuard, kMaxGuard].
//
// The estimate follows the last kWindow samples, so it falls again after a burst of load. Calls that
// spin without sleeping (the duration was shorter than the guard) give no sample; each one forgets the
// largest sample instead. Otherwise a few wake-ups delayed by a busy CPU could raise the guard past
// the caller's sleep durations and keep it there, spinning whole periods, for want of new samples.
//
// Caller synchronises (meant as per-thread state).
class WakeLatencyEstimator
{
public:
    static constexpr std::chrono::nanoseconds kMinGuard{20'000};
    static constexpr std::chrono::nanoseconds kMaxGuard{2'000'000};
    // Used until kMinSamples samples are known; small enough for sleeps of a 1 kHz pace to sleep at all.
    static constexpr std::chrono::nanoseconds kInitialGuard{200'000};
    static constexpr size_t kWindow = 128;
    static constexpr size_t kMinSamples = 8;

    // `minGuard` raises the lower bound, e.g. to a coarse timer resolution; it is clamped to
    // [kMinGuard, kMaxGuard]. Caller synchronises.
    explicit WakeLatencyEstimator(std::chrono::nanoseconds minGuard = kMinGuard);

    // Records the lateness of one wake-up (actual wake time minus requested wake time; negative values,
    // from a sleep cut short, count as 0). Caller synchronises.
    void addSample(std::chrono::nanoseconds lateness);
    // Records a call that spun without sleeping: forgets the largest sample. Caller synchronises.
    void noteSpinOnly();

    // How long before a deadline to stop sleeping. Caller synchronises.
    std::chrono::nanoseconds guard() const { return guard_; }
    // The number of samples in the window. Caller synchronises.
    size_t sampleCount() const { return count_; }

private:
    void update();

    std::chrono::nanoseconds minGuard_;
    std::chrono::nanoseconds guard_ = kInitialGuard;
    std::array<long long, kWindow> samplesNs_{};  // ring buffer, oldest at first_
    size_t first_ = 0;
    size_t count_ = 0;
};

}  // namespace Corvexis
