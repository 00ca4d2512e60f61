#include "Stream/Framework/Stream.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <random>
#include <set>
#include <thread>
#include <utility>

#include "Stream/Framework/TestStreams.h"

using namespace Corvexis;
namespace T = Corvexis::Test;
using namespace std::chrono_literals;
using State = Stream::State;

namespace {

// Every transition a stream may make: request -> transitional, transitional -> target or fallback, and
// the intermediate steps of start (from Closed) and close (from Running).
const std::set<std::pair<State, State>>& legalTransitions()
{
    using S = State;
    static const std::set<std::pair<S, S>> legal = {
        {S::Closed, S::Opening},   {S::Opening, S::Open},     {S::Opening, S::Closed},
        {S::Open, S::Starting},    {S::Closed, S::Starting},  {S::Starting, S::Running},
        {S::Starting, S::Open},    {S::Running, S::Pausing},  {S::Pausing, S::Paused},
        {S::Pausing, S::Running},  {S::Paused, S::Resuming},  {S::Resuming, S::Running},
        {S::Resuming, S::Paused},  {S::Running, S::Stopping}, {S::Stopping, S::Open},
        {S::Stopping, S::Running}, {S::Paused, S::Closing},   {S::Running, S::Closing},
        {S::Open, S::Closing},     {S::Closing, S::Closed},   {S::Closing, S::Open},
        {S::Starting, S::Opening}, {S::Opening, S::Starting}, {S::Closing, S::Stopping},
        {S::Stopping, S::Closing},
    };
    return legal;
}

}  // namespace

TEST(StreamConcurrencyTest, RandomRequestsFromManyThreadsKeepTheStateMachineLegal)
{
    constexpr int kStreams = 6;
    constexpr int kThreads = 4;
    constexpr auto kDuration = 1500ms;
    constexpr int kMaxRequestsPerThread = 4000;

    std::vector<std::unique_ptr<T::ScriptedStream>> streams;
    std::vector<SignalConnection> connections;
    std::mutex illegalMutex;
    std::vector<std::string> illegal;
    std::atomic<int> changes{0};
    for (int i = 0; i < kStreams; ++i) {
        auto mode = i % 3 == 2 ? Stream::ThreadingMode::NoWorkerThread : Stream::ThreadingMode::WorkerThread;
        auto s = std::make_unique<T::ScriptedStream>("stress" + std::to_string(i), mode);
        s->pauseResult = true;
        // Hooks fail now and then, so the fallback paths are exercised too.
        connections.push_back(s->signalStateChanged.connect([&](Stream::StateChange c) {
            ++changes;
            if (!legalTransitions().count({c.oldState, c.newState})) {
                std::lock_guard lock(illegalMutex);
                illegal.push_back(Stream::stateToString(c.oldState) + "->" +
                                  Stream::stateToString(c.newState));
            }
        }));
        streams.push_back(std::move(s));
    }

    std::atomic<int> unresolved{0};
    std::atomic<int> requests{0};
    std::vector<std::thread> threads;
    const auto end = std::chrono::steady_clock::now() + kDuration;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            std::mt19937 rng(1234 + t);
            std::vector<std::shared_future<bool>> futures;
            for (int n = 0; n < kMaxRequestsPerThread && std::chrono::steady_clock::now() < end; ++n) {
                auto& s = *streams[rng() % kStreams];
                const bool fail = rng() % 10 == 0;
                s.startResult = !fail;
                s.stopResult = !(fail && rng() % 2);
                switch (rng() % 7) {
                    case 0:
                        futures.push_back(s.openAsync());
                        break;
                    case 1:
                        futures.push_back(s.startAsync());
                        break;
                    case 2:
                        futures.push_back(s.pauseAsync());
                        break;
                    case 3:
                        futures.push_back(s.resumeAsync());
                        break;
                    case 4:
                        futures.push_back(s.stopAsync());
                        break;
                    case 5:
                        futures.push_back(s.closeAsync());
                        break;
                    case 6:
                        s.describe();
                        break;
                }
                ++requests;
                if (futures.size() > 16) {
                    for (auto& f : futures)
                        if (f.wait_for(5s) != std::future_status::ready)
                            ++unresolved;
                    futures.clear();
                }
            }
            for (auto& f : futures)
                if (f.wait_for(5s) != std::future_status::ready)
                    ++unresolved;
        });
    }
    for (auto& th : threads)
        th.join();

    EXPECT_EQ(unresolved.load(), 0) << "every future must resolve";
    {
        std::lock_guard lock(illegalMutex);
        EXPECT_TRUE(illegal.empty()) << "illegal transition, first: " << illegal.front();
    }
    EXPECT_GT(changes.load(), 0);
    EXPECT_GT(requests.load(), 0);
    for (auto& s : streams) {
        s->stopResult = true;
        s->resume();
        EXPECT_TRUE(s->close()) << s->name() << " in state " << Stream::stateToString(s->currentState());
    }
    for (auto& c : connections)
        c.disconnect();
    // Destroying the streams joins every worker thread; a hang here fails the test by its time-out.
    streams.clear();
}

