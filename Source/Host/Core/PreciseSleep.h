#pragma once

#include <time.h>

#include <chrono>
#include <optional>

namespace Corvexis::Threading {

// Sleeps for `d` on the monotonic clock, precisely: it never returns before `d` has passed, and
// returns a few microseconds after. It sleeps with clock_nanosleep until a guard interval before the
// deadline and spins the rest. The guard follows the measured wake-up lateness of the calling thread
// (WakeLatencyEstimator), so the spin stays short, typically tens of microseconds on an idle machine.
// The first call on a thread sets that thread's timer slack to its minimum (it stays so, and threads
// it creates afterwards inherit it, as they inherit any timer slack).
// Zero or negative durations return at once. Thread-safe (per-thread state only).
void preciseSleep(std::chrono::nanoseconds d);

// The guard that the calling thread's next preciseSleep would use. Thread-safe.
std::chrono::nanoseconds preciseSleepGuard();

// The resolution of `clock` (clock_getres). On failure logs "Failed to query scheduler timer
// resolution" at debug level under the category "preciseSleep" and returns empty. Thread-safe.
std::optional<std::chrono::nanoseconds> timerResolution(clockid_t clock = CLOCK_MONOTONIC);

}  // namespace Corvexis::Threading
