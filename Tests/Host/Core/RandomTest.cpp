#include "Host/Core/Random.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

using namespace Corvexis;
using Random::Generator;

namespace {
std::vector<double> mixedSequence(Generator& g)
{
    std::vector<double> values;
    for (int i = 0; i < 20; ++i) {
        values.push_back(static_cast<double>(g.uniformInt(-5, 5)));
        values.push_back(g.uniformDouble(1.0, 2.0));
        values.push_back(g.normal(10.0, 3.0));
        values.push_back(g.chance(0.5) ? 1.0 : 0.0);
    }
    return values;
}
}  // namespace

TEST(RandomTest, SameSeedGivesSameSequenceAndSetSeedRestarts)
{
    Generator a(42);
    Generator b(42);
    EXPECT_EQ(a.seed(), 42u);
    const auto first = mixedSequence(a);
    EXPECT_EQ(first, mixedSequence(b));
    Generator c(43);
    EXPECT_NE(first, mixedSequence(c));

    // One normal() leaves a cached second value behind; setSeed must drop it, or the reseeded
    // sequence would start with that stale value.
    a.normal();
    a.setSeed(42);
    EXPECT_EQ(a.seed(), 42u);
    EXPECT_EQ(mixedSequence(a), first);
}

TEST(RandomTest, GlobalIsOneSeedableInstance)
{
    Generator& g = Generator::global();
    EXPECT_EQ(&g, &Generator::global());
    g.setSeed(7);
    const auto first = mixedSequence(g);
    Generator::global().setSeed(7);
    EXPECT_EQ(mixedSequence(Generator::global()), first);
}

TEST(RandomTest, UniformIntHitsBothBoundsAndAcceptsSwappedOrExtremeBounds)
{
    Generator g(1);
    bool seen[4] = {};
    for (int i = 0; i < 1000; ++i) {
        const int64_t v = g.uniformInt(3, 0);
        ASSERT_GE(v, 0);
        ASSERT_LE(v, 3);
        seen[v] = true;
    }
    EXPECT_TRUE(seen[0] && seen[1] && seen[2] && seen[3]);
    EXPECT_EQ(g.uniformInt(9, 9), 9);
    const int64_t lo = std::numeric_limits<int64_t>::min();
    const int64_t hi = std::numeric_limits<int64_t>::max();
    bool negative = false;
    bool positive = false;
    for (int i = 0; i < 100; ++i) {
        const int64_t v = g.uniformInt(lo, hi);
        negative |= v < 0;
        positive |= v > 0;
    }
    EXPECT_TRUE(negative && positive);
}

TEST(RandomTest, UniformDoubleStaysHalfOpen)
{
    Generator g(2);
    for (int i = 0; i < 10000; ++i) {
        const double v = g.uniformDouble(-1.0, 1.0);
        ASSERT_GE(v, -1.0);
        ASSERT_LT(v, 1.0);
    }
    // Adjacent doubles: the only value in [min, max) is min.
    const double lo = 1.0;
    const double hi = std::nextafter(1.0, 2.0);
    for (int i = 0; i < 1000; ++i)
        ASSERT_EQ(g.uniformDouble(lo, hi), lo);
    EXPECT_EQ(g.uniformDouble(4.5, 4.5), 4.5);
    const double swapped = g.uniformDouble(10.0, 5.0);
    EXPECT_GE(swapped, 5.0);
    EXPECT_LT(swapped, 10.0);
}

TEST(RandomTest, NormalHasRequestedMomentsAndDegenerateCases)
{
    Generator g(3);
    constexpr int kCount = 20000;
    double sum = 0;
    double sumSq = 0;
    for (int i = 0; i < kCount; ++i) {
        const double v = g.normal(5.0, -2.0);  // negative spread counts as 2
        sum += v;
        sumSq += v * v;
    }
    const double mean = sum / kCount;
    const double stddev = std::sqrt(sumSq / kCount - mean * mean);
    // Standard error of the mean is 2 / sqrt(20000) = 0.014; these bounds are ten of them wide.
    EXPECT_NEAR(mean, 5.0, 0.15);
    EXPECT_NEAR(stddev, 2.0, 0.1);
    EXPECT_EQ(g.normal(3.0, 0.0), 3.0);
}

TEST(RandomTest, ChanceRespectsItsBounds)
{
    Generator g(4);
    int hits = 0;
    for (int i = 0; i < 1000; ++i) {
        ASSERT_FALSE(g.chance(0.0));
        ASSERT_FALSE(g.chance(-1.0));
        ASSERT_FALSE(g.chance(std::nan("")));
        ASSERT_TRUE(g.chance(1.0));
        ASSERT_TRUE(g.chance(2.0));
        hits += g.chance(0.25) ? 1 : 0;
    }
    EXPECT_GT(hits, 150);
    EXPECT_LT(hits, 350);
}
