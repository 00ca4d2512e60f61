#pragma once

#include <algorithm>
#include <atomic>
#include <cmath>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "Host/Core/Log.h"
#include "Host/Core/PlaybackTimer.h"
#include "Host/Core/Signal.h"
#include "Host/Core/StringUtils.h"
#include "Stream/Framework/Stream.h"
#include "Stream/Recording/PlaybackStreamControl.h"
#include "Stream/Recording/PlaybackStreamGroup.h"

namespace Corvexis {

// How far recorded timestamps can be trusted for play-out.
enum class TimestampsValidity : int
{
    None = 0,              // no timestamps: frames are played at a frame rate (30 unless set)
    ValidEquidistant = 1,  // every interval within 5 % of the mean: played at a rate derived from them
    NotEquidistant = 2,    // present but irregular (or a single one): played at their own times
};

// The timing of a playback stream T (which derives from a stream class and from this, and passes
// itself to the constructor): it analyses the recorded timestamps, keeps the frame-rate and speed
// settings, computes the play-out schedule and drives the host PlaybackTimer, which calls T's
// playbackFrameDue() with each due frame on the timer's thread.
//
// Rate and speed: with equidistant timestamps the two are tied (speed = fps / derived rate); without
// timestamps only a frame rate exists; with irregular timestamps only a speed factor (the recorded
// times divided by it). A change restarts a running stream so that the new schedule applies; a stream
// in a PlaybackStreamGroup hands the change to the group, which applies it to every member.
//
// Threading: every public operation is thread-safe (mutex_ guards the settings and timestamps; the
// focus is atomic; the timer locks itself). Setters that restart the stream must not be called on the
// stream's worker or timer thread. signalStreamingParametersChanged is emitted on the thread of the
// call that changed the settings, without any lock held.
template <typename T>
class PlaybackStreamBase : public PlaybackStreamControl
{
public:
    static constexpr double kDefaultFps = 30.0;
    static constexpr double kMinimumRate = 0.001;
    static constexpr const char* kLogCategory = "Stream.PlaybackStreamBase";

    ~PlaybackStreamBase() override = default;

    // The frame rate played (none while playing by timestamps). Thread-safe.
    std::optional<double> fps() const
    {
        std::lock_guard lock(mutex_);
        return fps_;
    }
    // The speed factor applied to the recorded times (none without timestamps). Thread-safe.
    std::optional<double> speedFactor() const
    {
        std::lock_guard lock(mutex_);
        return speedFactor_;
    }
    // The rate derived from equidistant timestamps; none otherwise. Thread-safe.
    std::optional<double> calculatedInitialFps() const
    {
        std::lock_guard lock(mutex_);
        return derivedFps_;
    }
    // True: frames follow the frame rate; false: they follow the recorded times. Thread-safe.
    bool isPlayingByFps() const
    {
        std::lock_guard lock(mutex_);
        return playByFps_;
    }
    TimestampsValidity timestampsValidity() const
    {
        std::lock_guard lock(mutex_);
        return validity_;
    }
    int numFrames() const
    {
        std::lock_guard lock(mutex_);
        return count_;
    }

    // Plays at `fps` frames per second. Refused (false, warning) below 0.001. Thread-safe (not on the
    // stream's own threads: a running stream is restarted).
    bool setFps(double fps)
    {
        if (PlaybackStreamGroup* group = playbackGroup())
            return group->setFps(fps);
        if (!applyFps(fps))
            return false;
        restartIfRunning();
        return true;
    }
    // Plays the recorded times divided by `speedFactor`. Refused below 0.001 and without timestamps.
    // Thread-safe, as setFps.
    bool setSpeedFactor(double speedFactor)
    {
        if (PlaybackStreamGroup* group = playbackGroup())
            return group->setSpeedFactor(speedFactor);
        if (!applySpeedFactor(speedFactor))
            return false;
        restartIfRunning();
        return true;
    }

