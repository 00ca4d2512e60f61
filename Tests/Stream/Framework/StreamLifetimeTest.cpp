// Destruction, re-entrant requests and the first request's thread: the lifetime rules of Stream.
#include "Stream/Framework/Stream.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Host/Core/Log.h"
#include "Stream/Framework/TestStreams.h"
#include "Support/TestUtil.h"

using namespace Corvexis;
namespace T = Corvexis::Test;
using namespace std::chrono_literals;
using State = Stream::State;

namespace {

// A gate owned by the test, so that opening it touches nothing of a stream that may be gone.
class Gate
{
public:
    void close()
    {
        std::lock_guard lock(mutex_);
        open_ = false;
    }
    void open()
    {
        std::lock_guard lock(mutex_);
        open_ = true;
        cv_.notify_all();
    }
    void pass()
    {
        std::unique_lock lock(mutex_);
        waiting_ = true;
        cv_.wait(lock, [this] { return open_; });
        waiting_ = false;
    }
    bool someoneWaits() const
    {
        std::lock_guard lock(mutex_);
        return waiting_;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    bool open_ = true;
    bool waiting_ = false;
};

// Every hook passes the test's gate when its name is the gated one, then writes into the stream's own
// heap memory, which AddressSanitizer reports if the stream was freed meanwhile.
class GatedHookStream : public Stream
{
public:
    GatedHookStream(Gate& gate, std::atomic<bool>& destructorEntered, ThreadingMode mode)
        : Stream("gated hooks"), gate_(gate), destructorEntered_(destructorEntered), mode_(mode)
    {
    }
    ~GatedHookStream() override
    {
        destructorEntered_ = true;
        close();
    }

    Kind kind() const override { return Kind::ImageStream; }
    ThreadingMode threadingMode() const override { return mode_; }
    bool supportsPausing() const override { return true; }

    std::atomic<const char*> gatedHook{nullptr};

protected:
    bool openImpl() override { return hook("openImpl"); }
    bool startImpl() override { return hook("startImpl"); }
    bool pauseImpl() override { return hook("pauseImpl"); }
    bool resumeImpl() override { return hook("resumeImpl"); }
    bool stopImpl() override { return hook("stopImpl"); }
    bool closeImpl() override { return hook("closeImpl"); }
    std::optional<WorkContinuation> doWork() override
    {
        return WorkContinuation{std::chrono::time_point_cast<Ticks>(std::chrono::system_clock::now() + 5ms)};
    }

private:
    bool hook(const char* name)
    {
        const char* gated = gatedHook.load();
        if (gated && std::string(gated) == name)
            gate_.pass();
        history_->push_back(name);
        return true;
    }

