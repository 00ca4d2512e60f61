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
#include <thread>
#include <vector>

#include "Host/Core/AlignedBox.h"
#include "Host/Core/Configurable.h"
#include "Host/Core/Data.h"
#include "Host/Core/Signal.h"

namespace Corvexis {

class StreamData;
class StreamFps;
class StreamRateWatch;
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
// subclass's hooks and logs an error when the stream is not Closed. close() is safe there in every
// state: it first waits for a transition in progress (logging while a hook takes long, naming the hook),
// so no hook runs on a half-destroyed object. At the start of the base destructor,
// signalAboutToBeDestroyed tells borrowers that the stream's signals are about to go.
//
// Receivers of signalStateChanged run on the thread that makes the change: the requester (for the
// transitional state), the worker, or the requester of a stream without one. They may read the state,
// call describe() and issue the ...Async requests (which never wait). A synchronous request whose
// result depends on the transition that the receiver's thread is itself carrying out cannot wait for
// it: it logs a warning and returns false at once (the transition it asked for, if one was queued,
// still happens).
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

    // Synchronous requests: run the asynchronous twin and wait. Thread-safe. On the worker thread, or
    // from a receiver of signalStateChanged while its own thread carries out a transition of this stream,
    // a result that is not ready yet is not waited for: a warning is logged and the answer is false.
    //
    // close() differs from closeAsync() in one respect: when a transition is in progress (Opening,
    // Starting, Pausing, Resuming, Stopping) it waits for it and then closes, instead of being refused.
    // That is what makes close() in a subclass's destructor safe. A transition whose hook threw stays
    // in progress for ever; close() then gives up and returns false. While it waits longer than
    // kHangReportAfter it logs a warning naming the hook, repeated every kHangReportEvery.
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
    // True while the stream, Running, has delivered less than the rate its source was asked for
    // (setRequestedRate) by more than 10 % for more than 2 s; the first time in a run it logs one
    // warning. See StreamRateWatch. Thread-safe.
    bool fallingBehind() const;
    static std::string stateToString(State state);

    // Data slots.
    int matrixConvention() const override { return 1; }
    Geometry::AlignedBox bounds() const override { return {}; }

    // "<state> | <rate> Hz", followed by " | falling behind (asked <rate> Hz)" while fallingBehind().
    // Thread-safe.
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
    // Emitted once, first thing in the base destructor (after the subclass's destructor, so the stream is
    // Closed and its subclass part gone), on the destroying thread, while every signal still exists. A
    // borrower that connects to this stream from other threads clears its pointer here, under its own
    // lock, so that no connect can reach a destroyed signal.
    Signal<> signalAboutToBeDestroyed;

    // How long close() waits for a transition in progress before it reports a hanging hook, and how
    // often it repeats the report.
    static constexpr std::chrono::milliseconds kHangReportAfter{1000};
    static constexpr std::chrono::milliseconds kHangReportEvery{5000};

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

    // The rate the source was asked for, in records per second (0: none, nothing is judged); sources
    // with a rate setting call it whenever they read that setting, e.g. in every doWork. Thread-safe.
    void setRequestedRate(double recordsPerSecond);
    // The duration of one named step of a work cycle, so that a falling-behind warning can name what
    // takes the time (the worker notes "doWork" itself). Thread-safe.
    void noteWorkStep(const std::string& step, std::chrono::nanoseconds duration);

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
    // The synchronous requests' wait; `what` names the request in the log.
    bool waitForResult(const std::shared_future<bool>& result, const char* what);
    // Waits for `result`, logging while `state`'s hook takes long. False (after logging) when the calling
    // thread is the one that must complete it.
    bool waitReportingHangs(const std::shared_future<bool>& result, State state);
    // True on the worker thread and on a thread that is inside a transition of this stream (emitting its
    // transitional state before queuing it, or running its step without a worker).
    bool callerCarriesATransition() const;
    // Waits until a worker thread that was created has begun its loop (no-op without one).
    void waitForWorkerStart();
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
    // A transition has passed the one-at-a-time check and is about to be queued (or run without a
    // worker); the slot counts as taken until then.
    bool slotReserved_ = false;

    // Read and written by the worker thread and the start step only (never at the same time: the start
    // step runs on the worker once it exists).
    std::optional<WorkContinuation> workContinuation_;

    std::mutex threadMutex_;
    // guarded by threadMutex_
    std::unique_ptr<Threading::StoppableThread> workerThread_;
    // Ready once the worker runs its loop; every requester waits for it before deciding where a step
    // runs, so that no hook ever runs on a requester's thread while a worker exists.
    std::shared_future<void> workerStarted_;
    std::atomic<std::thread::id> workerThreadId_{};

    // True while the worker runs its loop: requests are then queued for it instead of run by the requester.
    std::atomic<bool> workerLoopRunning_{false};

    // Set by the base supportsAsyncOperation(); stays clear only when a subclass overrides it.
    mutable std::atomic<bool> baseSupportsAsyncCalled_{false};

    std::unique_ptr<StreamFps> rateMeter_;
    std::unique_ptr<StreamRateWatch> rateWatch_;
};

}  // namespace Corvexis
