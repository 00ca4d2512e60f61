#include "Host/Core/PlaybackTimer.h"

#include <algorithm>
#include <cmath>
#include <thread>

#include "Host/Core/PreciseSleep.h"
#include "Host/Core/StoppableThread.h"

namespace Corvexis::Threading {

namespace {

using Clock = std::chrono::steady_clock;

int64_t nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

// How long before a due time the thread stops waiting on the condition variable (which may wake late
// by a scheduler tick) and hands over to preciseSleep.
constexpr int64_t kHandOverNs = 2'000'000;
constexpr int64_t kSingleFrameGapNs = 1'000'000'000 / 30;

}  // namespace

PlaybackTimer::PlaybackTimer(FrameCallback onFrame, FinishedCallback onFinished, std::string threadName)
    : onFrame_(std::move(onFrame)), onFinished_(std::move(onFinished)), threadName_(std::move(threadName))
{
}

PlaybackTimer::~PlaybackTimer()
{
    stop();
}

void PlaybackTimer::setRangeTimestamps(std::vector<double> timesSec)
{
    std::vector<int64_t> offsets;
    offsets.reserve(timesSec.size());
    // Offsets from the first frame in whole nanoseconds; the differences of integers telescope, so a
    // long play-out accumulates no rounding.
    const double first = timesSec.empty() ? 0.0 : timesSec.front();
    int64_t previous = 0;
    for (double t : timesSec) {
        const double offsetSec = std::isfinite(t) ? t - first : 0.0;
        const auto ns = static_cast<int64_t>(std::llround(offsetSec * 1e9));
        previous = std::max(previous, ns);
        offsets.push_back(previous);
    }
    std::lock_guard lock(mutex_);
    pendingOffsetsNs_ = std::move(offsets);
}

int PlaybackTimer::size() const
{
    std::lock_guard lock(mutex_);
    return static_cast<int>(pendingOffsetsNs_.size());
}

void PlaybackTimer::setLoop(bool loop)
{
    std::lock_guard lock(mutex_);
    loop_ = loop;
}

bool PlaybackTimer::loop() const
{
    std::lock_guard lock(mutex_);
    return loop_;
}

void PlaybackTimer::setSkipDelayedFrames(bool skip)
{
    std::lock_guard lock(mutex_);
    skip_ = skip;
}

bool PlaybackTimer::skipDelayedFrames() const
{
    std::lock_guard lock(mutex_);
    return skip_;
}

void PlaybackTimer::setUseAbsoluteTimesteps(bool absolute)
{
    std::lock_guard lock(mutex_);
    absolute_ = absolute;
}

bool PlaybackTimer::useAbsoluteTimesteps() const
{
    std::lock_guard lock(mutex_);
    return absolute_;
}

void PlaybackTimer::reapThread()
{
    // A thread that ended by itself (end of play-out, or stopped from its own callback) is joined here;
    // destroying it from its own thread (a callback restarting the timer) detaches it instead, which is
    // safe because the body touches nothing after its callbacks.
    thread_.reset();
}

bool PlaybackTimer::start(int index)
{
    std::lock_guard startLock(startMutex_);
    {
        std::lock_guard lock(mutex_);
        if (running_ || pendingOffsetsNs_.empty() || index < 0 ||
            index >= static_cast<int>(pendingOffsetsNs_.size()))
            return false;
    }
    reapThread();
    {
        std::lock_guard lock(mutex_);
        offsetsNs_ = pendingOffsetsNs_;
        const auto n = static_cast<int64_t>(offsetsNs_.size());
        gapNs_ = n > 1 ? std::max<int64_t>(offsetsNs_.back() / (n - 1), 0) : kSingleFrameGapNs;
        roundNs_ = offsetsNs_.back() + gapNs_;
        startIndex_ = index;
        anchorPosNs_ = offsetsNs_[static_cast<size_t>(index)];
        anchorNs_ = nowNs();
        running_ = true;
        paused_ = false;
        stopRequested_ = false;
    }
    thread_ = std::make_unique<StoppableThread>(threadName_, [this](StoppableThread&) { run(); });
    return true;
}

void PlaybackTimer::stop()
{
    bool onOwnThread = false;
    {
        std::lock_guard lock(mutex_);
        // Decided without startMutex_: the owner may be holding it while joining this very thread.
        onOwnThread = timerThreadId_ == std::this_thread::get_id();
        stopRequested_ = true;
        running_ = false;
        paused_ = false;
    }
    wake_.notify_all();
    if (onOwnThread)
        return;
    std::lock_guard startLock(startMutex_);
    reapThread();
}

bool PlaybackTimer::pause()
{
    std::lock_guard lock(mutex_);
    if (!running_ || paused_)
        return false;
    paused_ = true;
    pausedAtNs_ = nowNs();
    return true;
}

bool PlaybackTimer::resume()
{
    {
        std::lock_guard lock(mutex_);
        if (!running_ || !paused_)
            return false;
        paused_ = false;
        // The whole schedule moves by the pause, so the waiting frame keeps the wait it had left.
        anchorNs_ += nowNs() - pausedAtNs_;
    }
    wake_.notify_all();
    return true;
}

bool PlaybackTimer::isRunning() const
{
    std::lock_guard lock(mutex_);
    return running_;
}

bool PlaybackTimer::isPaused() const
{
    std::lock_guard lock(mutex_);
    return paused_;
}

std::chrono::steady_clock::time_point PlaybackTimer::dueTime(int64_t round, int index) const
{
    std::lock_guard lock(mutex_);
    if (offsetsNs_.empty())
        return {};
    index = std::clamp(index, 0, static_cast<int>(offsetsNs_.size()) - 1);
    return Clock::time_point(std::chrono::nanoseconds(dueNsLocked(round, index)));
}

std::chrono::nanoseconds PlaybackTimer::loopGap() const
{
    std::lock_guard lock(mutex_);
    if (!offsetsNs_.empty())
        return std::chrono::nanoseconds(gapNs_);
    const auto n = static_cast<int64_t>(pendingOffsetsNs_.size());
    return std::chrono::nanoseconds(n > 1 ? pendingOffsetsNs_.back() / (n - 1) : kSingleFrameGapNs);
}

int64_t PlaybackTimer::dueNsLocked(int64_t round, int index) const
{
    return anchorNs_ + round * roundNs_ + offsetsNs_[static_cast<size_t>(index)] - anchorPosNs_;
}

void PlaybackTimer::run()
{
    std::unique_lock lock(mutex_);
    timerThreadId_ = std::this_thread::get_id();
    const int n = static_cast<int>(offsetsNs_.size());
    int index = startIndex_;
    int64_t round = 0;
    // The next frame after (round, index), or false at the end of a play-out without looping.
    auto advance = [&](int64_t& r, int& i) {
        if (i + 1 < n) {
            ++i;
            return true;
        }
        if (!loop_)
            return false;
        i = 0;
        ++r;
        return true;
    };

    while (true) {
        // Wait until the frame is due, on the condition variable while far away, then precisely.
        int64_t due = 0;
        bool ready = false;
        while (!stopRequested_ && !ready) {
            if (paused_) {
                wake_.wait(lock, [this] { return stopRequested_ || !paused_; });
                continue;
            }
            due = dueNsLocked(round, index);
            const int64_t remaining = due - nowNs();
            if (remaining > kHandOverNs) {
                wake_.wait_until(lock, Clock::time_point(std::chrono::nanoseconds(due - kHandOverNs)));
                continue;
            }
            lock.unlock();
            preciseSleep(std::chrono::nanoseconds(due - nowNs()));
            lock.lock();
            // A pause or stop that came during the last stretch wins over the frame.
            ready = !paused_;
        }
        if (stopRequested_)
            return;

        const int64_t emittedNs = nowNs();
        if (skip_) {
            int64_t r = round;
            int i = index;
            while (advance(r, i) && dueNsLocked(r, i) <= emittedNs) {
                round = r;
                index = i;
            }
        }
        if (!absolute_) {
            // The next interval counts from this emission, not from the schedule.
            anchorNs_ = emittedNs;
            anchorPosNs_ = round * roundNs_ + offsetsNs_[static_cast<size_t>(index)];
        }

        lock.unlock();
        if (onFrame_)
            onFrame_(index);
        lock.lock();
        if (stopRequested_)
            return;
        if (!advance(round, index)) {
            running_ = false;
            lock.unlock();
            if (onFinished_)
                onFinished_();
            return;  // nothing of this object is touched after the callback
        }
    }
}

}  // namespace Corvexis::Threading
