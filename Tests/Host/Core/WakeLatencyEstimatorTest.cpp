#include "Host/Core/WakeLatencyEstimator.h"

#include <gtest/gtest.h>

using namespace Corvexis;
using namespace std::chrono_literals;
using Estimator = WakeLatencyEstimator;

namespace {
// The guard proposed for a second-largest sample of `q`.
std::chrono::nanoseconds expectedGuard(std::chrono::nanoseconds q)
{
    return q + q / 8 + 5us;
}

void addMany(Estimator& e, std::chrono::nanoseconds lateness, size_t count)
{
    for (size_t i = 0; i < count; ++i)
        e.addSample(lateness);
}
}  // namespace

TEST(WakeLatencyEstimatorTest, UsesInitialGuardUntilEnoughSamplesButNeverBelowThem)
{
    Estimator e;
    EXPECT_EQ(e.guard(), Estimator::kInitialGuard);
    addMany(e, 40us, Estimator::kMinSamples - 1);
    EXPECT_EQ(e.guard(), Estimator::kInitialGuard);
    e.addSample(40us);
    EXPECT_EQ(e.guard(), expectedGuard(40us));

    Estimator early;
    early.addSample(700us);  // a late first wake-up raises the guard at once
    EXPECT_EQ(early.guard(), 700us);
    EXPECT_EQ(early.sampleCount(), 1u);
}

TEST(WakeLatencyEstimatorTest, OneOutlierIsIgnoredTwoAreNot)
{
    Estimator e;
    addMany(e, 50us, 60);
    e.addSample(900us);
    EXPECT_EQ(e.guard(), expectedGuard(50us));
    e.addSample(300us);
    EXPECT_EQ(e.guard(), expectedGuard(300us));
}

TEST(WakeLatencyEstimatorTest, OldSamplesLeaveTheWindow)
{
    Estimator e;
    addMany(e, 400us, 10);
    EXPECT_EQ(e.guard(), expectedGuard(400us));
    addMany(e, 30us, Estimator::kWindow - 1);
    // One 400 us sample is still inside: the second largest is 30 us.
    EXPECT_EQ(e.guard(), expectedGuard(30us));
    EXPECT_EQ(e.sampleCount(), Estimator::kWindow);
    addMany(e, 30us, 1);
    EXPECT_EQ(e.guard(), expectedGuard(30us));
    EXPECT_EQ(e.sampleCount(), Estimator::kWindow);
}

TEST(WakeLatencyEstimatorTest, GuardIsClampedToItsBounds)
{
    Estimator low;
    addMany(low, 0us, 20);
    EXPECT_EQ(low.guard(), Estimator::kMinGuard);
    low.addSample(-3ms);  // a sleep cut short counts as on time
    EXPECT_EQ(low.guard(), Estimator::kMinGuard);

    Estimator high;
    addMany(high, 50ms, 20);
    EXPECT_EQ(high.guard(), Estimator::kMaxGuard);

    Estimator coarse(1ms);  // e.g. a 1 ms timer resolution
    addMany(coarse, 10us, 20);
    EXPECT_EQ(coarse.guard(), 1ms);
    Estimator absurd(1h);
    EXPECT_EQ(absurd.guard(), Estimator::kMaxGuard);
    Estimator tiny(1ns);
    addMany(tiny, 0us, 20);
    EXPECT_EQ(tiny.guard(), Estimator::kMinGuard);
}

TEST(WakeLatencyEstimatorTest, SpinOnlyCallsForgetTheLargestSamples)
{
    Estimator e;
    addMany(e, 40us, 100);
    e.addSample(1500us);
    e.addSample(1800us);
    EXPECT_EQ(e.guard(), expectedGuard(1500us));
    // A guard of 1.7 ms exceeds a 1 kHz pace's sleeps: without new samples it must still come down.
    e.noteSpinOnly();
    EXPECT_EQ(e.guard(), expectedGuard(40us));
    e.noteSpinOnly();
    EXPECT_EQ(e.guard(), expectedGuard(40us));
    EXPECT_EQ(e.sampleCount(), 100u);

    // Drained completely, it falls back to the initial guard, and an empty window stays empty.
    for (int i = 0; i < 200; ++i)
        e.noteSpinOnly();
    EXPECT_EQ(e.sampleCount(), 0u);
    EXPECT_EQ(e.guard(), Estimator::kInitialGuard);
}

TEST(WakeLatencyEstimatorTest, RemovalKeepsTheRingConsistentAcrossWrapAround)
{
    Estimator e;
    // Fill past the window so the ring's start is mid-array, then remove and refill.
    addMany(e, 20us, Estimator::kWindow + 37);
    e.addSample(600us);
    e.addSample(700us);
    e.noteSpinOnly();  // drops 700
    EXPECT_EQ(e.sampleCount(), Estimator::kWindow - 1);
    e.addSample(650us);
    EXPECT_EQ(e.guard(), expectedGuard(600us));
    // The 600 and 650 samples age out after a full window of newer ones.
    addMany(e, 20us, Estimator::kWindow);
    EXPECT_EQ(e.guard(), expectedGuard(20us));
}
