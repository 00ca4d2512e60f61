// Pacing precision of a stream worker: a real Stream whose doWork asks to be called again one period
// after its previous due time (100-ns ticks since 1970 on the system clock) records how far from the
// due time each call actually ran; the worker sleeps with StreamUtils::preciseSleep. For comparison the
// same schedule is run by a plain loop with std::this_thread::sleep_until at the default timer slack.
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
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "Stream/Framework/Stream.h"

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

PacingResult summarise(std::vector<double> errorsUs, int64_t cpuNs, double wallNs)
{
    PacingResult result;
    std::sort(errorsUs.begin(), errorsUs.end());
    result.medianUs = percentile(errorsUs, 0.5);
    result.p99Us = percentile(errorsUs, 0.99);
    result.maxUs = errorsUs.empty() ? 0 : errorsUs.back();
    result.cpuPct = wallNs > 0 ? 100.0 * static_cast<double>(cpuNs) / wallNs : 0;
    return result;
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

        result = summarise(std::move(errorsUs), cpuNs, wallNs);
    }).join();
    return result;
}

// A stream that only keeps time: every doWork call notes its lateness and asks for the next period.
class PacedStream : public Corvexis::Stream
{
public:
    PacedStream(double rateHz, size_t passes)
        : Stream("paced"), period_(duration_cast<Ticks>(duration<double>(1.0 / rateHz))), passes_(passes)
    {
        errorsUs_.reserve(passes);
    }
    ~PacedStream() override { close(); }
    Kind kind() const override { return Kind::ImageStream; }

    PacingResult waitForResult()
    {
        done_.get_future().wait();
        return summarise(errorsUs_, cpuEndNs_ - cpuStartNs_, wallNs_);
    }

protected:
    bool openImpl() override { return true; }
    bool closeImpl() override { return true; }
    bool startImpl() override { return true; }
    bool stopImpl() override { return true; }
    std::optional<WorkContinuation> doWork() override
    {
        const auto now = system_clock::now();
        if (errorsUs_.empty() && cpuStartNs_ == 0) {
            // The first call comes at once after start: it only sets up the schedule.
            cpuStartNs_ = threadCpuNs();
            wallStart_ = steady_clock::now();
            due_ = systemNow() + period_;
            return WorkContinuation{due_};
        }
        errorsUs_.push_back(std::abs(duration<double, std::micro>(now - due_).count()));
        if (errorsUs_.size() >= passes_) {
            cpuEndNs_ = threadCpuNs();
            wallNs_ = static_cast<double>(duration_cast<nanoseconds>(steady_clock::now() - wallStart_).count());
            done_.set_value();
            return std::nullopt;
        }
        due_ += period_;
        return WorkContinuation{due_};
    }

private:
    const Ticks period_;
    const size_t passes_;
    // Worker thread only, until done_ is set.
    std::vector<double> errorsUs_;
    SysTime due_{};
    int64_t cpuStartNs_ = 0;
    int64_t cpuEndNs_ = 0;
    double wallNs_ = 0;
    steady_clock::time_point wallStart_;
    std::promise<void> done_;
};

PacingResult measureStream(double rateHz, duration<double> runTime)
{
    PacedStream stream(rateHz, static_cast<size_t>(runTime.count() * rateHz));
    stream.start();
    return stream.waitForResult();
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
    const Tick sleepUntil = [](SysTime due) { std::this_thread::sleep_until(due); };

    for (const int rate : {30, 250, 1000}) {
        const std::string suffix = std::to_string(rate) + "hz";
        print("pacing_precise_" + suffix, measureStream(rate, duration<double>(seconds)));
        print("pacing_sleepuntil_" + suffix, measurePacing(rate, duration<double>(seconds), sleepUntil));
    }
    return 0;
}
