#include "Stream/Framework/Stream.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "Host/Core/Log.h"
#include "Stream/Framework/TestStreams.h"
#include "Support/TestUtil.h"

using namespace Corvexis;
namespace T = Corvexis::Test;
using namespace std::chrono_literals;
using State = Stream::State;

namespace {

// Collects the states a stream emits, in order.
struct StateRecorder
{
    explicit StateRecorder(Stream& s)
    {
        connection = s.signalStateChanged.connect([this](Stream::StateChange c) {
            std::lock_guard lock(mutex);
            changes.push_back(c);
        });
    }
    ~StateRecorder() { connection.disconnect(); }
    std::vector<State> newStates() const
    {
        std::lock_guard lock(mutex);
        std::vector<State> states;
        for (const auto& c : changes)
            states.push_back(c.newState);
        return states;
    }
    // Every change continues where the previous one ended.
    bool chained(State initial) const
    {
        std::lock_guard lock(mutex);
        State current = initial;
        for (const auto& c : changes) {
            if (c.oldState != current)
                return false;
            current = c.newState;
        }
        return true;
    }
    void clear()
    {
        std::lock_guard lock(mutex);
        changes.clear();
    }
    mutable std::mutex mutex;
    std::vector<Stream::StateChange> changes;
    SignalConnection connection;
};

enum class Req
{
    Open,
    Start,
    Pause,
    Resume,
    Stop,
    Close
};

bool issue(Stream& s, Req r)
{
    switch (r) {
        case Req::Open:
            return s.open();
        case Req::Start:
            return s.start();
        case Req::Pause:
            return s.pause();
        case Req::Resume:
            return s.resume();
        case Req::Stop:
            return s.stop();
        case Req::Close:
            return s.close();
    }
    return false;
}

struct TableRow
{
    State from;
    Req request;
    // Which hook fails: "" none, else the hook's name.
    std::string failing;
    bool result;
    std::vector<State> emitted;
    State end;
};

const std::vector<TableRow>& table()
{
    using S = State;
    static const std::vector<TableRow> rows = {
        // From Closed.
        {S::Closed, Req::Open, "", true, {S::Opening, S::Open}, S::Open},
        {S::Closed, Req::Open, "open", false, {S::Opening, S::Closed}, S::Closed},
        {S::Closed, Req::Start, "", true, {S::Starting, S::Opening, S::Starting, S::Running}, S::Running},
        {S::Closed, Req::Start, "open", false, {S::Starting, S::Opening, S::Closed}, S::Closed},
        {S::Closed, Req::Start, "start", false, {S::Starting, S::Opening, S::Starting, S::Open}, S::Open},
        {S::Closed, Req::Pause, "", false, {}, S::Closed},
        {S::Closed, Req::Resume, "", false, {}, S::Closed},
        {S::Closed, Req::Stop, "", true, {}, S::Closed},
        {S::Closed, Req::Close, "", true, {}, S::Closed},
        // From Open.
        {S::Open, Req::Open, "", true, {}, S::Open},
        {S::Open, Req::Start, "", true, {S::Starting, S::Running}, S::Running},
        {S::Open, Req::Start, "start", false, {S::Starting, S::Open}, S::Open},
        {S::Open, Req::Pause, "", false, {}, S::Open},
        {S::Open, Req::Resume, "", false, {}, S::Open},
        {S::Open, Req::Stop, "", true, {}, S::Open},
        {S::Open, Req::Close, "", true, {S::Closing, S::Closed}, S::Closed},
        {S::Open, Req::Close, "close", false, {S::Closing, S::Open}, S::Open},
        // From Running.
        {S::Running, Req::Open, "", true, {}, S::Running},
        {S::Running, Req::Start, "", true, {}, S::Running},
        {S::Running, Req::Pause, "", true, {S::Pausing, S::Paused}, S::Paused},
        {S::Running, Req::Pause, "pause", false, {S::Pausing, S::Running}, S::Running},
        {S::Running, Req::Resume, "", true, {}, S::Running},
        {S::Running, Req::Stop, "", true, {S::Stopping, S::Open}, S::Open},
        {S::Running, Req::Stop, "stop", false, {S::Stopping, S::Running}, S::Running},
        {S::Running, Req::Close, "", true, {S::Closing, S::Stopping, S::Closing, S::Closed}, S::Closed},
        {S::Running, Req::Close, "stop", false, {S::Closing, S::Stopping, S::Running}, S::Running},
        {S::Running, Req::Close, "close", false, {S::Closing, S::Stopping, S::Closing, S::Open}, S::Open},
        // From Paused.
        {S::Paused, Req::Open, "", true, {}, S::Paused},
        {S::Paused, Req::Start, "", false, {}, S::Paused},
        {S::Paused, Req::Pause, "", true, {}, S::Paused},
        {S::Paused, Req::Resume, "", true, {S::Resuming, S::Running}, S::Running},
        {S::Paused, Req::Resume, "resume", false, {S::Resuming, S::Paused}, S::Paused},
        {S::Paused, Req::Stop, "", false, {}, S::Paused},
        {S::Paused, Req::Close, "", true, {S::Closing, S::Closed}, S::Closed},
    };
    return rows;
}

std::string rowName(const TableRow& row)
{
    static const char* kReq[] = {"open", "start", "pause", "resume", "stop", "close"};
    return Stream::stateToString(row.from) + "+" + kReq[static_cast<int>(row.request)] +
           (row.failing.empty() ? "" : " (" + row.failing + "Impl fails)");
}

}  // namespace

