#pragma once

#include <chrono>
#include <cmath>

namespace Corvexis {

// The period at which a camera's capture thread looks for a new frame: 0.999 / rate seconds, truncated
// to whole microseconds, so that polling runs slightly faster than the camera delivers and never falls
// a whole frame behind. A rate that is not positive gives a poll every 100 ms. Thread-safe.
inline std::chrono::microseconds cameraPollingPeriod(double fps)
{
    if (!(fps > 0.0))
        return std::chrono::microseconds(100'000);
    // Rounded to the nearest nanosecond before truncating, so that 0.999 / 30 (33299.99999... in binary)
    // gives 33,300 microseconds.
    const double ns = std::round(0.999e9 / fps);
    return std::chrono::microseconds(static_cast<long long>(ns / 1000.0));
}

}  // namespace Corvexis
