#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace Corvexis::Threading {

class StoppableThread;

// Plays a schedule of frames: on a thread of its own it calls back with the index of each frame when
// that frame is due. The schedule is a list of play-out times in seconds, one per frame (only the
// differences matter); a start makes the chosen frame due at once and the others follow at their
// offsets from it. Waiting is done on a condition variable until shortly before a frame is due and
// with preciseSleep for the rest, so a frame is never emitted before its time and usually a few
// microseconds after it.
//
// Looping: after the last frame the first one follows one loop gap later (the mean frame interval of
// the schedule; 1/30 s for a single frame), so a looped round lasts (last - first) + gap and round r
// repeats round 0 shifted by r round lengths. No frame is lost or doubled at the loop point.
//
// Absolute time steps (the default): every due time is computed from the start, so lateness of one
// frame never shifts the next and the schedule does not drift. Relative time steps: each frame is due
// its interval after the actual emission of the one before, so lateness accumulates (consumers that
// must never see an interval shorter than recorded use it).
//
// Skipping delayed frames (off by default): when a frame is emitted so late that later frames are
// already due, only the last of those is emitted; without skipping every frame is emitted, one after
// the other, until the schedule is caught up.
//
// Pausing keeps the position: after resume the frame that was waiting is due after the time it still
// had to wait when paused, and the schedule moves by the pause.
//
// Threading: every public operation is thread-safe. The callbacks run on the timer thread, never
// while the timer holds its lock, so they may call any operation of the timer; stop() from a callback
// does not wait for the thread (it ends when the callback returns). The owner keeps the callbacks'
// targets alive until stop() or the destructor has returned.
class PlaybackTimer
{
public:
    using FrameCallback = std::function<void(int index)>;
    using FinishedCallback = std::function<void()>;

    // `onFrame` gets each due frame index; `onFinished` (may be empty) is called once after the last
    // frame when not looping, after which the timer is no longer running. The thread is named
    // `threadName`. Created looped, with absolute time steps and without skipping.
    explicit PlaybackTimer(FrameCallback onFrame, FinishedCallback onFinished = {},
                           std::string threadName = "PlaybackTimer");
    // Stops and joins. Caller synchronises (not from a callback).
    ~PlaybackTimer();
    PlaybackTimer(const PlaybackTimer&) = delete;
    PlaybackTimer& operator=(const PlaybackTimer&) = delete;

    // The schedule in seconds, one time per frame; a time earlier than its predecessor counts as equal
    // to it. Takes effect at the next start. Thread-safe.
    void setRangeTimestamps(std::vector<double> timesSec);
    int size() const;  // thread-safe

    void setLoop(bool loop);  // thread-safe; a running timer follows it at its next last frame
    bool loop() const;        // thread-safe
    // Thread-safe; a running timer follows it from the next frame on.
    void setSkipDelayedFrames(bool skip);
    bool skipDelayedFrames() const;  // thread-safe
    // Takes effect at the next start. Thread-safe.
    void setUseAbsoluteTimesteps(bool absolute);
    bool useAbsoluteTimesteps() const;  // thread-safe

    // Starts the thread with frame `index` due now. False when running, the schedule is empty or
    // `index` is outside it. A timer that finished or was stopped from its own callback is joined
    // first. Thread-safe.
    bool start(int index = 0);
    // Ends the play-out; waits for the thread unless called on it. Thread-safe.
    void stop();
    // False when not running or already paused (resume: not paused). Thread-safe.
    bool pause();
    bool resume();
    // From start until stop or the end of a play-out without looping. Thread-safe.
    bool isRunning() const;
    bool isPaused() const;  // thread-safe

    // When frame `index` of round `round` (0: the round started by start()) is due, with pauses taken
    // into account. Only meaningful with absolute time steps. Thread-safe.
    std::chrono::steady_clock::time_point dueTime(int64_t round, int index) const;
    // The gap between the last frame and the first of the next round. Thread-safe.
    std::chrono::nanoseconds loopGap() const;

private:
    // The timer thread's body.
    void run();
    // Due time (steady ns) of frame `index` in round `round`. Caller holds mutex_.
    int64_t dueNsLocked(int64_t round, int index) const;
    // Joins a thread that ended by itself. Caller holds startMutex_, not mutex_.
    void reapThread();

    const FrameCallback onFrame_;
    const FinishedCallback onFinished_;
    const std::string threadName_;

    // Serialises start and stop (both create or join the thread). Lock order: startMutex_, then mutex_.
    std::mutex startMutex_;
    std::unique_ptr<StoppableThread> thread_;  // guarded by startMutex_

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    // guarded by mutex_
    std::vector<int64_t> pendingOffsetsNs_;  // from setRangeTimestamps, used at the next start
    std::vector<int64_t> offsetsNs_;         // of the running play-out, relative to the first frame
    int64_t gapNs_ = 0;                      // loop gap of the running play-out
    int64_t roundNs_ = 0;                    // offsetsNs_.back() + gapNs_
    int64_t anchorNs_ = 0;                   // steady ns at which the schedule position anchorPosNs_ was due
    int64_t anchorPosNs_ = 0;                // round * roundNs_ + offset of the anchoring frame
    int64_t pausedAtNs_ = 0;
    int startIndex_ = 0;
    bool loop_ = true;
    bool skip_ = false;
    bool absolute_ = true;
    bool running_ = false;
    bool paused_ = false;
    bool stopRequested_ = false;
    std::thread::id timerThreadId_;  // of the thread that runs (or last ran) the play-out
};

}  // namespace Corvexis::Threading