// Normal destruction while the worker polls: the worker may ask the virtual worksWhilePaused() only while
// the stream is Paused, never while the destructor chain rewrites the object (ThreadSanitizer reports
// that race on the vtable pointer). The most derived class goes first, so during the base's teardown
// (held open for a few polls) the object's dynamic type has already changed.
TEST(StreamConcurrencyTest, DestroyingAClosedStreamDoesNotRaceTheWorkersPolling)
{
    class Derived : public T::ScriptedStream
    {
    public:
        Derived() : ScriptedStream("polled", ThreadingMode::WorkerThread) {}
    };
    for (int round = 0; round < 4; ++round) {
        auto s = std::make_unique<Derived>();
        s->pauseResult = true;
        s->workWhilePaused = round % 2 == 0;
        s->teardownDelay = 25ms;
        ASSERT_TRUE(s->start());
        if (round % 2 == 0) {
            ASSERT_TRUE(s->pause());
        }
        s.reset();  // closes in the destructor, then the base stops the worker
    }
}

// Two threads making the first request of a fresh stream at the same moment: every hook still runs on
// the worker, never on a requester.
TEST(StreamConcurrencyTest, SimultaneousFirstRequestsNeverRunAHookOnARequester)
{
    const auto end = std::chrono::steady_clock::now() + 1s;
    int rounds = 0;
    int onRequester = 0;
    while (rounds < 300 && std::chrono::steady_clock::now() < end) {
        T::ScriptedStream s("first", Stream::ThreadingMode::WorkerThread);
        std::atomic<int> ready{0};
        std::thread::id ids[2];
        std::vector<std::thread> threads;
        for (int i = 0; i < 2; ++i) {
            threads.emplace_back([&, i] {
                ids[i] = std::this_thread::get_id();
                ++ready;
                while (ready.load() < 2)
                    std::this_thread::yield();
                s.open();
            });
        }
        for (auto& th : threads)
            th.join();
        EXPECT_EQ(s.openCalls(), 1);
        if (s.lastHookThread() == ids[0] || s.lastHookThread() == ids[1])
            ++onRequester;
        ++rounds;
    }
    EXPECT_EQ(onRequester, 0) << "of " << rounds << " rounds";
}

// A subclass's own transitions racing public requests: no task may be lost, every future resolves
// without std::future_error.
TEST(StreamConcurrencyTest, OwnTransitionsRacingRequestsLoseNoTask)
{
    T::ScriptedStream s("racing", Stream::ThreadingMode::WorkerThread);
    s.pauseResult = true;
    ASSERT_TRUE(s.start());
    std::atomic<bool> stop{false};
    std::atomic<int> broken{0}, unresolved{0};
    auto check = [&](const std::shared_future<bool>& f) {
        if (f.wait_for(5s) != std::future_status::ready) {
            ++unresolved;
            return;
        }
        try {
            f.get();
        } catch (const std::future_error&) {
            ++broken;
        }
    };
    std::thread own([&] {
        for (int i = 0; i < 3000 && !stop.load(); ++i)
            check(i % 2 ? s.attemptOwnTransition(State::Resuming, State::Running, State::Paused)
                        : s.attemptOwnTransition(State::Pausing, State::Paused, State::Running));
    });
    const auto end = std::chrono::steady_clock::now() + 1s;
    for (int i = 0; i < 3000 && std::chrono::steady_clock::now() < end; ++i)
        check(i % 2 ? s.pauseAsync() : s.resumeAsync());
    stop = true;
    own.join();
    EXPECT_EQ(broken.load(), 0);
    EXPECT_EQ(unresolved.load(), 0);
    s.resume();
    EXPECT_TRUE(s.close());
}
