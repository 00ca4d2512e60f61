#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "Host/Core/AlignedBox.h"
#include "Host/Core/Configurable.h"
#include "Host/Core/Data.h"
#include "Host/Core/Signal.h"

namespace Corvexis {

class StreamData;
class StreamFps;
namespace Threading {
class StoppableThread;
}

// Signal adapter for receivers that still take records by constant reference. It holds no connections
// of its own: connect() wraps the callable into a receiver of signalStreamData, and emitSignal() clones
// the record into a shared pointer and emits that on signalStreamData. Thread-safe.
class StreamDataRefSignal
{
public:
    explicit StreamDataRefSignal(Signal<std::shared_ptr<const StreamData>>& target) : target_(target) {}

    SignalConnection connect(std::function<void(const StreamData&)> f);
    SignalConnection connect(SignalReceiver* receiver, std::function<void(const StreamData&)> f);
    void emitSignal(const StreamData& data);

private:
    Signal<std::shared_ptr<const StreamData>>& target_;
};

// Abstract base of every live source and sink.
//
// Lifecycle: ten states and six requests (open, start, pause, resume, stop, close), each available
// synchronously and asynchronously from any thread. The request table and the transition duties are in
// Stream.cpp next to `kRequestRules`. With a worker thread (the default), every hook (openImpl to
// resumeImpl, doWork) runs on the worker, one at a time, so subclasses need no lock between hooks.
//
// Locks: stateMutex_ guards state_, pendingTransition_ and pendingResult_; threadMutex_ guards
// workerThread_. They are never held together, and no signal is emitted while either is held.
// Threads: requests and readers are thread-safe; hooks run on the worker thread once it exists.
//
// Destruction: a subclass's destructor must call close() itself; the base destructor cannot reach the
// subclass's hooks and logs an error when the stream is not Closed.
class Stream : public Data, public Configurable
{
public:
    enum class State : std::int32_t
    {
        Closed = 0,
        Opening = 1,
        Open = 2,
        Starting = 3,
        Running = 4,
        Pausing = 5,
        Paused = 6,
        Resuming = 7,
        Stopping = 8,
        Closing = 9,
    };

    struct StateChange
    {
        State oldState;
        State newState;
    };

    enum class ThreadingMode : int
    {
        WorkerThread = 0,
        NoWorkerThread = 1,
    };

    // 100-ns ticks on the system clock, the unit of due times.
    using Ticks = std::chrono::duration<std::int64_t, std::ratio<1, 10'000'000>>;
    using TimePoint = std::chrono::time_point<std::chrono::system_clock, Ticks>;

    // The answer of doWork: no nextCall means "call again at once"; a nextCall means "call again then".
    struct WorkContinuation
    {
        std::optional<TimePoint> nextCall;
    };

    explicit Stream(const std::string& name);
    ~Stream() override;
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;

    // Synchronous requests: run the asynchronous twin and wait. Thread-safe (not from the worker thread,
    // which would wait on itself).
    bool open();
    bool start();
    bool pause();
    bool resume();
    bool stop();
    bool close();

    // Asynchronous requests: the future yields true once the stream reached (or already was in) the
    // target state, false when the request was refused or its hook failed. Thread-safe.
    std::shared_future<bool> openAsync();
    std::shared_future<bool> startAsync();
    std::shared_future<bool> pauseAsync();
    std::shared_future<bool> resumeAsync();
    std::shared_future<bool> stopAsync();
    std::shared_future<bool> closeAsync();

    // stop() && close() && open() && start(), stopping at the first false. Thread-safe.
    bool restart();

    State currentState() const;                                 // thread-safe
    bool isStateOneOf(const std::vector<State>& states) const;  // thread-safe; false for an empty list
    double updateRate() const;                                  // records per second; thread-safe
    static std::string stateToString(State state);

    // Data slots.
    int matrixConvention() const override { return 1; }
    Geometry::AlignedBox bounds() const override { return {}; }

