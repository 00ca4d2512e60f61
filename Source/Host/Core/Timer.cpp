#include "Host/Core/Timer.h"

namespace Corvexis {

Timer::Timer() : startNs_(nowNs()) {}

void Timer::reset()
{
    startNs_.store(nowNs());
}

std::chrono::nanoseconds Timer::elapsed() const
{
    return std::chrono::nanoseconds(nowNs() - startNs_.load());
}

double Timer::elapsedMs() const
{
    return static_cast<double>(elapsed().count()) / 1e6;
}

double Timer::elapsedUs() const
{
    return static_cast<double>(elapsed().count()) / 1e3;
}

int64_t Timer::nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace Corvexis
