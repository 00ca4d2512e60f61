#include "Host/Core/Random.h"

#include <algorithm>
#include <cmath>

namespace Corvexis::Random {

namespace {
uint64_t freshSeed()
{
    std::random_device device;
    return (static_cast<uint64_t>(device()) << 32) ^ device();
}
}  // namespace

Generator::Generator() : Generator(freshSeed()) {}

Generator::Generator(uint64_t seed) : seed_(seed), engine_(seed) {}

Generator& Generator::global()
{
    static Generator instance;
    return instance;
}

void Generator::setSeed(uint64_t seed)
{
    std::lock_guard lock(mutex_);
    seed_ = seed;
    engine_.seed(seed);
    normal_.reset();
}

uint64_t Generator::seed() const
{
    std::lock_guard lock(mutex_);
    return seed_;
}

int64_t Generator::uniformInt(int64_t min, int64_t max)
{
    if (min > max)
        std::swap(min, max);
    std::uniform_int_distribution<int64_t> distribution(min, max);
    std::lock_guard lock(mutex_);
    return distribution(engine_);
}

double Generator::uniformDouble(double min, double max)
{
    if (min > max)
        std::swap(min, max);
    if (min == max)
        return min;
    std::uniform_real_distribution<double> distribution(min, max);
    double value;
    {
        std::lock_guard lock(mutex_);
        value = distribution(engine_);
    }
    // Rounding in min + u * (max - min) can land exactly on max; keep the interval half-open.
    return value < max ? value : std::nextafter(max, min);
}

double Generator::normal(double mean, double stddev)
{
    stddev = std::abs(stddev);
    if (stddev == 0.0)
        return mean;
    std::lock_guard lock(mutex_);
    return normal_(engine_, std::normal_distribution<double>::param_type(mean, stddev));
}

bool Generator::chance(double p)
{
    if (!(p > 0.0))
        return false;
    if (p >= 1.0)
        return true;
    return uniformDouble() < p;
}

uint64_t Generator::nextUint64()
{
    std::lock_guard lock(mutex_);
    return engine_();
}

}  // namespace Corvexis::Random
