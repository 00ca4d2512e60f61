#pragma once

#include <time.h>

#include <chrono>
#include <optional>

namespace Corvexis::StreamUtils {

// The precise sleep that paces stream workers. It lives in the host (Threading::preciseSleep), so that
// the host's timers pace themselves the same way; these are the plug-in's names for it, with the same
// contract (see Host/Core/PreciseSleep.h). All thread-safe.
void preciseSleep(std::chrono::nanoseconds d);
std::chrono::nanoseconds preciseSleepGuard();
std::optional<std::chrono::nanoseconds> timerResolution(clockid_t clock = CLOCK_MONOTONIC);

}  // namespace Corvexis::StreamUtils
