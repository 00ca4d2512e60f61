// Playback timing: the host PlaybackTimer plays a 60 Hz schedule of 600 frames, looped, for 30 s
// (absolute time steps, no skipping), and every callback notes when it ran. Each emission is compared
// with its scheduled time (PlaybackTimer::dueTime of its round and frame).
//
// Prints:
//   FIGURE playback_median_us <value> us   median of |emission - scheduled|
//   FIGURE playback_p99_us <value> us      99th percentile of the same
//   FIGURE playback_max_us <value> us      maximum of the same
//   FIGURE playback_drift_us <value> us    emission - scheduled of the last frame played
//   FIGURE playback_frames <value> frames  emissions measured
//   FIGURE playback_cpu_pct <value> %      CPU time of the process during the play-out (one core = 100)
// Optional argument: seconds to play (default 30).

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "Host/Core/PlaybackTimer.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kFrames = 600;
constexpr double kRateHz = 60.0;

struct Emission
{
    int64_t round = 0;
    int index = 0;
    Clock::time_point at;
};

double percentile(const std::vector<double>& sorted, double p)
{
    if (sorted.empty())
        return 0;
    const auto index = static_cast<size_t>(p * static_cast<double>(sorted.size() - 1) + 0.5);
    return sorted[std::min(index, sorted.size() - 1)];
}

int64_t processCpuNs()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

}  // namespace

int main(int argc, char** argv)
{
    const double seconds = argc > 1 ? std::atof(argv[1]) : 30.0;
    if (!(seconds > 0)) {
        std::fprintf(stderr, "bench_playback: seconds must be positive\n");
        return 2;
    }

    std::vector<Emission> emissions;
    emissions.reserve(static_cast<size_t>(seconds * kRateHz * 1.2) + 16);
    std::mutex mutex;
    std::condition_variable done;
    const size_t wanted = static_cast<size_t>(seconds * kRateHz);
    int64_t round = 0;
    int previous = -1;

    // The callback does only what a cheap receiver would: note the time and the position.
    Corvexis::Threading::PlaybackTimer timer([&](int index) {
        const auto now = Clock::now();
        std::lock_guard lock(mutex);
        if (index <= previous)
            ++round;
        previous = index;
        emissions.push_back({round, index, now});
        if (emissions.size() >= wanted)
            done.notify_all();
    });
    std::vector<double> schedule;
    for (int i = 0; i < kFrames; ++i)
        schedule.push_back(i / kRateHz);
    timer.setRangeTimestamps(schedule);

    const int64_t cpuStart = processCpuNs();
    const auto wallStart = Clock::now();
    timer.start(0);
    {
        std::unique_lock lock(mutex);
        done.wait(lock, [&] { return emissions.size() >= wanted; });
    }
    timer.stop();
    const double wallNs = static_cast<double>((Clock::now() - wallStart).count());
    const double cpuPct = 100.0 * static_cast<double>(processCpuNs() - cpuStart) / wallNs;

    std::vector<double> errorsUs;
    errorsUs.reserve(emissions.size());
    double lastUs = 0;
    for (const auto& e : emissions) {
        const auto due = timer.dueTime(e.round, e.index);
        lastUs = std::chrono::duration<double, std::micro>(e.at - due).count();
        errorsUs.push_back(std::abs(lastUs));
    }
    std::sort(errorsUs.begin(), errorsUs.end());

    std::printf("FIGURE playback_median_us %.1f us\n", percentile(errorsUs, 0.5));
    std::printf("FIGURE playback_p99_us %.1f us\n", percentile(errorsUs, 0.99));
    std::printf("FIGURE playback_max_us %.1f us\n", errorsUs.empty() ? 0.0 : errorsUs.back());
    std::printf("FIGURE playback_drift_us %.1f us\n", lastUs);
    std::printf("FIGURE playback_frames %zu frames\n", emissions.size());
    std::printf("FIGURE playback_cpu_pct %.2f %%\n", cpuPct);
    return 0;
}
