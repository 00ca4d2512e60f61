#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "Stream/Framework/Stream.h"
#include "Stream/Framework/StreamData.h"

namespace Corvexis::Test {

// A record with nothing but timestamps.
class PlainRecord : public StreamData
{
public:
    explicit PlainRecord(Stream* s) : StreamData(s) {}
    std::unique_ptr<StreamData> clone() const override { return std::make_unique<PlainRecord>(*this); }
};

// A stream whose hooks do what the test says: succeed or fail, block, throw, and count calls. Its data
// kind is an image stream's. Thread-safe: the flags are atomics, the counters are guarded by mutex_.
class ScriptedStream : public Stream
{
public:
    ScriptedStream(const std::string& name, ThreadingMode mode) : Stream(name), mode_(mode) {}
    ~ScriptedStream() override
    {
        releaseOpen();
        unblockWork();
        if (closeOnDestruction)
            close();
        // Stands for a subclass's own teardown after close(); the worker still polls meanwhile.
        if (teardownDelay.count() > 0)
            std::this_thread::sleep_for(teardownDelay);
    }

    Kind kind() const override { return Kind::ImageStream; }
    ThreadingMode threadingMode() const override { return mode_; }
    bool worksWhilePaused() const override { return workWhilePaused; }

    std::atomic<bool> openResult{true}, startResult{true}, pauseResult{false}, resumeResult{true},
        stopResult{true}, closeResult{true};
    std::chrono::milliseconds teardownDelay{0};
    std::atomic<bool> throwInOpen{false}, throwInWork{false}, blockOpen{false}, workWhilePaused{false},
        closeOnDestruction{true};
    // Answer of the i-th doWork call; by default "again in 5 ms".
    std::function<std::optional<WorkContinuation>(int)> continuation = [](int) {
        const auto next = std::chrono::time_point_cast<Ticks>(std::chrono::system_clock::now() +
                                                              std::chrono::milliseconds(5));
        return std::optional<WorkContinuation>{WorkContinuation{next}};
    };

    void releaseOpen()
    {
        std::lock_guard lock(mutex_);
        blockOpen = false;
        cv_.notify_all();
    }
    void blockWork()
    {
        std::lock_guard lock(mutex_);
        holdWork_ = true;
    }
    void unblockWork()
    {
        std::lock_guard lock(mutex_);
        holdWork_ = false;
        cv_.notify_all();
    }
    bool workBlocked() const
    {
        std::lock_guard lock(mutex_);
        return insideWork_;
    }
    int openCalls() const
    {
        std::lock_guard lock(mutex_);
        return openCalls_;
    }
    int calls() const
    {
        std::lock_guard lock(mutex_);
        return hookCalls_;
    }
    int workCalls() const
    {
        std::lock_guard lock(mutex_);
        return static_cast<int>(workTimes_.size());
    }
    std::vector<std::chrono::steady_clock::time_point> workTimes() const
    {
        std::lock_guard lock(mutex_);
        return workTimes_;
    }
    std::thread::id lastHookThread() const
    {
        std::lock_guard lock(mutex_);
        return lastHookThread_;
    }

    // A transition of the test's own, as a subclass may run.
    std::shared_future<bool> attemptOwnTransition(State transitional, State target, State fallback)
    {
        return attemptStateChange([] { return true; }, transitional, target, fallback);
    }
    void emitRecordAt(std::uint64_t arrivalMs)
    {
        auto record = std::make_shared<PlainRecord>(this);
        record->setTimestampArrival(arrivalMs);
        record->setTimestampDevice(arrivalMs);
        signalStreamData.emitSignal(record);
    }

protected:
    bool openImpl() override
    {
        std::unique_lock lock(mutex_);
        noteHook();
        ++openCalls_;
        cv_.wait(lock, [this] { return !blockOpen; });
        if (throwInOpen)
            throw std::runtime_error("open failed on purpose");
        return openResult;
    }
    bool closeImpl() override { return hook(closeResult); }
    bool startImpl() override { return hook(startResult); }
    bool stopImpl() override { return hook(stopResult); }
    bool pauseImpl() override { return hook(pauseResult); }
    bool resumeImpl() override { return hook(resumeResult); }
    std::optional<WorkContinuation> doWork() override
    {
        int index;
        {
            std::unique_lock lock(mutex_);
            index = static_cast<int>(workTimes_.size());
            workTimes_.push_back(std::chrono::steady_clock::now());
            insideWork_ = true;
            cv_.wait(lock, [this] { return !holdWork_; });
            insideWork_ = false;
        }
        if (throwInWork)
            throw std::runtime_error("doWork failed on purpose");
        return continuation(index);
    }

private:
    void noteHook()
    {
        ++hookCalls_;
        lastHookThread_ = std::this_thread::get_id();
    }
    bool hook(bool result)
    {
        std::lock_guard lock(mutex_);
        noteHook();
        return result;
    }

    const ThreadingMode mode_;
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    // guarded by mutex_
    int openCalls_ = 0;
    int hookCalls_ = 0;
    bool holdWork_ = false;
    bool insideWork_ = false;
    std::thread::id lastHookThread_;
    std::vector<std::chrono::steady_clock::time_point> workTimes_;
};

// Brings `s` into a resting state (Closed, Open, Running or Paused) through its own requests, from Closed.
inline void bringTo(ScriptedStream& s, Stream::State target)
{
    using State = Stream::State;
    switch (target) {
        case State::Closed:
            break;
        case State::Open:
            ASSERT_TRUE(s.open());
            break;
        case State::Running:
            ASSERT_TRUE(s.start());
            break;
        case State::Paused:
            s.pauseResult = true;
            ASSERT_TRUE(s.start());
            ASSERT_TRUE(s.pause());
            break;
        default:
            FAIL() << "not a resting state";
    }
    ASSERT_EQ(s.currentState(), target);
}

// Still overrides the deprecated operation.
class LegacyAsyncStream : public ScriptedStream
{
public:
    LegacyAsyncStream() : ScriptedStream("legacy", ThreadingMode::WorkerThread) {}
    bool supportsAsyncOperation() const override { return false; }
};

}  // namespace Corvexis::Test
