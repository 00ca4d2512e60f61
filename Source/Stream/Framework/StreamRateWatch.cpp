#include "Stream/Framework/StreamRateWatch.h"

#include <algorithm>
#include <cmath>

#include "Host/Core/Log.h"
#include "Host/Core/StringUtils.h"
#include "Stream/Framework/Stream.h"
#include "Stream/Framework/StreamData.h"

namespace Corvexis {

namespace {

// Weight of the newest duration in a step's moving average.
constexpr double kStepSmoothing = 0.2;
constexpr auto kMinimumWindow = std::chrono::seconds(1);
constexpr double kWindowPeriods = 10.0;

std::string hz(double rate)
{
    std::string text = String::fromDouble(std::round(rate * 10.0) / 10.0);
    if (text.find('.') == std::string::npos)
        text += ".0";
    return text + " Hz";
}

}  // namespace

StreamRateWatch::StreamRateWatch() = default;

StreamRateWatch::~StreamRateWatch()
{
    disconnectAll();
}

void StreamRateWatch::connect(Stream* stream)
{
    {
        std::lock_guard lock(mutex_);
        stream_ = stream;
    }
    stream->signalStreamData.connect(this, [this](const std::shared_ptr<const StreamData>&) {
        const auto now = Clock::now();
        noteRecord(now);
        evaluate(now);
    });
    stream->signalStateChanged.connect(this, [this](Stream::StateChange change) {
        setRunning(change.newState == Stream::State::Running, Clock::now());
    });
}

void StreamRateWatch::setRequestedRate(double rate)
{
    if (!std::isfinite(rate) || rate < 0.0)
        rate = 0.0;
    std::lock_guard lock(mutex_);
    if (rate == requested_)
        return;
    requested_ = rate;
    restartLocked(Clock::now());
}

double StreamRateWatch::requestedRate() const
{
    std::lock_guard lock(mutex_);
    return requested_;
}

void StreamRateWatch::noteStep(const std::string& step, std::chrono::nanoseconds duration)
{
    const double ms = std::chrono::duration<double, std::milli>(duration).count();
    std::lock_guard lock(mutex_);
    auto it = std::find_if(steps_.begin(), steps_.end(), [&](const Step& s) { return s.name == step; });
    if (it == steps_.end())
        steps_.push_back(Step{step, ms});
    else
        it->averageMs += kStepSmoothing * (ms - it->averageMs);
}

void StreamRateWatch::noteRecord(Clock::time_point t)
{
    std::lock_guard lock(mutex_);
    if (!running_ || requested_ <= 0.0)
        return;
    records_.push_back(t);
    const auto window = windowLocked();
    while (!records_.empty() && records_.front() < t - window)
        records_.pop_front();
}

void StreamRateWatch::setRunning(bool running, Clock::time_point t)
{
    std::lock_guard lock(mutex_);
    if (running == running_)
        return;
    running_ = running;
    restartLocked(t);
}

void StreamRateWatch::restartLocked(Clock::time_point t)
{
    runStart_ = t;
    records_.clear();
    behind_ = false;
    fallingBehind_ = false;
    warned_ = false;
    measured_ = 0.0;
    steps_.clear();
}

StreamRateWatch::Clock::duration StreamRateWatch::windowLocked() const
{
    const auto periods = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(requested_ > 0.0 ? kWindowPeriods / requested_ : 0.0));
    return std::max<Clock::duration>(kMinimumWindow, periods);
}

void StreamRateWatch::evaluate(Clock::time_point t)
{
    std::string warning;
    {
        std::lock_guard lock(mutex_);
        if (!running_ || requested_ <= 0.0)
            return;
        const auto window = windowLocked();
        if (t - runStart_ < window)
            return;  // not yet one window of records to judge by
        while (!records_.empty() && records_.front() < t - window)
            records_.pop_front();

        double rate = 0.0;
        const auto n = records_.size();
        if (n >= 2) {
            const double span = std::chrono::duration<double>(records_.back() - records_.front()).count();
            rate = span > 0.0 ? static_cast<double>(n - 1) / span : 0.0;
            // An overdue newest record lowers the rate, so a stream that stopped emitting is judged too.
            const double sinceFirst = std::chrono::duration<double>(t - records_.front()).count();
            if (sinceFirst > 0.0)
                rate = std::min(rate, static_cast<double>(n) / sinceFirst);
        } else {
            rate = static_cast<double>(n) / std::chrono::duration<double>(window).count();
        }
        measured_ = rate;

        const bool behind = rate < requested_ * (1.0 - kTolerance);
        if (!behind) {
            behind_ = false;
            fallingBehind_ = false;
            return;
        }
        if (!behind_) {
            behind_ = true;
            behindSince_ = t;
        }
        fallingBehind_ = t - behindSince_ > kGrace;
        if (fallingBehind_ && !warned_) {
            warned_ = true;
            warning = "Stream '" + (stream_ ? stream_->name() : std::string("?")) +
                      "' falls behind: asked for " + hz(requested_) + ", measured " + hz(rate) +
                      " for more than " + String::fromDouble(std::chrono::duration<double>(kGrace).count()) +
                      " s";
            const std::string step = slowestStepLocked();
            if (!step.empty())
                warning += "; slowest step: " + step;
        }
    }
    if (!warning.empty())
        Log::log(Log::Level::Warning, "Stream", warning);
}

bool StreamRateWatch::fallingBehind() const
{
    std::lock_guard lock(mutex_);
    return fallingBehind_;
}

double StreamRateWatch::measuredRate() const
{
    std::lock_guard lock(mutex_);
    return measured_;
}

std::string StreamRateWatch::slowestStep() const
{
    std::lock_guard lock(mutex_);
    return slowestStepLocked();
}

std::string StreamRateWatch::slowestStepLocked() const
{
    // A source's own steps are more telling than the whole cycle, which contains them.
    const Step* slowest = nullptr;
    for (const Step& s : steps_)
        if (s.name != "doWork" && (!slowest || s.averageMs > slowest->averageMs))
            slowest = &s;
    if (!slowest)
        for (const Step& s : steps_)
            if (!slowest || s.averageMs > slowest->averageMs)
                slowest = &s;
    if (!slowest)
        return {};
    return slowest->name + " (" + String::fromDouble(std::round(slowest->averageMs * 10.0) / 10.0) + " ms)";
}

}  // namespace Corvexis
