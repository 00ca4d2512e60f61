#pragma once

#include <cstdint>
#include <mutex>
#include <random>

namespace Corvexis::Random {

// A pseudo-random generator (64-bit Mersenne twister) with uniform and normal helpers. The same seed
// gives the same sequence of results on every run of the same build, which makes simulated data
// reproducible. Every operation is thread-safe (one mutex per generator); a thread that draws
// millions of values should seed a Generator of its own from global() rather than share one.
class Generator
{
public:
    // Seeded from std::random_device. Thread-safe.
    Generator();
    // Thread-safe.
    explicit Generator(uint64_t seed);

    Generator(const Generator&) = delete;
    Generator& operator=(const Generator&) = delete;

    // The process-wide generator, seeded from std::random_device until setSeed() is called.
    // Thread-safe.
    static Generator& global();

    // Restarts the sequence from `seed`, discarding any cached state of the distributions.
    // Thread-safe.
    void setSeed(uint64_t seed);
    // The seed of the current sequence. Thread-safe.
    uint64_t seed() const;

    // Uniform integer in [min, max], both included; the bounds may come in either order.
    // Thread-safe.
    int64_t uniformInt(int64_t min, int64_t max);
    // Uniform real number in [min, max); the bounds may come in either order; equal bounds give
    // that value. Thread-safe.
    double uniformDouble(double min = 0.0, double max = 1.0);
    // Normally distributed number; a negative `stddev` is taken as its absolute value, 0 gives
    // `mean`. Thread-safe.
    double normal(double mean = 0.0, double stddev = 1.0);
    // True with probability `p` (clamped to [0, 1]). Thread-safe.
    bool chance(double p);
    // The next raw 64-bit value; useful to seed another generator. Thread-safe.
    uint64_t nextUint64();

private:
    mutable std::mutex mutex_;
    // guarded by mutex_
    uint64_t seed_ = 0;
    std::mt19937_64 engine_;
    std::normal_distribution<double> normal_;  // caches a second value between calls
};

}  // namespace Corvexis::Random
