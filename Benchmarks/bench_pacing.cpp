// Pacing precision of a stream-like work loop: each pass computes the next due time as the previous
// one plus the period (100-ns ticks since 1970 on the system clock, as a stream worker does), sleeps
// until then, and records how far from the due time the work actually ran. Compares
// StreamUtils::preciseSleep with std::this_thread::sleep_until at the default timer slack.
//
// Prints, for R = 30, 250 and 1000 Hz:
//   FIGURE pacing_<method>_<R>hz_{median,p99,max}_us <value> us   |actual - due|
//   FIGURE pacing_<method>_<R>hz_cpu_pct <value> %                CPU time of the pacing thread
// Optional argument: seconds per run (default 3).

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "Stream/StreamUtils.h"

namespace {

using namespace std::chrono;
using Ticks = duration<int64_t, std::ratio<1, 10'000'000>>;  // 100 ns
using SysTime = time_point<system_clock, Ticks>;

// One paced pass: called with the due time of this pass, it waits for it (and, in a real stream,
// does the work); it returns when the pass ran.
using Tick = std::function<void(SysTime due)>;

struct PacingResult
{
    double medianUs = 0;
    double p99Us = 0;
    double maxUs = 0;
    double cpuPct = 0;  // of one core
};

int64_t threadCpuNs()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

SysTime systemNow()
{
    return time_point_cast<Ticks>(system_clock::now());
}

double percentile(const std::vector<double>& sorted, double p)
{
    if (sorted.empty())
        return 0;
    const auto index = static_cast<size_t>(p * static_cast<double>(sorted.size() - 1) + 0.5);
    return sorted[std::min(index, sorted.size() - 1)];
}

// Runs `tick` at `rateHz` for `runTime` on a fresh thread (so per-thread settings such as the timer
// slack start from the defaults) and measures the error of each pass against its due time.
PacingResult measurePacing(double rateHz, duration<double> runTime, const Tick& tick)
{
    PacingResult result;
    std::thread([&] {
        const auto period = duration_cast<Ticks>(duration<double>(1.0 / rateHz));
        const auto passes = static_cast<size_t>(runTime.count() * rateHz);
        std::vector<double> errorsUs;
        errorsUs.reserve(passes);

        const auto wallStart = steady_clock::now();
        const int64_t cpuStart = threadCpuNs();
        SysTime due = systemNow() + period;
        for (size_t i = 0; i < passes; ++i) {
            tick(due);
            const auto ranAt = system_clock::now();
            errorsUs.push_back(std::abs(duration<double, std::micro>(ranAt - due).count()));
            due += period;
        }
        const int64_t cpuNs = threadCpuNs() - cpuStart;
        const double wallNs =
            static_cast<double>(duration_cast<nanoseconds>(steady_clock::now() - wallStart).count());

        std::sort(errorsUs.begin(), errorsUs.end());
        result.medianUs = percentile(errorsUs, 0.5);
        result.p99Us = percentile(errorsUs, 0.99);
        result.maxUs = errorsUs.empty() ? 0 : errorsUs.back();
        result.cpuPct = wallNs > 0 ? 100.0 * static_cast<double>(cpuNs) / wallNs : 0;
    }).join();
    return result;
}

void print(const std::string& prefix, const PacingResult& r)
{
    std::printf("FIGURE %s_median_us %.1f us\n", prefix.c_str(), r.medianUs);
    std::printf("FIGURE %s_p99_us %.1f us\n", prefix.c_str(), r.p99Us);
    std::printf("FIGURE %s_max_us %.1f us\n", prefix.c_str(), r.maxUs);
    std::printf("FIGURE %s_cpu_pct %.2f %%\n", prefix.c_str(), r.cpuPct);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv)
{
    const double seconds = argc > 1 ? std::max(0.1, std::atof(argv[1])) : 3.0;

    // As the stream worker does: the time left to the due time, from the system clock; none if past.
    const Tick precise = [](SysTime due) {
        Corvexis::StreamUtils::preciseSleep(duration_cast<nanoseconds>(due - systemNow()));
    };
    const Tick sleepUntil = [](SysTime due) { std::this_thread::sleep_until(due); };

    for (const int rate : {30, 250, 1000}) {
        const std::string suffix = std::to_string(rate) + "hz";
        print("pacing_precise_" + suffix, measurePacing(rate, duration<double>(seconds), precise));
        print("pacing_sleepuntil_" + suffix, measurePacing(rate, duration<double>(seconds), sleepUntil));
    }
    return 0;
}
