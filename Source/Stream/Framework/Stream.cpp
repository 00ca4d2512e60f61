#include "Stream/Framework/Stream.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <condition_variable>
#include <initializer_list>
#include <iterator>
#include <system_error>

#include "Host/Core/Log.h"
#include "Host/Core/StoppableThread.h"
#include "Host/Core/StringUtils.h"
#include "Host/GL/ContextManager.h"
#include "Host/GL/Flush.h"
#include "Stream/Framework/StreamData.h"
#include "Stream/Framework/StreamFps.h"
#include "Stream/Framework/StreamRateWatch.h"
#include "Stream/Framework/StreamUtils.h"

namespace Corvexis {

namespace {

constexpr std::string_view kCategory = "Stream";

using State = Stream::State;

// One row of the request table. The lists are tested in this order under the state lock:
//  done        -> true at once, nothing else happens;
//  inProgress  -> the future of the transition already under way;
//  allowedFrom -> when not empty and the state is not in it: false at once;
//  refusedIn   -> false at once (empty for every request);
//  otherwise the transition runs: state := transitional, the step runs (on the worker when there is
//  one), then state := target on success or fallback on failure.
struct RequestRule
{
    std::vector<State> done;
    std::vector<State> inProgress;
    std::vector<State> allowedFrom;
    std::vector<State> refusedIn;
    State transitional;
    State target;
    State fallback;
};

// Step duties per request:
//  open   openImpl()
//  start  from Closed: Opening, openImpl() (failure: Closed, stays Closed), Starting; then the work
//         continuation is reset so doWork runs at once, then startImpl()
//  pause  pauseImpl()         resume  resumeImpl()         stop  stopImpl()
//  close  from Running: Stopping, stopImpl() (failure: Running, stays Running), Closing; then closeImpl()
const std::array<RequestRule, 6>& requestRules()
{
    static const std::array<RequestRule, 6> rules{{
        // open
        {{State::Paused, State::Running, State::Open},
         {State::Resuming, State::Starting, State::Opening},
         {State::Closed},
         {},
         State::Opening,
         State::Open,
         State::Closed},
        // start
        {{State::Running},
         {State::Starting},
         {State::Open, State::Closed},
         {},
         State::Starting,
         State::Running,
         State::Open},
        // pause
        {{State::Paused},
         {State::Pausing},
         {State::Running},
         {},
         State::Pausing,
         State::Paused,
         State::Running},
        // resume
        {{State::Running},
         {State::Resuming},
         {State::Paused},
         {},
         State::Resuming,
         State::Running,
         State::Paused},
        // stop
        {{State::Open, State::Closed},
         {State::Stopping},
         {State::Running},
         {},
         State::Stopping,
         State::Open,
         State::Running},
        // close
        {{State::Closed},
         {State::Closing},
         {State::Paused, State::Running, State::Open},
         {},
         State::Closing,
         State::Closed,
         State::Open},
    }};
    return rules;
}

bool contains(const std::vector<State>& states, State state)
{
    return std::find(states.begin(), states.end(), state) != states.end();
}

std::shared_future<bool> readyFuture(bool value)
{
    std::promise<bool> promise;
    promise.set_value(value);
    return promise.get_future().share();
}

bool isReady(const std::shared_future<bool>& future)
{
    return future.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

// Streams whose transition the current thread is carrying out without the worker: emitting the
// transitional state before the task is queued, or running the step itself. A synchronous request of
// one of them on this thread must not wait for a result only this thread can produce.
thread_local std::vector<const Stream*> tlsTransitionsInProgress;

class TransitionMark
{
public:
    explicit TransitionMark(const Stream* stream) : stream_(stream)
    {
        tlsTransitionsInProgress.push_back(stream);
    }
    ~TransitionMark() { release(); }
    TransitionMark(const TransitionMark&) = delete;
    TransitionMark& operator=(const TransitionMark&) = delete;
    void release()
    {
        if (!stream_)
            return;
        auto it = std::find(tlsTransitionsInProgress.rbegin(), tlsTransitionsInProgress.rend(), stream_);
        if (it != tlsTransitionsInProgress.rend())
            tlsTransitionsInProgress.erase(std::next(it).base());
        stream_ = nullptr;
    }

private:
    const Stream* stream_;
};

// The hook that runs while a stream is in a transitional state.
const char* hookOf(State state)
{
    switch (state) {
        case State::Opening:
            return "openImpl";
        case State::Starting:
            return "startImpl";
        case State::Pausing:
            return "pauseImpl";
        case State::Resuming:
            return "resumeImpl";
        case State::Stopping:
            return "stopImpl";
        case State::Closing:
            return "closeImpl";
        default:
            return nullptr;
    }
}

}  // namespace

// ---------------------------------------------------------------------------------------------------------
// StreamDataRefSignal

SignalConnection StreamDataRefSignal::connect(std::function<void(const StreamData&)> f)
{
    return target_.connect([f = std::move(f)](std::shared_ptr<const StreamData> data) {
        if (data)
            f(*data);
    });
}

SignalConnection StreamDataRefSignal::connect(SignalReceiver* receiver,
                                              std::function<void(const StreamData&)> f)
{
    return target_.connect(receiver, [f = std::move(f)](std::shared_ptr<const StreamData> data) {
        if (data)
            f(*data);
    });
}

void StreamDataRefSignal::emitSignal(const StreamData& data)
{
    std::shared_ptr<const StreamData> copy = data.clone();
    target_.emitSignal(std::move(copy));
}

// ---------------------------------------------------------------------------------------------------------
// Stream

Stream::Stream(const std::string& name)
    : rateMeter_(std::make_unique<StreamFps>()), rateWatch_(std::make_unique<StreamRateWatch>())
{
    setName(name);
    rateMeter_->setRounding(1);
    rateMeter_->connect(this);
    rateWatch_->connect(this);
}

Stream::~Stream()
{
    signalAboutToBeDestroyed.emitSignal();
    {
        std::lock_guard lock(stateMutex_);
        switch (state_) {
            case State::Closed:
                break;
            case State::Starting:
                Log::log(Log::Level::Error, kCategory,
                         "Stream destructed while starting; it was probably hanging");
                break;
            case State::Opening:
                Log::log(Log::Level::Error, kCategory,
                         "Stream destructed while opening; it was probably hanging");
                break;
            default:
                Log::log(Log::Level::Error, kCategory,
                         "Stream not closed while destructing; did you forget to call YOURSTREAM::close() in "
                         "the destructor?");
                break;
        }
    }
    // Order matters: the meter first (it waits for a running emission to end), then the worker, which may
    // still be inside a queued transition, then what the worker used.
    rateMeter_.reset();
    std::unique_ptr<Threading::StoppableThread> worker;
    {
        std::lock_guard lock(threadMutex_);
        worker = std::move(workerThread_);
    }
    worker.reset();
    // After the worker, which notes steps and evaluates.
    rateWatch_.reset();
    std::lock_guard lock(stateMutex_);
    pendingResult_ = {};
    pendingTransition_ = nullptr;
}

bool Stream::open()
{
    return waitForResult(openAsync(), "open");
}
bool Stream::start()
{
    return waitForResult(startAsync(), "start");
}
bool Stream::pause()
{
    return waitForResult(pauseAsync(), "pause");
}
bool Stream::resume()
{
    return waitForResult(resumeAsync(), "resume");
}
bool Stream::stop()
{
    return waitForResult(stopAsync(), "stop");
}

bool Stream::close()
{
    // Close is refused from the transitional states other than Closing; waiting for the transition
    // first is what a destructor needs, since returning would free the object under a running hook.
    for (;;) {
        State state;
        std::shared_future<bool> inProgress;
        {
            std::lock_guard lock(stateMutex_);
            state = state_;
            if (state != State::Closing && hookOf(state) && pendingResult_.valid())
                inProgress = pendingResult_;
        }
        if (!inProgress.valid())
            break;
        if (isReady(inProgress)) {
            // Finished but still in the same transitional state: its hook threw, and the stream stays
            // there for ever. Let the request table refuse the close.
            if (currentState() == state)
                break;
            continue;
        }
        if (!waitReportingHangs(inProgress, state))
            return false;
    }
    std::shared_future<bool> result = closeAsync();
    if (isReady(result))
        return result.get();
    if (!waitReportingHangs(result, State::Closing))
        return false;
    return result.get();
}

bool Stream::callerCarriesATransition() const
{
    if (workerThreadId_.load() == std::this_thread::get_id())
        return true;
    return std::find(tlsTransitionsInProgress.begin(), tlsTransitionsInProgress.end(), this) !=
           tlsTransitionsInProgress.end();
}

bool Stream::waitForResult(const std::shared_future<bool>& result, const char* what)
{
    if (isReady(result) || !callerCarriesATransition())
        return result.get();
    Log::log(Log::Level::Warning, kCategory,
             std::string("Synchronous ") + what + " of stream '" + name() +
                 "' requested on the thread that carries out its transition (a state-change receiver or a "
                 "hook); not waiting for the result, which would never come. Use the asynchronous request.");
    return false;
}

bool Stream::waitReportingHangs(const std::shared_future<bool>& result, State state)
{
    if (isReady(result))
        return true;
    if (callerCarriesATransition()) {
        Log::log(Log::Level::Warning, kCategory,
                 "close of stream '" + name() +
                     "' requested on the thread that carries out its transition; not waiting for it.");
        return false;
    }
    const auto begin = std::chrono::steady_clock::now();
    auto nextReport = begin + kHangReportAfter;
    while (result.wait_until(nextReport) != std::future_status::ready) {
        const auto waited =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - begin);
        const char* hook = hookOf(state);
        Log::log(Log::Level::Warning, kCategory,
                 "Closing stream '" + name() + "' waits for its transition in progress (" +
                     stateToString(state) + ", hook " + (hook ? hook : "?") + ") since " +
                     String::fromDouble(waited.count() / 1000.0) +
                     " s; a hook that never returns is a fault of the device or its driver");
        nextReport += kHangReportEvery;
    }
    return true;
}

void Stream::waitForWorkerStart()
{
    std::shared_future<void> started;
    {
        std::lock_guard lock(threadMutex_);
        started = workerStarted_;
    }
    if (started.valid() && workerThreadId_.load() != std::this_thread::get_id())
        started.wait();
}

std::shared_future<bool> Stream::openAsync()
{
    startThreadIfNeeded();
    return request(Request::Open);
}

std::shared_future<bool> Stream::startAsync()
{
    startThreadIfNeeded();
    return request(Request::Start);
}

std::shared_future<bool> Stream::pauseAsync()
{
    return request(Request::Pause);
}

std::shared_future<bool> Stream::resumeAsync()
{
    return request(Request::Resume);
}

std::shared_future<bool> Stream::stopAsync()
{
    return request(Request::Stop);
}

std::shared_future<bool> Stream::closeAsync()
{
    return request(Request::Close);
}

bool Stream::restart()
{
    return stop() && close() && open() && start();
}

std::shared_future<bool> Stream::request(Request req)
{
    const RequestRule& rule = requestRules()[static_cast<size_t>(req)];
    std::unique_lock lock(stateMutex_);
    const State before = state_;
    if (contains(rule.done, before))
        return readyFuture(true);
    if (contains(rule.inProgress, before))
        return pendingResult_.valid() ? pendingResult_ : readyFuture(false);
    if (!rule.allowedFrom.empty() && !contains(rule.allowedFrom, before))
        return readyFuture(false);
    if (contains(rule.refusedIn, before))
        return readyFuture(false);

    // The table check and the start of the transition happen under one hold of the state lock, so two
    // racing requests can never both pass the check and run the same hook twice.
    auto keepState = std::make_shared<bool>(false);
    std::function<bool()> step;
    switch (req) {
        case Request::Open:
            step = [this] { return openImpl(); };
            break;
        case Request::Start:
            step = [this, before, keepState] { return startStep(before, keepState); };
            break;
        case Request::Pause:
            step = [this] { return pauseImpl(); };
            break;
        case Request::Resume:
            step = [this] { return resumeImpl(); };
            break;
        case Request::Stop:
            step = [this] { return stopImpl(); };
            break;
        case Request::Close:
            step = [this, before, keepState] { return closeStep(before, keepState); };
            break;
    }
    return beginTransition(lock, std::move(step), rule.transitional, rule.target, rule.fallback,
                           std::move(keepState));
}

bool Stream::startStep(State stateBefore, const std::shared_ptr<bool>& keepState)
{
    if (stateBefore == State::Closed) {
        changeState(State::Opening);
        if (!openImpl()) {
            changeState(State::Closed);
            *keepState = true;
            return false;
        }
        changeState(State::Starting);
    }
    workContinuation_ = WorkContinuation{};
    return startImpl();
}

bool Stream::closeStep(State stateBefore, const std::shared_ptr<bool>& keepState)
{
    if (stateBefore == State::Running) {
        changeState(State::Stopping);
        if (!stopImpl()) {
            changeState(State::Running);
            *keepState = true;
            return false;
        }
        changeState(State::Closing);
    }
    return closeImpl();
}

std::shared_future<bool> Stream::attemptStateChange(std::function<bool()> step, State transitional,
                                                    State target, State fallback)
{
    std::unique_lock lock(stateMutex_);
    return beginTransition(lock, std::move(step), transitional, target, fallback, nullptr);
}

std::shared_future<bool> Stream::beginTransition(std::unique_lock<std::mutex>& lock,
                                                 std::function<bool()> step, State transitional, State target,
                                                 State fallback, std::shared_ptr<bool> stepKeepsState)
{
    auto promise = std::make_shared<std::promise<bool>>();
    std::shared_future<bool> future = promise->get_future().share();
    if (state_ == target) {
        promise->set_value(true);
        return future;
    }
    if (pendingTransition_ || slotReserved_) {
        // One queued transition at a time. The slot is reserved here, under the same hold of the lock as
        // the check, so a transition racing this one between the unlock below and the queuing cannot
        // pass the check too and overwrite it.
        promise->set_value(false);
        return future;
    }
    const State old = state_;
    state_ = transitional;
    pendingResult_ = future;
    slotReserved_ = true;
    lock.unlock();

    // Until the task is queued (or, without a worker, until the step has run) this thread carries the
    // transition: a receiver's synchronous request on it must not wait for the result.
    TransitionMark mark(this);
    try {
        if (old != transitional)
            signalStateChanged.emitSignal(StateChange{old, transitional});
    } catch (...) {
        std::lock_guard stateLock(stateMutex_);
        slotReserved_ = false;
        throw;
    }
    waitForWorkerStart();

    auto run = [this, step = std::move(step), target, fallback, keepState = std::move(stepKeepsState)] {
        return executeProtectedStateChange(step, target, fallback, keepState.get());
    };
    if (workerLoopRunning_.load()) {
        auto task = [this, promise, run = std::move(run)] {
            bool result = false;
            try {
                result = run();
            } catch (const std::exception& e) {
                // The state stays transitional with the pending result set, so later requests that count
                // it as in progress receive this same false.
                Log::log(Log::Level::Error, kCategory,
                         "Exception in state transition of stream '" + name() + "': " + e.what());
            } catch (...) {
                Log::log(Log::Level::Error, kCategory,
                         "Unknown exception in state transition of stream '" + name() + "'");
            }
            promise->set_value(result);
        };
        std::lock_guard stateLock(stateMutex_);
        pendingTransition_ = std::move(task);
        slotReserved_ = false;
        return future;
    }
    {
        std::lock_guard stateLock(stateMutex_);
        slotReserved_ = false;
    }
    // No worker: the step runs here, and an exception passes to the requester (and to whoever shares the
    // future).
    try {
        promise->set_value(run());
    } catch (...) {
        promise->set_exception(std::current_exception());
        throw;
    }
    return future;
}

bool Stream::executeProtectedStateChange(const std::function<bool()>& step, State target, State fallback,
                                         const bool* stepKeepsState)
{
    const bool result = step();
    State before;
    State after;
    {
        std::lock_guard lock(stateMutex_);
        before = state_;
        if (!(stepKeepsState && *stepKeepsState))
            state_ = result ? target : fallback;
        after = state_;
        pendingResult_ = {};
    }
    if (before != after)
        signalStateChanged.emitSignal(StateChange{before, after});
    return result;
}

void Stream::changeState(State newState)
{
    State old;
    {
        std::lock_guard lock(stateMutex_);
        old = state_;
        state_ = newState;
    }
    signalStateChanged.emitSignal(StateChange{old, newState});
}

Stream::State Stream::currentState() const
{
    std::lock_guard lock(stateMutex_);
    return state_;
}

bool Stream::isStateOneOf(const std::vector<State>& states) const
{
    std::lock_guard lock(stateMutex_);
    return contains(states, state_);
}

bool Stream::isRunning() const
{
    return isStateOneOf({State::Starting, State::Running});
}

double Stream::updateRate() const
{
    return rateMeter_ ? rateMeter_->fps() : 0.0;
}

bool Stream::fallingBehind() const
{
    return rateWatch_ && rateWatch_->fallingBehind();
}

void Stream::setRequestedRate(double recordsPerSecond)
{
    if (rateWatch_)
        rateWatch_->setRequestedRate(recordsPerSecond);
}

void Stream::noteWorkStep(const std::string& step, std::chrono::nanoseconds duration)
{
    if (rateWatch_)
        rateWatch_->noteStep(step, duration);
}

std::string Stream::stateToString(State state)
{
    static constexpr std::array<const char*, 10> kNames = {"Closed",   "Opening", "Open",   "Starting",
                                                           "Running",  "Pausing", "Paused", "Resuming",
                                                           "Stopping", "Closing"};
    const auto index = static_cast<size_t>(state);
    return index < kNames.size() ? kNames[index] : "Unknown";
}

std::string Stream::describe() const
{
    std::string rate = String::fromDouble(updateRate());
    // At least one digit after the decimal point.
    if (rate.find('.') == std::string::npos)
        rate += ".0";
    else if (rate.back() == '.')
        rate += '0';
    std::string text = stateToString(currentState()) + " | " + rate + " Hz";
    if (fallingBehind()) {
        std::string asked = String::fromDouble(std::round(rateWatch_->requestedRate() * 10.0) / 10.0);
        if (asked.find('.') == std::string::npos)
            asked += ".0";
        text += " | falling behind (asked " + asked + " Hz)";
    }
    return text;
}

bool Stream::supportsAsyncOperation() const
{
    baseSupportsAsyncCalled_ = true;
    return true;
}

Stream::ThreadingMode Stream::threadingMode() const
{
    baseSupportsAsyncCalled_ = false;
    const bool answer = supportsAsyncOperation();
    if (!baseSupportsAsyncCalled_) {
        Log::log(
            Log::Level::Warning, kCategory,
            std::string("Stream uses deprecated method 'supportsAsyncOperation' (") +
                (answer ? "true" : "false") +
                ") that does not have any effect. The ThreadingMode should be used instead to explicitly "
                "specify if the stream runs a worker thread.");
    }
    return ThreadingMode::WorkerThread;
}

void Stream::startThreadIfNeeded()
{
    std::unique_lock lock(threadMutex_);
    if (workerThread_ || threadingMode() != ThreadingMode::WorkerThread) {
        lock.unlock();
        // A second first request must wait just as the one that created the worker does.
        waitForWorkerStart();
        return;
    }

    // The requester waits until the worker runs its loop, so every hook runs on the worker (with its
    // graphics context) from the first request on.
    auto started = std::make_shared<std::promise<void>>();
    std::shared_future<void> startedFuture = started->get_future().share();
    workerStarted_ = startedFuture;
    workerThread_ = std::make_unique<Threading::StoppableThread>(
        name(), [this, started](Threading::StoppableThread& thread) {
            std::unique_ptr<GL::Context> context;
            try {
                if (workerThreadRequiresOpenGl())
                    context = GL::ContextManager::get().createContext();
            } catch (const std::exception& e) {
                // The requester waits for the start below, so nothing may escape before it.
                Log::log(Log::Level::Error, kCategory,
                         "Could not create the graphics context of stream '" + name() + "': " + e.what());
            }
            workerThreadId_ = std::this_thread::get_id();
            workerLoopRunning_ = true;
            started->set_value();
            workLoop(thread);
            workerLoopRunning_ = false;
        });
    lock.unlock();
    startedFuture.wait();
}

void Stream::workLoop(Threading::StoppableThread& thread)
{
    const auto idleSleep = [] { std::this_thread::sleep_for(kIdleInterval); };
    while (!thread.isStopRequested()) {
        const TimePoint now = std::chrono::time_point_cast<Ticks>(std::chrono::system_clock::now());

        std::function<void()> transition;
        {
            std::lock_guard lock(stateMutex_);
            transition = std::move(pendingTransition_);
            pendingTransition_ = nullptr;
        }
        if (transition) {
            transition();
            idleSleep();
            continue;
        }

        // The state first: worksWhilePaused() is virtual, and once the stream is closed its subclass may be
        // in destruction, so it is asked only while Paused (never Paused during destruction: close()
        // runs first).
        const State state = currentState();
        const bool active = state == State::Running || (state == State::Paused && worksWhilePaused());
        if (!active || !workContinuation_) {
            idleSleep();
            continue;
        }
        if (workContinuation_->nextCall && *workContinuation_->nextCall > now) {
            idleSleep();
            continue;
        }
        const auto workBegin = std::chrono::steady_clock::now();
        try {
            workContinuation_ = doWork();
        } catch (const std::exception& e) {
            // The worker must survive: it still has to run the transitions that stop and close the stream.
            // The stream stays Running but idle, as if doWork had returned no value.
            Log::log(Log::Level::Error, kCategory,
                     "Exception in doWork of stream '" + name() + "': " + e.what());
            workContinuation_.reset();
        }
        if (GL::ContextManager::hasCurrent())
            GL::flush();
        const auto workEnd = std::chrono::steady_clock::now();
        rateWatch_->noteStep("doWork", workEnd - workBegin);
        rateWatch_->evaluate(workEnd);
        if (workContinuation_ && workContinuation_->nextCall) {
            const auto remaining = *workContinuation_->nextCall - std::chrono::system_clock::now();
            if (remaining > std::chrono::nanoseconds::zero())
                StreamUtils::preciseSleep(std::chrono::duration_cast<std::chrono::nanoseconds>(remaining));
        }
    }
    Log::log(Log::Level::Debug, kCategory, "Stopping stream worker thread");
}

}  // namespace Corvexis