    // "<state> | <rate> Hz". Thread-safe.
    virtual std::string describe() const;
    // WorkerThread unless a subclass says otherwise; warns about the deprecated override (see .cpp).
    virtual ThreadingMode threadingMode() const;
    // Deprecated: has no effect. Subclasses override threadingMode() instead.
    virtual bool supportsAsyncOperation() const;
    virtual bool supportsPausing() const { return false; }
    virtual bool reset() { return false; }
    virtual bool isRunning() const;  // Starting or Running; thread-safe
    virtual std::string uuid() const { return {}; }
    virtual bool createDefaultStreamController() const { return true; }

    // Emitted on the requesting thread for the transitional state, then on the thread that ran the step
    // for each further change.
    Signal<StateChange> signalStateChanged;
    // Emitted by subclasses when their source has ended, on the thread that noticed it.
    Signal<> signalStreamEnded;
    // Every record the stream produces, emitted by subclasses (usually on the worker thread).
    Signal<std::shared_ptr<const StreamData>> signalStreamData;
    // Deprecated by-reference companion of signalStreamData.
    StreamDataRefSignal signalStreamDataRef{signalStreamData};

protected:
    // Hooks, run on the worker thread (or the requesting thread for NoWorkerThread streams). True: success.
    virtual bool openImpl() = 0;
    virtual bool closeImpl() = 0;
    virtual bool startImpl() = 0;
    virtual bool stopImpl() = 0;
    virtual bool pauseImpl() { return false; }
    virtual bool resumeImpl() { return false; }
    virtual bool workerThreadRequiresOpenGl() const { return false; }
    // Produces data while Running. Worker thread. An exception is logged and counts as no value: the
    // stream stays Running but idle until it is started again.
    virtual std::optional<WorkContinuation> doWork() = 0;
    virtual bool worksWhilePaused() const { return false; }

    // Sets the state and emits the change, on the calling thread. Thread-safe.
    void changeState(State newState);

    // The engine behind the six requests. Thread-safe.
    std::shared_future<bool> attemptStateChange(std::function<bool()> step, State transitional, State target,
                                                State fallback);

private:
    enum class Request : int
    {
        Open,
        Start,
        Pause,
        Resume,
        Stop,
        Close,
    };
    struct PendingStep;

    std::shared_future<bool> request(Request request);
    std::shared_future<bool> beginTransition(std::unique_lock<std::mutex>& lock, std::function<bool()> step,
                                             State transitional, State target, State fallback,
                                             std::shared_ptr<bool> stepKeepsState);
    bool executeProtectedStateChange(const std::function<bool()>& step, State target, State fallback,
                                     const bool* stepKeepsState);
    bool startStep(State stateBefore, const std::shared_ptr<bool>& keepState);
    bool closeStep(State stateBefore, const std::shared_ptr<bool>& keepState);
    void startThreadIfNeeded();
    void workLoop(Threading::StoppableThread& thread);

    // Worker's polling sleep when it has nothing to do: 100 000 ticks of 100 ns.
    static constexpr Ticks kIdleInterval{100'000};

    mutable std::mutex stateMutex_;
    // guarded by stateMutex_
    State state_ = State::Closed;
    std::function<void()> pendingTransition_;
    std::shared_future<bool> pendingResult_;

    // Read and written by the worker thread and the start step only (never at the same time: the start
    // step runs on the worker once it exists).
    std::optional<WorkContinuation> workContinuation_;

    std::mutex threadMutex_;
    // guarded by threadMutex_
    std::unique_ptr<Threading::StoppableThread> workerThread_;

    // True while the worker runs its loop: requests are then queued for it instead of run by the requester.
    std::atomic<bool> workerLoopRunning_{false};

    // Set by the base supportsAsyncOperation(); stays clear only when a subclass overrides it.
    mutable std::atomic<bool> baseSupportsAsyncCalled_{false};

    std::unique_ptr<StreamFps> rateMeter_;
};

}  // namespace Corvexis