    Gate& gate_;
    std::atomic<bool>& destructorEntered_;
    const ThreadingMode mode_;
    std::unique_ptr<std::vector<std::string>> history_ = std::make_unique<std::vector<std::string>>();
};

struct TransitionCase
{
    const char* name;
    State from;  // resting state to start in
    const char* hook;
    State during;  // the state while the gated hook runs
    std::function<std::shared_future<bool>(Stream&)> request;
};

std::vector<TransitionCase> transitionCases()
{
    return {
        {"open", State::Closed, "openImpl", State::Opening, [](Stream& s) { return s.openAsync(); }},
        {"startFromOpen", State::Open, "startImpl", State::Starting,
         [](Stream& s) { return s.startAsync(); }},
        {"startFromClosed", State::Closed, "openImpl", State::Opening,
         [](Stream& s) { return s.startAsync(); }},
        {"pause", State::Running, "pauseImpl", State::Pausing, [](Stream& s) { return s.pauseAsync(); }},
        {"resume", State::Paused, "resumeImpl", State::Resuming, [](Stream& s) { return s.resumeAsync(); }},
        {"stop", State::Running, "stopImpl", State::Stopping, [](Stream& s) { return s.stopAsync(); }},
        {"close", State::Running, "closeImpl", State::Closing, [](Stream& s) { return s.closeAsync(); }},
    };
}

void bringTo(Stream& s, State state)
{
    if (state == State::Open) {
        ASSERT_TRUE(s.open());
    }
    if (state == State::Running || state == State::Paused) {
        ASSERT_TRUE(s.start());
    }
    if (state == State::Paused) {
        ASSERT_TRUE(s.pause());
    }
    ASSERT_EQ(s.currentState(), state);
}

}  // namespace

// The subclass's destructor calls close() while a hook runs on the worker; the destructor must wait for
// the hook and then close, in every transitional state.
TEST(StreamLifetimeTest, DestructorWaitsForTheTransitionInProgressThenCloses)
{
    for (const TransitionCase& c : transitionCases()) {
        SCOPED_TRACE(c.name);
        Log::ScopedCapture capture;
        Gate gate;
        std::atomic<bool> destructorEntered{false};
        auto* s = new GatedHookStream(gate, destructorEntered, Stream::ThreadingMode::WorkerThread);
        std::vector<State> states;
        std::mutex statesMutex;
        // Tied to the stream's signal, which ends with it.
        s->signalStateChanged.connect([&](Stream::StateChange change) {
            std::lock_guard lock(statesMutex);
            states.push_back(change.newState);
        });
        bringTo(*s, c.from);
        gate.close();
        s->gatedHook = c.hook;
        std::shared_future<bool> result = c.request(*s);
        ASSERT_TRUE(T::waitUntil([&] { return gate.someoneWaits(); }));
        ASSERT_EQ(s->currentState(), c.during);

        std::atomic<bool> destroyed{false};
        std::thread destroyer([&] {
            delete s;
            destroyed = true;
        });
        ASSERT_TRUE(T::waitUntil([&] { return destructorEntered.load(); }));
        // Without the wait the destructor returns at once and frees the stream under the running hook.
        EXPECT_FALSE(T::waitUntil([&] { return destroyed.load(); }, 100ms))
            << "the destructor returned while " << c.hook << " was running";
        gate.open();
        destroyer.join();
        EXPECT_TRUE(result.get());
        {
            std::lock_guard lock(statesMutex);
            ASSERT_FALSE(states.empty());
            EXPECT_EQ(states.back(), State::Closed);
        }
        EXPECT_FALSE(capture->containsFragment(Log::Level::Error, "Stream", "destructed"));
        EXPECT_FALSE(capture->containsFragment(Log::Level::Error, "Stream", "not closed"));
    }
}

TEST(StreamLifetimeTest, DestructorWaitingLongForAHookNamesIt)
{
    Log::ScopedCapture capture;
    Gate gate;
    std::atomic<bool> destructorEntered{false};
    auto* s = new GatedHookStream(gate, destructorEntered, Stream::ThreadingMode::WorkerThread);
    gate.close();
    s->gatedHook = "openImpl";
    s->openAsync();
    ASSERT_TRUE(T::waitUntil([&] { return gate.someoneWaits(); }));
    std::thread destroyer([&] { delete s; });
    const std::string fragment = "waits for its transition in progress (Opening, hook openImpl)";
    const bool reported =
        T::waitUntil([&] { return capture->containsFragment(Log::Level::Warning, "Stream", fragment); },
                     Stream::kHangReportAfter * 5);
    gate.open();
    destroyer.join();
    EXPECT_TRUE(reported);
    EXPECT_FALSE(capture->containsFragment(Log::Level::Error, "Stream", "destructed"));
}

// A hook that threw leaves the stream in its transitional state for ever: close() must not wait for it.
TEST(StreamLifetimeTest, CloseGivesUpOnATransitionWhoseHookThrew)
{
    T::ScriptedStream s("thrower", Stream::ThreadingMode::WorkerThread);
    s.closeOnDestruction = false;
    s.throwInOpen = true;
    EXPECT_FALSE(s.open());
    auto closing = std::async(std::launch::async, [&] { return s.close(); });
    ASSERT_EQ(closing.wait_for(5s), std::future_status::ready);
    EXPECT_FALSE(closing.get());
    EXPECT_EQ(s.currentState(), State::Opening);
}

// The worker must be running before any step is decided: a second caller arriving while the first one
// waits for the worker to start may not run the hook itself.
TEST(StreamLifetimeTest, SimultaneousFirstRequestsRunTheHookOnTheWorker)
{
    // Widens the window between the worker's creation and the start of its loop.
    class SlowStartingWorker : public T::ScriptedStream
    {
    public:
        SlowStartingWorker() : ScriptedStream("slow worker", ThreadingMode::WorkerThread) {}
        bool workerThreadRequiresOpenGl() const override
        {
            std::this_thread::sleep_for(20ms);
            return false;
        }
    };
    for (int round = 0; round < 5; ++round) {
        SlowStartingWorker s;
        std::atomic<bool> go{false};
        std::thread::id callers[2];
        bool results[2] = {false, false};
        std::vector<std::thread> threads;
        for (int i = 0; i < 2; ++i) {
            threads.emplace_back([&, i] {
                callers[i] = std::this_thread::get_id();
                while (!go.load())
                    std::this_thread::yield();
                results[i] = (i == 0) ? s.open() : s.start();
            });
        }
        go = true;
        for (auto& th : threads)
            th.join();
        EXPECT_TRUE(results[0] || results[1]);
        EXPECT_EQ(s.openCalls(), 1);
        EXPECT_NE(s.lastHookThread(), callers[0]) << "round " << round;
        EXPECT_NE(s.lastHookThread(), callers[1]) << "round " << round;
        EXPECT_NE(s.lastHookThread(), std::this_thread::get_id());
    }
}

namespace {

// Runs `body` on its own thread; true when it finished before the deadline. On a miss the thread is left
// behind (it waits for ever) together with what it uses, so the test can fail instead of hanging.
bool finishesWithin(std::function<void()> body, std::chrono::milliseconds deadline)
{
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> finished = done->get_future();
    std::thread([body = std::move(body), done] {
        body();
        done->set_value();
    }).detach();
    return finished.wait_for(deadline) == std::future_status::ready;
}

}  // namespace

// close() from a receiver of the change to Closing, which is emitted on the requesting thread before the
// transition is queued: the receiver's close must not wait for a result its own thread has to produce.
TEST(StreamLifetimeTest, CloseFromAStateReceiverDoesNotDeadlock)
{
    for (auto mode : {Stream::ThreadingMode::WorkerThread, Stream::ThreadingMode::NoWorkerThread}) {
        Log::ScopedCapture capture;
        // Leaked on a deadlock, so that the stuck thread keeps valid memory.
        auto* s = new T::ScriptedStream("reentrant", mode);
        ASSERT_TRUE(s->start());
        std::atomic<int> nestedResults{-1};
        s->signalStateChanged.connect([s, &nestedResults](Stream::StateChange c) {
            if (c.newState == State::Closing && c.oldState == State::Running)
                nestedResults = s->close() ? 1 : 0;
        });
        std::atomic<bool> outer{false};
        ASSERT_TRUE(finishesWithin([&] { outer = s->close(); }, 5s)) << "deadlock, mode " << int(mode);
        EXPECT_TRUE(outer.load());
        EXPECT_EQ(nestedResults.load(), 0) << "the nested close cannot have a result yet";
        EXPECT_EQ(s->currentState(), State::Closed);
        EXPECT_TRUE(capture->containsFragment(Log::Level::Warning, "Stream", "not waiting"));
        delete s;
    }
}

// A receiver on the worker (the outcome Closing -> Closed) asking to open again: the open is queued for
// the worker, which is busy emitting; waiting for it would never end.
TEST(StreamLifetimeTest, SynchronousRequestFromAReceiverOnTheWorkerDoesNotDeadlock)
{
    Log::ScopedCapture capture;
    auto* s = new T::ScriptedStream("reopen", Stream::ThreadingMode::WorkerThread);
    ASSERT_TRUE(s->open());
    std::atomic<int> nested{-1};
    std::atomic<bool> once{false};
    s->signalStateChanged.connect([s, &nested, &once](Stream::StateChange c) {
        if (c.newState == State::Closed && !once.exchange(true))
            nested = s->open() ? 1 : 0;
    });
    ASSERT_TRUE(finishesWithin([&] { s->close(); }, 5s)) << "deadlock";
    EXPECT_EQ(nested.load(), 0);
    // The open it asked for still happens.
    EXPECT_TRUE(T::waitUntil([&] { return s->currentState() == State::Open; }));
    delete s;
}

// A subclass's own transition racing a public request between the check of the slot and the queuing:
// it must be refused, not overwrite the queued task (whose promise would then be broken).
TEST(StreamLifetimeTest, OwnTransitionCannotTakeTheSlotOfAQueuingRequest)
{
    T::ScriptedStream s("slot", Stream::ThreadingMode::WorkerThread);
    s.pauseResult = true;
    ASSERT_TRUE(s.start());
    Gate gate;
    gate.close();
    auto connection = s.signalStateChanged.connect([&](Stream::StateChange c) {
        if (c.newState == State::Pausing)
            gate.pass();  // holds the pause request between its check and its queuing
    });
    auto pausing = std::async(std::launch::async, [&] { return s.pauseAsync(); });
    ASSERT_TRUE(T::waitUntil([&] { return gate.someoneWaits(); }));
    std::shared_future<bool> own = s.attemptOwnTransition(State::Resuming, State::Running, State::Paused);
    ASSERT_EQ(own.wait_for(0s), std::future_status::ready) << "the slot is taken: refused at once";
    EXPECT_FALSE(own.get());
    gate.open();
    std::shared_future<bool> pause = pausing.get();
    ASSERT_EQ(pause.wait_for(5s), std::future_status::ready);
    EXPECT_NO_THROW(EXPECT_TRUE(pause.get()));
    EXPECT_EQ(s.currentState(), State::Paused);
    connection.disconnect();
}