    bool applyFps(double fps) override
    {
        if (!(fps >= kMinimumRate)) {
            Log::log(Log::Level::Warning, kLogCategory, "Speed factor has to be greater than zero.");
            return false;
        }
        {
            std::lock_guard lock(mutex_);
            speedFactor_.reset();
            fps_ = fps;
            playByFps_ = true;
            if (validity_ == TimestampsValidity::ValidEquidistant && derivedFps_)
                speedFactor_ = fps / *derivedFps_;
        }
        signalStreamingParametersChanged.emitSignal();
        return true;
    }
    bool applySpeedFactor(double speedFactor) override
    {
        if (!(speedFactor >= kMinimumRate)) {
            Log::log(Log::Level::Warning, kLogCategory, "Speed factor has to be greater than zero.");
            return false;
        }
        {
            std::lock_guard lock(mutex_);
            if (validity_ == TimestampsValidity::None) {
                Log::log(Log::Level::Warning, kLogCategory,
                         "Speed factor is inactive because there are no timestamps or the timestamps are "
                         "invalid.");
                return false;
            }
            fps_.reset();
            speedFactor_ = speedFactor;
            playByFps_ = false;
            if (validity_ == TimestampsValidity::ValidEquidistant && derivedFps_)
                fps_ = speedFactor * *derivedFps_;
        }
        signalStreamingParametersChanged.emitSignal();
        return true;
    }
    Stream& playbackStream() override { return self_; }

    // Thread-safe; a running play-out follows at its next last frame.
    bool loop() const { return timer_.loop(); }
    void setLoop(bool loop) { timer_.setLoop(loop); }
    // Thread-safe; a running play-out follows from its next frame.
    bool isSkippingDelayedFrames() const { return timer_.skipDelayedFrames(); }
    void setSkipDelayedFrames(bool skip) { timer_.setSkipDelayedFrames(skip); }
    // Thread-safe; applies from the next start.
    bool useAbsoluteTimesteps() const { return timer_.useAbsoluteTimesteps(); }
    void setUseAbsoluteTimesteps(bool absolute) { timer_.setUseAbsoluteTimesteps(absolute); }

    // The frame at which play-out starts, and while playing the frame last played. Thread-safe.
    int playbackFocus() const { return focus_.load(); }
    // Moves the focus to `index` (clamped to the frames); a running play-out continues from there.
    // Thread-safe (not on the timer thread).
    void jumpToFocus(int index)
    {
        const int count = numFrames();
        focus_.store(std::clamp(index, 0, std::max(count - 1, 0)));
        if (timer_.isRunning()) {
            timer_.stop();
            startPlaybackTimer();
        }
    }

    // Play-out times in seconds, one per frame, from the stored timestamps and settings. Thread-safe.
    std::vector<double> calculateTimestampsForStreaming() const
    {
        std::lock_guard lock(mutex_);
        std::vector<double> times(static_cast<size_t>(std::max(count_, 0)));
        if (validity_ == TimestampsValidity::None || playByFps_) {
            const double rate = fps_.value_or(kDefaultFps);
            const double t0 = validity_ == TimestampsValidity::None || !timestamps_ || timestamps_->empty()
                                  ? 0.0
                                  : timestamps_->front();
            for (size_t i = 0; i < times.size(); ++i)
                times[i] = t0 + static_cast<double>(i) / rate;
        } else {
            const double speed = speedFactor_.value_or(1.0);
            for (size_t i = 0; i < times.size() && i < timestamps_->size(); ++i)
                times[i] = (*timestamps_)[i] / speed;
        }
        return times;
    }

    // Classifies recorded timestamps (seconds); `derivedFps` gets 1 / mean interval when equidistant.
    // Thread-safe.
    static TimestampsValidity analyseTimestamps(const std::optional<std::vector<double>>& timestamps,
                                                std::optional<double>* derivedFps = nullptr)
    {
        if (derivedFps)
            derivedFps->reset();
        if (!timestamps)
            return TimestampsValidity::None;
        const auto& t = *timestamps;
        if (t.size() < 2)
            return TimestampsValidity::NotEquidistant;
        double minDiff = t[1] - t[0];
        double maxDiff = minDiff;
        double sum = 0.0;
        for (size_t i = 1; i < t.size(); ++i) {
            const double d = t[i] - t[i - 1];
            if (!(d > 0.0))
                return TimestampsValidity::NotEquidistant;
            minDiff = std::min(minDiff, d);
            maxDiff = std::max(maxDiff, d);
            sum += d;
        }
        const double mean = sum / static_cast<double>(t.size() - 1);
        if (minDiff >= 0.95 * mean && maxDiff <= 1.05 * mean) {
            if (derivedFps)
                *derivedFps = 1.0 / mean;
            return TimestampsValidity::ValidEquidistant;
        }
        return TimestampsValidity::NotEquidistant;
    }

