#pragma once

#include <chrono>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "Host/Core/Signal.h"
#include "Host/Core/SignalReceiver.h"

namespace Corvexis {

class Stream;

// Tells whether a stream keeps the rate it was asked for. A source with a rate setting declares it
// (setRequestedRate); the watch measures the records' real arrival rate (steady clock at emission, not
// the records' timestamps, which a simulated source advances by exactly one period whatever happens).
// While the stream is Running and has run for one measuring window, a measured rate below the asked one
// by more than kTolerance makes the stream "behind"; behind for longer than kGrace makes it "falling
// behind", and the first time in a run the watch logs one warning (level warning, category "Stream")
// naming the stream, both rates and, when known, the slowest step of its work cycle.
//
// A run begins when the stream becomes Running (start or resume) or the asked rate changes; any other
// state ends the judgement. Measuring window: max(1 s, 10 periods), so slow rates are judged on at least
// ten records. The rate is (records - 1) over their span, lowered when the newest record is overdue.
//
// Threads: records arrive on the emitting thread, steps and evaluations on the worker, queries anywhere;
// every operation is thread-safe (mutex_ guards every field; the warning is logged outside it).
class StreamRateWatch : public SignalReceiver
{
public:
    using Clock = std::chrono::steady_clock;
    static constexpr double kTolerance = 0.10;
    static constexpr std::chrono::milliseconds kGrace{2000};

    StreamRateWatch();
    ~StreamRateWatch() override;
    StreamRateWatch(const StreamRateWatch&) = delete;
    StreamRateWatch& operator=(const StreamRateWatch&) = delete;

    // Watches `stream`'s records and state changes; its name goes into the warning. Once; the stream
    // must outlive the watch or disconnect it by destroying it first. Thread-safe.
    void connect(Stream* stream);

    // Records per second the source was asked for; 0 (or not finite) means none: nothing is judged.
    // A changed value begins a new run. Thread-safe.
    void setRequestedRate(double hz);
    double requestedRate() const;
    // The duration of one named step of a work cycle (the worker notes "doWork"; sources may note finer
    // steps). Kept as a moving average per name. Thread-safe.
    void noteStep(const std::string& step, std::chrono::nanoseconds duration);

    // Feeding with explicit times (the connection and the worker use the current time). Thread-safe.
    void noteRecord(Clock::time_point t);
    void setRunning(bool running, Clock::time_point t);
    // Judges at `t`; logs the warning the first time in a run that the stream has been behind for
    // longer than kGrace. Thread-safe.
    void evaluate(Clock::time_point t);

    // Behind by more than the tolerance for longer than kGrace, as of the last evaluation. Thread-safe.
    bool fallingBehind() const;
    // The rate of the last evaluation, records per second (0 before the first). Thread-safe.
    double measuredRate() const;
    // "name (N ms)" of the slowest step noted, or "" when none was. Thread-safe.
    std::string slowestStep() const;

private:
    struct Step
    {
        std::string name;
        double averageMs = 0.0;
    };

    void restartLocked(Clock::time_point t);
    std::string slowestStepLocked() const;
    Clock::duration windowLocked() const;

    mutable std::mutex mutex_;
    // guarded by mutex_
    Stream* stream_ = nullptr;
    double requested_ = 0.0;
    bool running_ = false;
    Clock::time_point runStart_{};
    std::deque<Clock::time_point> records_;  // arrivals within the measuring window
    bool behind_ = false;
    Clock::time_point behindSince_{};
    bool fallingBehind_ = false;
    bool warned_ = false;  // the one warning of this run was logged
    double measured_ = 0.0;
    std::vector<Step> steps_;
};

}  // namespace Corvexis
