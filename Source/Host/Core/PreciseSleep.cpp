#include "Host/Core/PreciseSleep.h"

#include <sys/prctl.h>

#include <cerrno>
#include <cstdint>
#include <limits>

#include "Host/Core/Log.h"
#include "Host/Core/WakeLatencyEstimator.h"

namespace Corvexis::Threading {

namespace {

using Ns = std::chrono::nanoseconds;

int64_t monotonicNowNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

timespec toTimespec(int64_t ns)
{
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
    ts.tv_nsec = static_cast<long>(ns % 1'000'000'000);
    return ts;
}

inline void cpuRelax()
{
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
}

// The guard never goes below the clock's resolution: a coarser timer cannot wake any closer to its
// target. When the resolution is unknown, assume coarse timers and keep the largest guard.
Ns guardFloor()
{
    static const Ns floor = timerResolution(CLOCK_MONOTONIC).value_or(WakeLatencyEstimator::kMaxGuard);
    return floor;
}

struct ThreadState
{
    ThreadState() : estimator(guardFloor())
    {
        // The default slack (50 us) lets the kernel defer our wake-ups to merge timers; 1 ns asks
        // for none. Per thread, hence once here.
        prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    }
    WakeLatencyEstimator estimator;
};

ThreadState& threadState()
{
    thread_local ThreadState state;
    return state;
}

}  // namespace

std::optional<std::chrono::nanoseconds> timerResolution(clockid_t clock)
{
    timespec res{};
    if (clock_getres(clock, &res) != 0) {
        Log::log(Log::Level::Debug, "preciseSleep", "Failed to query scheduler timer resolution");
        return std::nullopt;
    }
    return std::chrono::seconds(res.tv_sec) + std::chrono::nanoseconds(res.tv_nsec);
}

std::chrono::nanoseconds preciseSleepGuard()
{
    return threadState().estimator.guard();
}

void preciseSleep(std::chrono::nanoseconds d)
{
    if (d <= Ns::zero())
        return;
    const int64_t startNs = monotonicNowNs();
    const int64_t deadlineNs = d.count() > std::numeric_limits<int64_t>::max() - startNs
                                   ? std::numeric_limits<int64_t>::max()
                                   : startNs + d.count();

    WakeLatencyEstimator& estimator = threadState().estimator;
    const int64_t wakeNs = deadlineNs - estimator.guard().count();
    if (wakeNs > startNs) {
        const timespec wake = toTimespec(wakeNs);
        int rc;
        do {
            rc = clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &wake, nullptr);
        } while (rc == EINTR);
        // A failed sleep (not expected with valid arguments) gives no sample; the spin still holds.
        if (rc == 0)
            estimator.addSample(Ns(monotonicNowNs() - wakeNs));
    } else {
        estimator.noteSpinOnly();
    }

    while (monotonicNowNs() < deadlineNs)
        cpuRelax();
}

}  // namespace Corvexis::Threading