    // Emitted when rate, speed or timestamps change, on the thread that changed them.
    Signal<> signalStreamingParametersChanged;

protected:
    // `self` is the stream deriving from this; only its address is kept during construction.
    explicit PlaybackStreamBase(T& self)
        : self_(self),
          timer_([this](int index) { onTimerFrame(index); }, [this] { playbackFinished(); }, "PlaybackTimer")
    {
    }

    // Stores the frame count and timestamps (seconds), classifies them and sets the initial rate and
    // speed. Caller synchronises with starts (construction time).
    void setTimestamps(int count, std::optional<std::vector<double>> timestamps)
    {
        std::optional<double> derived;
        const TimestampsValidity validity = analyseTimestamps(timestamps, &derived);
        double rateForMessage = kDefaultFps;
        {
            std::lock_guard lock(mutex_);
            count_ = count;
            timestamps_ = std::move(timestamps);
            validity_ = validity;
            derivedFps_ = derived;
            if (validity == TimestampsValidity::None) {
                rateForMessage = fps_.value_or(kDefaultFps);
                playByFps_ = true;
                fps_ = rateForMessage;
                speedFactor_.reset();
            } else if (validity == TimestampsValidity::ValidEquidistant) {
                playByFps_ = true;
                fps_ = derived;
                speedFactor_ = 1.0;
            } else {
                playByFps_ = false;
                fps_.reset();
                speedFactor_ = 1.0;
            }
        }
        if (validity == TimestampsValidity::None)
            Log::log(Log::Level::Warning, kLogCategory,
                     "Timestamps are invalid. Assuming initial rate of " +
                         String::fromDouble(rateForMessage) + " Hz");
        signalStreamingParametersChanged.emitSignal();
    }

    // Starts play-out at the focus with the current schedule; nothing when already playing. False when
    // there is nothing to play. Stream's worker thread (or any, caller synchronises with stops).
    bool startPlaybackTimer()
    {
        if (timer_.isRunning())
            return true;
        const std::vector<double> schedule = calculateTimestampsForStreaming();
        if (schedule.empty())
            return false;
        timer_.setRangeTimestamps(schedule);
        int focus = focus_.load();
        if (focus < 0 || focus >= static_cast<int>(schedule.size()))
            focus = 0;
        focus_.store(focus);
        return timer_.start(focus);
    }
    // Not on the timer thread.
    void stopPlaybackTimer() { timer_.stop(); }
    bool pausePlaybackTimer() { return !timer_.isRunning() || timer_.isPaused() || timer_.pause(); }
    bool resumePlaybackTimer() { return !timer_.isRunning() || !timer_.isPaused() ? true : timer_.resume(); }
    bool isPlaybackTimerRunning() const { return timer_.isRunning(); }
    void setPlaybackFocus(int index) { focus_.store(index); }

    // Frame `index` is due. Timer thread.
    virtual void playbackFrameDue(int index) = 0;
    // The last frame was played and the timer does not loop. Timer thread; the timer is no longer
    // running.
    virtual void playbackFinished() = 0;

    T& self_;

private:
    void onTimerFrame(int index)
    {
        focus_.store(index);
        playbackFrameDue(index);
    }
    // Stop and start again so the new schedule applies. Not on the stream's own threads.
    void restartIfRunning()
    {
        if (self_.currentState() == Stream::State::Running) {
            self_.stop();
            self_.start();
        }
    }

    mutable std::mutex mutex_;
    // guarded by mutex_
    int count_ = 0;
    std::optional<std::vector<double>> timestamps_;
    TimestampsValidity validity_ = TimestampsValidity::None;
    std::optional<double> fps_;
    std::optional<double> speedFactor_;
    std::optional<double> derivedFps_;
    bool playByFps_ = true;

    std::atomic<int> focus_{0};
    Threading::PlaybackTimer timer_;
};

}  // namespace Corvexis
