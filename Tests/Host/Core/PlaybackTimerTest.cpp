#include "Host/Core/PlaybackTimer.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

using namespace Corvexis;
using namespace std::chrono_literals;
using Threading::PlaybackTimer;

namespace {

using Clock = std::chrono::steady_clock;

// Collects what the timer calls back, with the time of each call.
class Collector
{
public:
    void frame(int index)
    {
        const auto now = Clock::now();
        std::function<void(int)> hook;
        {
            std::lock_guard lock(mutex_);
            frames_.emplace_back(index, now);
            hook = hook_;
        }
        if (hook)
            hook(index);
        {
            std::lock_guard lock(mutex_);
            ++completed_;
        }
        changed_.notify_all();
    }
    void finished()
    {
        {
            std::lock_guard lock(mutex_);
            ++finishedCount_;
        }
        changed_.notify_all();
    }
    // Runs inside the frame callback, after the frame was recorded; waitForFrames counts a frame once
    // its hook has returned.
    void setHook(std::function<void(int)> hook)
    {
        std::lock_guard lock(mutex_);
        hook_ = std::move(hook);
    }
    bool waitForFrames(size_t count, std::chrono::seconds timeout = 10s)
    {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return completed_ >= count; });
    }
    bool waitForFinished(std::chrono::seconds timeout = 10s)
    {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return finishedCount_ > 0; });
    }
    std::vector<std::pair<int, Clock::time_point>> frames() const
    {
        std::lock_guard lock(mutex_);
        return frames_;
    }
    std::vector<int> indices() const
    {
        std::vector<int> result;
        for (const auto& f : frames())
            result.push_back(f.first);
        return result;
    }
    int finishedCount() const
    {
        std::lock_guard lock(mutex_);
        return finishedCount_;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::pair<int, Clock::time_point>> frames_;
    std::function<void(int)> hook_;
    size_t completed_ = 0;  // frames whose hook has returned
    int finishedCount_ = 0;
};

std::vector<double> equidistant(int count, double intervalSec, double firstSec = 0.0)
{
    std::vector<double> times;
    for (int i = 0; i < count; ++i)
        times.push_back(firstSec + i * intervalSec);
    return times;
}

struct TimerFixture : ::testing::Test
{
    Collector collector;
    PlaybackTimer timer{[this](int i) { collector.frame(i); }, [this] { collector.finished(); }};
};

}  // namespace

TEST_F(TimerFixture, PlaysFromTheStartIndexToTheEndAtOrAfterEachDueTimeThenFinishesOnce)
{
    // Non-equidistant times with an offset first time: only differences count.
    timer.setRangeTimestamps({100.0, 100.004, 100.010, 100.011, 100.030});
    timer.setLoop(false);
    ASSERT_TRUE(timer.start(1));
    EXPECT_TRUE(timer.isRunning());
    ASSERT_TRUE(collector.waitForFinished());

    EXPECT_EQ(collector.indices(), (std::vector<int>{1, 2, 3, 4}));
    EXPECT_FALSE(timer.isRunning());
    EXPECT_EQ(collector.finishedCount(), 1);
    const auto frames = collector.frames();
    for (const auto& [index, at] : frames)
        EXPECT_GE(at, timer.dueTime(0, index)) << "frame " << index << " came early";
    // Due times keep the recorded differences.
    EXPECT_EQ(timer.dueTime(0, 4) - timer.dueTime(0, 1), 26ms);
}

TEST_F(TimerFixture, LoopingEmitsEveryFrameOfEveryRoundOnceAndKeepsTheGapAtTheLoopPoint)
{
    constexpr int kFrames = 7;
    timer.setRangeTimestamps(equidistant(kFrames, 0.002));
    EXPECT_EQ(timer.loopGap(), 2ms);
    ASSERT_TRUE(timer.start(0));
    ASSERT_TRUE(collector.waitForFrames(4 * kFrames + 3));
    timer.stop();
    EXPECT_FALSE(timer.isRunning());

    const auto frames = collector.frames();
    for (size_t k = 0; k < frames.size(); ++k) {
        ASSERT_EQ(frames[k].first, static_cast<int>(k % kFrames)) << "at emission " << k;
        const auto round = static_cast<int64_t>(k / kFrames);
        EXPECT_GE(frames[k].second, timer.dueTime(round, frames[k].first)) << "at emission " << k;
    }
    // Round r + 1 starts one gap after the last frame of round r.
    EXPECT_EQ(timer.dueTime(1, 0) - timer.dueTime(0, kFrames - 1), 2ms);
    EXPECT_EQ(collector.finishedCount(), 0);
}

