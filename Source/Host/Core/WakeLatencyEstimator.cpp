#include "Host/Core/WakeLatencyEstimator.h"

#include <algorithm>

namespace Corvexis {

WakeLatencyEstimator::WakeLatencyEstimator(std::chrono::nanoseconds minGuard)
    : minGuard_(std::clamp(minGuard, kMinGuard, kMaxGuard))
{
    update();
}

void WakeLatencyEstimator::addSample(std::chrono::nanoseconds lateness)
{
    const long long ns = std::max<long long>(0, lateness.count());
    if (count_ < kWindow) {
        samplesNs_[(first_ + count_) % kWindow] = ns;
        ++count_;
    } else {
        samplesNs_[first_] = ns;
        first_ = (first_ + 1) % kWindow;
    }
    update();
}

void WakeLatencyEstimator::noteSpinOnly()
{
    if (count_ == 0)
        return;
    size_t largest = 0;
    for (size_t i = 1; i < count_; ++i) {
        if (samplesNs_[(first_ + i) % kWindow] > samplesNs_[(first_ + largest) % kWindow])
            largest = i;
    }
    // Close the gap, keeping the others in age order.
    for (size_t i = largest; i + 1 < count_; ++i)
        samplesNs_[(first_ + i) % kWindow] = samplesNs_[(first_ + i + 1) % kWindow];
    --count_;
    update();
}

void WakeLatencyEstimator::update()
{
    long long estimateNs = kInitialGuard.count();
    if (count_ >= kMinSamples) {
        // The second largest of up to 128 samples: about the 99th percentile, and one outlier (a
        // preemption) does not move it.
        long long largest = 0;
        long long second = 0;
        for (size_t i = 0; i < count_; ++i) {
            const long long v = samplesNs_[(first_ + i) % kWindow];
            if (v > largest) {
                second = largest;
                largest = v;
            } else if (v > second) {
                second = v;
            }
        }
        // 1/8 plus 5 us of margin covers the spread between that percentile and the rarer late wakes
        // for the price of a few microseconds of spinning.
        estimateNs = second + second / 8 + 5'000;
    } else {
        for (size_t i = 0; i < count_; ++i)
            estimateNs = std::max(estimateNs, samplesNs_[(first_ + i) % kWindow]);
    }
    guard_ = std::clamp(std::chrono::nanoseconds(estimateNs), minGuard_, kMaxGuard);
}

}  // namespace Corvexis