class StreamTableTest : public ::testing::TestWithParam<Stream::ThreadingMode>
{
};

TEST_P(StreamTableTest, EveryRequestFromEveryStableState)
{
    for (const TableRow& row : table()) {
        SCOPED_TRACE(rowName(row));
        T::ScriptedStream s("table", GetParam());
        bringTo(s, row.from);
        const auto callsBefore = s.calls();
        s.openResult = row.failing != "open";
        s.startResult = row.failing != "start";
        s.pauseResult = row.failing != "pause";
        s.resumeResult = row.failing != "resume";
        s.stopResult = row.failing != "stop";
        s.closeResult = row.failing != "close";

        StateRecorder recorder(s);
        EXPECT_EQ(issue(s, row.request), row.result);
        EXPECT_EQ(s.currentState(), row.end);
        EXPECT_EQ(recorder.newStates(), row.emitted);
        EXPECT_TRUE(recorder.chained(row.from));
        if (row.emitted.empty()) {
            EXPECT_EQ(s.calls(), callsBefore) << "a refused or done request must run no hook";
        }

        s.openResult = s.startResult = s.stopResult = s.closeResult = s.resumeResult = true;
        s.resume();
        EXPECT_TRUE(s.close());
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, StreamTableTest,
                         ::testing::Values(Stream::ThreadingMode::WorkerThread,
                                           Stream::ThreadingMode::NoWorkerThread),
                         [](const auto& paramInfo) {
                             return paramInfo.param == Stream::ThreadingMode::WorkerThread ? "WorkerThread"
                                                                                           : "NoWorkerThread";
                         });

TEST(StreamTest, HooksRunOnTheWorkerThreadOrOnTheRequester)
{
    T::ScriptedStream worker("worker", Stream::ThreadingMode::WorkerThread);
    ASSERT_TRUE(worker.start());
    EXPECT_NE(worker.lastHookThread(), std::this_thread::get_id());
    EXPECT_TRUE(worker.close());

    T::ScriptedStream inline_("inline", Stream::ThreadingMode::NoWorkerThread);
    auto future = inline_.openAsync();
    EXPECT_EQ(future.wait_for(0s), std::future_status::ready);
    EXPECT_TRUE(future.get());
    EXPECT_EQ(inline_.lastHookThread(), std::this_thread::get_id());
    EXPECT_TRUE(inline_.close());
}

TEST(StreamTest, RequestsDuringATransitionShareItsFuture)
{
    T::ScriptedStream s("shared", Stream::ThreadingMode::WorkerThread);
    s.blockOpen = true;
    auto first = s.openAsync();
    ASSERT_TRUE(T::waitUntil([&] { return s.openCalls() == 1; }));
    auto second = s.openAsync();
    auto viaStart = s.startAsync();  // Opening counts as neither done nor allowed for start
    EXPECT_EQ(first.wait_for(0s), std::future_status::timeout);
    EXPECT_EQ(second.wait_for(0s), std::future_status::timeout);
    EXPECT_FALSE(viaStart.get());
    s.releaseOpen();
    EXPECT_TRUE(first.get());
    EXPECT_TRUE(second.get());
    EXPECT_EQ(s.openCalls(), 1);
    EXPECT_TRUE(s.close());
}

TEST(StreamTest, TransitionQueuedBehindDoWorkRefusesAnotherAttempt)
{
    T::ScriptedStream s("queued", Stream::ThreadingMode::WorkerThread);
    s.pauseResult = true;
    ASSERT_TRUE(s.start());
    s.blockWork();
    ASSERT_TRUE(T::waitUntil([&] { return s.workBlocked(); }));
    auto pause = s.pauseAsync();  // queued: the worker is inside doWork
    EXPECT_EQ(s.currentState(), State::Pausing);
    auto other = s.attemptOwnTransition(State::Resuming, State::Running, State::Paused);
    ASSERT_EQ(other.wait_for(0s), std::future_status::ready);
    EXPECT_FALSE(other.get());
    EXPECT_EQ(pause.wait_for(50ms), std::future_status::timeout) << "must wait for doWork to return";
    s.unblockWork();
    EXPECT_TRUE(pause.get());
    EXPECT_EQ(s.currentState(), State::Paused);
    EXPECT_TRUE(s.close());
}

TEST(StreamTest, HookThrowingOnTheWorkerLeavesTheTransitionalState)
{
    Log::ScopedCapture capture;
    {
        T::ScriptedStream s("thrower", Stream::ThreadingMode::WorkerThread);
        s.throwInOpen = true;
        EXPECT_FALSE(s.open());
        EXPECT_EQ(s.currentState(), State::Opening);
        // Opening counts as in progress for open: the same (false) result comes back.
        EXPECT_FALSE(s.open());
        EXPECT_EQ(s.openCalls(), 1);
        EXPECT_TRUE(capture->containsFragment(Log::Level::Error, "Stream", "open failed on purpose"));
    }
    EXPECT_EQ(capture->count(Log::Level::Error, "Stream",
                             "Stream destructed while opening; it was probably hanging"),
              1u);
}

TEST(StreamTest, HookThrowingWithoutWorkerReachesTheRequester)
{
    Log::ScopedCapture capture;
    {
        T::ScriptedStream s("thrower", Stream::ThreadingMode::NoWorkerThread);
        s.throwInOpen = true;
        EXPECT_THROW(s.open(), std::runtime_error);
        EXPECT_EQ(s.currentState(), State::Opening);
    }
    EXPECT_EQ(capture->count(Log::Level::Error, "Stream",
                             "Stream destructed while opening; it was probably hanging"),
              1u);
}

TEST(StreamTest, DoWorkThrowingLeavesTheWorkerAbleToStopAndClose)
{
    Log::ScopedCapture capture;
    T::ScriptedStream s("throwing work", Stream::ThreadingMode::WorkerThread);
    s.throwInWork = true;
    ASSERT_TRUE(s.start());
    ASSERT_TRUE(T::waitUntil([&] { return s.workCalls() == 1; }));
    EXPECT_TRUE(T::waitUntil([&] {
        return capture->contains(Log::Level::Error, "Stream",
                                 "Exception in doWork of stream 'throwing work': doWork failed on purpose");
    }));
    EXPECT_EQ(s.currentState(), State::Running);
    // The worker still takes transitions: a hang here would fail the test by its time-out.
    EXPECT_TRUE(s.stop());
    s.throwInWork = false;
    ASSERT_TRUE(s.start());
    EXPECT_TRUE(T::waitUntil([&] { return s.workCalls() >= 2; })) << "a new start calls doWork again";
    EXPECT_TRUE(s.close());
}

TEST(StreamTest, DestroyingAnUnclosedStreamLogsOnce)
{
    Log::ScopedCapture capture;
    {
        T::ScriptedStream s("forgotten", Stream::ThreadingMode::WorkerThread);
        s.closeOnDestruction = false;
        ASSERT_TRUE(s.start());
    }
    EXPECT_EQ(
        capture->count(Log::Level::Error, "Stream",
                       "Stream not closed while destructing; did you forget to call YOURSTREAM::close() in "
                       "the destructor?"),
        1u);
    EXPECT_TRUE(capture->contains(Log::Level::Debug, "Stream", "Stopping stream worker thread"));
}

TEST(StreamTest, DeprecatedAsyncOverrideIsReported)
{
    Log::ScopedCapture capture;
    T::LegacyAsyncStream s;
    EXPECT_EQ(s.Stream::threadingMode(), Stream::ThreadingMode::WorkerThread);
    EXPECT_TRUE(
        capture->contains(Log::Level::Warning, "Stream",
                          "Stream uses deprecated method 'supportsAsyncOperation' (false) that does not "
                          "have any effect. The ThreadingMode should be used instead to explicitly specify "
                          "if the stream runs a worker thread."));
    T::ScriptedStream plain("plain", Stream::ThreadingMode::WorkerThread);
    capture.sink().clear();
    plain.Stream::threadingMode();
    EXPECT_TRUE(capture->records().empty());
}

TEST(StreamTest, DoWorkWithoutValueIsNotCalledAgainUntilRestarted)
{
    T::ScriptedStream s("once", Stream::ThreadingMode::WorkerThread);
    s.continuation = [](int) { return std::optional<Stream::WorkContinuation>{}; };
    ASSERT_TRUE(s.start());
    ASSERT_TRUE(T::waitUntil([&] { return s.workCalls() == 1; }));
    // A pause/resume cycle does not reset the continuation; only start does.
    std::this_thread::sleep_for(30ms);  // give a wrong implementation the chance to call again
    EXPECT_EQ(s.workCalls(), 1);
    EXPECT_EQ(s.currentState(), State::Running);
    ASSERT_TRUE(s.stop());
    ASSERT_TRUE(s.start());
    ASSERT_TRUE(T::waitUntil([&] { return s.workCalls() == 2; }));
    EXPECT_TRUE(s.close());
}

TEST(StreamTest, DoWorkPacing)
{
    // No nextCall: called again at once, many times.
    {
        T::ScriptedStream s("busy", Stream::ThreadingMode::WorkerThread);
        s.continuation = [](int) {
            return std::optional<Stream::WorkContinuation>{Stream::WorkContinuation{}};
        };
        ASSERT_TRUE(s.start());
        EXPECT_TRUE(T::waitUntil([&] { return s.workCalls() >= 100; }));
        EXPECT_TRUE(s.close());
    }
    // A nextCall in the past: called again without delay.
    {
        T::ScriptedStream s("late", Stream::ThreadingMode::WorkerThread);
        s.continuation = [](int) {
            return std::optional<Stream::WorkContinuation>{Stream::WorkContinuation{Stream::TimePoint{}}};
        };
        ASSERT_TRUE(s.start());
        EXPECT_TRUE(T::waitUntil([&] { return s.workCalls() >= 100; }));
        EXPECT_TRUE(s.close());
    }
    // A nextCall in the future: never called before it.
    {
        T::ScriptedStream s("paced", Stream::ThreadingMode::WorkerThread);
        s.continuation = [](int) {
            const auto next =
                std::chrono::time_point_cast<Stream::Ticks>(std::chrono::system_clock::now() + 20ms);
            return std::optional<Stream::WorkContinuation>{Stream::WorkContinuation{next}};
        };
        ASSERT_TRUE(s.start());
        ASSERT_TRUE(T::waitUntil([&] { return s.workCalls() >= 4; }));
        ASSERT_TRUE(s.stop());
        const auto times = s.workTimes();
        for (size_t i = 1; i < times.size(); ++i)
            EXPECT_GE(times[i] - times[i - 1], 20ms);
        EXPECT_TRUE(s.close());
    }
}

TEST(StreamTest, PausedStreamsWorkOnlyWhenTheyAskTo)
{
    T::ScriptedStream s("paused", Stream::ThreadingMode::WorkerThread);
    s.pauseResult = true;
    s.continuation = [](int) {
        const auto next = std::chrono::time_point_cast<Stream::Ticks>(std::chrono::system_clock::now() + 1ms);
        return std::optional<Stream::WorkContinuation>{Stream::WorkContinuation{next}};
    };
    ASSERT_TRUE(s.start());
    ASSERT_TRUE(s.pause());
    const int calls = s.workCalls();
    std::this_thread::sleep_for(30ms);  // a wrong implementation would call doWork about 30 times here
    EXPECT_EQ(s.workCalls(), calls);
    s.workWhilePaused = true;
    EXPECT_TRUE(T::waitUntil([&] { return s.workCalls() > calls + 3; }));
    EXPECT_TRUE(s.close());
}

TEST(StreamTest, DescribeAndRate)
{
    T::ScriptedStream s("describe", Stream::ThreadingMode::NoWorkerThread);
    EXPECT_EQ(s.describe(), "Closed | 0.0 Hz");
    ASSERT_TRUE(s.start());
    // Records 100 ms apart by their own timestamps: ten intervals give 10 Hz.
    for (int i = 0; i <= 10; ++i)
        s.emitRecordAt(1000 + 100 * static_cast<std::uint64_t>(i));
    EXPECT_DOUBLE_EQ(s.updateRate(), 10.0);
    EXPECT_EQ(s.describe(), "Running | 10.0 Hz");
    ASSERT_TRUE(s.stop());
    EXPECT_DOUBLE_EQ(s.updateRate(), 0.0) << "state changes clear the meter";
    EXPECT_TRUE(s.close());
}

TEST(StreamTest, RestartRunsTheFourRequests)
{
    T::ScriptedStream s("restart", Stream::ThreadingMode::WorkerThread);
    ASSERT_TRUE(s.start());
    StateRecorder recorder(s);
    EXPECT_TRUE(s.restart());
    EXPECT_EQ(recorder.newStates(),
              (std::vector<State>{State::Stopping, State::Open, State::Closing, State::Closed, State::Opening,
                                  State::Open, State::Starting, State::Running}));
    s.pauseResult = true;
    ASSERT_TRUE(s.pause());
    EXPECT_FALSE(s.restart()) << "a paused stream cannot be stopped";
    EXPECT_TRUE(s.close());
}

TEST(StreamTest, StateNamesAndHelpers)
{
    const char* names[] = {"Closed",  "Opening", "Open",     "Starting", "Running",
                           "Pausing", "Paused",  "Resuming", "Stopping", "Closing"};
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(Stream::stateToString(static_cast<State>(i)), names[i]);
    T::ScriptedStream s("helpers", Stream::ThreadingMode::NoWorkerThread);
    EXPECT_FALSE(s.isStateOneOf({}));
    EXPECT_TRUE(s.isStateOneOf({State::Open, State::Closed}));
    EXPECT_FALSE(s.isRunning());
    ASSERT_TRUE(s.start());
    EXPECT_TRUE(s.isRunning());
    EXPECT_TRUE(s.close());
}