TEST_F(TimerFixture, StopEndsPlayOutAndNothingIsCalledAfterIt)
{
    timer.setRangeTimestamps(equidistant(3, 0.001));
    ASSERT_TRUE(timer.start());
    ASSERT_TRUE(collector.waitForFrames(5));
    timer.stop();
    const size_t count = collector.frames().size();
    // The timer's thread was joined by stop(): nothing can come later.
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(collector.frames().size(), count);
}

TEST_F(TimerFixture, LateFramesAreSkippedOnlyWhenAsked)
{
    // Frame 0 takes 30 ms; frames 1 to 5 are due within that time.
    collector.setHook([](int index) {
        if (index == 0)
            std::this_thread::sleep_for(30ms);
    });
    timer.setRangeTimestamps(equidistant(10, 0.005));
    timer.setLoop(false);
    timer.setSkipDelayedFrames(true);
    ASSERT_TRUE(timer.start());
    ASSERT_TRUE(collector.waitForFinished());
    const auto skipped = collector.indices();
    ASSERT_GE(skipped.size(), 2u);
    EXPECT_EQ(skipped.front(), 0);
    EXPECT_GE(skipped[1], 6) << "frames due during the slow frame must be skipped";
    EXPECT_EQ(skipped.back(), 9) << "the last frame is always played";
    for (size_t k = 1; k < skipped.size(); ++k)
        EXPECT_GT(skipped[k], skipped[k - 1]);

    Collector all;
    all.setHook([](int index) {
        if (index == 0)
            std::this_thread::sleep_for(30ms);
    });
    PlaybackTimer plain([&all](int i) { all.frame(i); }, [&all] { all.finished(); });
    plain.setRangeTimestamps(equidistant(10, 0.005));
    plain.setLoop(false);
    ASSERT_TRUE(plain.start());
    ASSERT_TRUE(all.waitForFinished());
    EXPECT_EQ(all.indices(), (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
}

TEST_F(TimerFixture, SkippingAcrossTheLoopPointNeverRepeatsAFrameOutOfOrder)
{
    collector.setHook([](int index) {
        if (index == 2)
            std::this_thread::sleep_for(25ms);  // beyond the end of the round
    });
    timer.setRangeTimestamps(equidistant(4, 0.004));
    timer.setSkipDelayedFrames(true);
    ASSERT_TRUE(timer.start());
    ASSERT_TRUE(collector.waitForFrames(8));
    timer.stop();
    const auto frames = collector.frames();
    // The position (round * 4 + index) only moves forward, and it moved past the loop point.
    int64_t previous = -1;
    int64_t round = 0;
    for (size_t k = 0; k < frames.size(); ++k) {
        if (k > 0 && frames[k].first <= frames[k - 1].first)
            ++round;
        const int64_t position = round * 4 + frames[k].first;
        EXPECT_GT(position, previous);
        previous = position;
    }
    EXPECT_GE(round, 1);
}

TEST_F(TimerFixture, RelativeTimeStepsKeepEveryIntervalAfterALateFrame)
{
    collector.setHook([](int index) {
        if (index == 1)
            std::this_thread::sleep_for(20ms);
    });
    timer.setRangeTimestamps(equidistant(6, 0.004));
    timer.setLoop(false);
    timer.setUseAbsoluteTimesteps(false);
    EXPECT_FALSE(timer.useAbsoluteTimesteps());
    ASSERT_TRUE(timer.start());
    ASSERT_TRUE(collector.waitForFinished());
    const auto frames = collector.frames();
    ASSERT_EQ(frames.size(), 6u);
    // The collector stamps a frame a little after the timer emitted it, so one stamp taken late can make
    // the next interval look shorter by that delay; allow half a millisecond of it.
    for (size_t k = 1; k < frames.size(); ++k)
        EXPECT_GE(frames[k].second - frames[k - 1].second, 3500us) << "interval before frame " << k;
    // The stall moved everything after it: frame 2 came at least 20 ms after frame 1.
    EXPECT_GE(frames[2].second - frames[1].second, 20ms);
}

TEST_F(TimerFixture, PauseHoldsThePositionAndResumeContinuesWithTheNextFrame)
{
    collector.setHook([this](int index) {
        if (index == 2)
            timer.pause();  // from the timer's own thread
    });
    timer.setRangeTimestamps(equidistant(6, 0.002));
    timer.setLoop(false);
    ASSERT_TRUE(timer.start());
    ASSERT_TRUE(collector.waitForFrames(3));
    EXPECT_TRUE(timer.isPaused());
    EXPECT_FALSE(timer.pause());
    const auto dueWhilePaused = timer.dueTime(0, 3);
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(collector.frames().size(), 3u) << "nothing plays while paused";
    const auto resumedAt = Clock::now();
    ASSERT_TRUE(timer.resume());
    EXPECT_FALSE(timer.resume());
    ASSERT_TRUE(collector.waitForFinished());
    EXPECT_EQ(collector.indices(), (std::vector<int>{0, 1, 2, 3, 4, 5}));
    const auto frames = collector.frames();
    EXPECT_GE(frames[3].second, resumedAt);
    // The schedule moved by the pause (which lasted at least the 30 ms slept).
    EXPECT_GE(timer.dueTime(0, 3) - dueWhilePaused, 30ms);
}

TEST_F(TimerFixture, StartIsRefusedWithoutScheduleOutsideItAndWhileRunning)
{
    EXPECT_FALSE(timer.start());
    timer.setRangeTimestamps(equidistant(3, 0.05));
    EXPECT_EQ(timer.size(), 3);
    EXPECT_FALSE(timer.start(3));
    EXPECT_FALSE(timer.start(-1));
    ASSERT_TRUE(timer.start(2));
    EXPECT_FALSE(timer.start(0));
    ASSERT_TRUE(collector.waitForFrames(1));
    timer.stop();
    EXPECT_FALSE(timer.pause());
    EXPECT_TRUE(timer.start(0));
    ASSERT_TRUE(collector.waitForFrames(2));
    timer.stop();
    EXPECT_EQ(collector.indices().at(0), 2);
    EXPECT_EQ(collector.indices().at(1), 0);
}

TEST_F(TimerFixture, StopFromTheCallbackEndsThePlayOutAndTheTimerCanStartAgain)
{
    collector.setHook([this](int index) {
        if (index == 1)
            timer.stop();
    });
    timer.setRangeTimestamps(equidistant(5, 0.001));
    ASSERT_TRUE(timer.start());
    ASSERT_TRUE(collector.waitForFrames(2));
    EXPECT_FALSE(timer.isRunning());
    collector.setHook({});
    timer.setLoop(false);
    ASSERT_TRUE(timer.start(3));
    ASSERT_TRUE(collector.waitForFinished());
    EXPECT_EQ(collector.indices(), (std::vector<int>{0, 1, 3, 4}));
}

TEST_F(TimerFixture, ASingleFrameLoopsAtThirtyHertz)
{
    timer.setRangeTimestamps({5.0});
    EXPECT_EQ(timer.loopGap(), std::chrono::nanoseconds(1'000'000'000 / 30));
    ASSERT_TRUE(timer.start());
    ASSERT_TRUE(collector.waitForFrames(3));
    timer.stop();
    const auto frames = collector.frames();
    for (size_t k = 0; k < frames.size(); ++k) {
        EXPECT_EQ(frames[k].first, 0);
        EXPECT_GE(frames[k].second, timer.dueTime(static_cast<int64_t>(k), 0));
    }
}
