#include "Host/Core/Signal.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "Support/TestUtil.h"

using namespace Corvexis;
using namespace std::chrono_literals;

namespace {

// Stress loops run until a deadline and count their rounds; they never depend on the machine's speed.
constexpr auto kStressTime = 1s;

bool stillBefore(std::chrono::steady_clock::time_point deadline)
{
    return std::chrono::steady_clock::now() < deadline;
}

// A receiver whose state dies with it; a call after its destruction is a use after free that the
// sanitizers report, and `alive` catches it in a plain build.
class CountingReceiver : public SignalReceiver
{
public:
    ~CountingReceiver() override
    {
        disconnectAll();
        alive.store(false);
    }
    // Called by several emitters at once.
    void onValue(int value)
    {
        EXPECT_TRUE(alive.load());
        calls->fetch_add(value);
    }

    std::atomic<bool> alive{true};
    // On the heap, so that a late call is a use after free the sanitizers report.
    std::unique_ptr<std::atomic<int>> calls = std::make_unique<std::atomic<int>>(0);
};

}  // namespace

TEST(SignalConcurrencyTest, ConcurrentConnectDisconnectEmitNeverCallsAfterDisconnect)
{
    Signal<int> signal;
    std::atomic<bool> stop{false};
    std::atomic<int> lateCalls{0};
    std::atomic<long> emissions{0};
    std::atomic<long> cycles{0};

    std::vector<std::thread> emitters;
    for (int t = 0; t < 2; ++t) {
        emitters.emplace_back([&] {
            while (!stop.load()) {
                signal.emitSignal(1);
                emissions.fetch_add(1);
            }
        });
    }
    std::vector<std::thread> connectors;
    for (int t = 0; t < 2; ++t) {
        connectors.emplace_back([&] {
            const auto deadline = std::chrono::steady_clock::now() + kStressTime;
            while (stillBefore(deadline)) {
                // Set only after disconnect() returned: a call that sees it is a call after disconnect.
                auto disconnected = std::make_shared<std::atomic<bool>>(false);
                const SignalConnection c = signal.connect([disconnected, &lateCalls](int) {
                    if (disconnected->load())
                        lateCalls.fetch_add(1);
                });
                std::this_thread::yield();
                c.disconnect();
                disconnected->store(true);
                EXPECT_FALSE(c.isConnected());
                cycles.fetch_add(1);
            }
        });
    }
    for (auto& t : connectors)
        t.join();
    stop.store(true);
    for (auto& t : emitters)
        t.join();

    EXPECT_EQ(lateCalls.load(), 0);
    EXPECT_EQ(signal.connectionCount(), 0u);
    EXPECT_GT(cycles.load(), 0);
    EXPECT_GT(emissions.load(), 0);
}

TEST(SignalConcurrencyTest, DisconnectFromAnotherThreadWaitsForRunningCall)
{
    Signal<> signal;
    std::atomic<bool> entered{false}, release{false}, callFinished{false}, disconnectReturned{false};
    const SignalConnection c = signal.connect([&] {
        entered.store(true);
        ASSERT_TRUE(Corvexis::Test::waitUntil([&] { return release.load(); }));
        callFinished.store(true);
    });
    std::thread emitter([&] { signal.emitSignal(); });
    ASSERT_TRUE(Corvexis::Test::waitUntil([&] { return entered.load(); }));

    std::thread disconnector([&] {
        c.disconnect();
        // The call must have ended before disconnect() returned.
        EXPECT_TRUE(callFinished.load());
        disconnectReturned.store(true);
    });
    // Still blocked while the call runs (a short look: a fast machine cannot make this fail falsely).
    EXPECT_FALSE(Corvexis::Test::waitUntil([&] { return disconnectReturned.load(); }, 50ms));
    release.store(true);
    EXPECT_TRUE(Corvexis::Test::waitUntil([&] { return disconnectReturned.load(); }));
    disconnector.join();
    emitter.join();
}

TEST(SignalConcurrencyTest, DisconnectWaitsForCallDeepInNestedEmissions)
{
    // The call runs 36 emissions deep on its thread, beyond the record's first chunks of entries.
    Signal<int> nesting;
    Signal<> target;
    std::atomic<bool> entered{false}, release{false}, callFinished{false}, disconnectReturned{false};
    nesting.connect([&](int depth) {
        if (depth < 35)
            nesting.emitSignal(depth + 1);
        else
            target.emitSignal();
    });
    const SignalConnection c = target.connect([&] {
        entered.store(true);
        ASSERT_TRUE(Corvexis::Test::waitUntil([&] { return release.load(); }));
        callFinished.store(true);
    });
    std::thread emitter([&] { nesting.emitSignal(0); });
    ASSERT_TRUE(Corvexis::Test::waitUntil([&] { return entered.load(); }));
    std::thread disconnector([&] {
        c.disconnect();
        EXPECT_TRUE(callFinished.load());
        disconnectReturned.store(true);
    });
    EXPECT_FALSE(Corvexis::Test::waitUntil([&] { return disconnectReturned.load(); }, 50ms));
    release.store(true);
    EXPECT_TRUE(Corvexis::Test::waitUntil([&] { return disconnectReturned.load(); }));
    disconnector.join();
    emitter.join();
}

TEST(SignalConcurrencyTest, ReceiverDestroyedDuringCallWaitsForIt)
{
    Signal<int> signal;
    std::atomic<bool> entered{false}, release{false}, destroyed{false};
    auto receiver = std::make_unique<CountingReceiver>();
    CountingReceiver* raw = receiver.get();
    signal.connect(raw, [&, raw](int v) {
        entered.store(true);
        ASSERT_TRUE(Corvexis::Test::waitUntil([&] { return release.load(); }));
        raw->onValue(v);  // touches the receiver's members after the destruction began
    });
    std::thread emitter([&] { signal.emitSignal(1); });
    ASSERT_TRUE(Corvexis::Test::waitUntil([&] { return entered.load(); }));

    std::thread destroyer([&] {
        receiver.reset();
        destroyed.store(true);
    });
    EXPECT_FALSE(Corvexis::Test::waitUntil([&] { return destroyed.load(); }, 50ms));
    release.store(true);
    EXPECT_TRUE(Corvexis::Test::waitUntil([&] { return destroyed.load(); }));
    destroyer.join();
    emitter.join();
    EXPECT_EQ(signal.connectionCount(), 0u);
}

TEST(SignalConcurrencyTest, ReceiversDestroyedWhileOtherThreadsEmitStress)
{
    Signal<int> signal;
    std::atomic<bool> stop{false};
    std::vector<std::thread> emitters;
    for (int t = 0; t < 2; ++t) {
        emitters.emplace_back([&] {
            while (!stop.load())
                signal.emitSignal(1);
        });
    }
    long rounds = 0;
    const auto deadline = std::chrono::steady_clock::now() + kStressTime;
    while (stillBefore(deadline)) {
        auto receiver = std::make_unique<CountingReceiver>();
        signal.connect(receiver.get(), &CountingReceiver::onValue);
        signal.connect(receiver.get(), &CountingReceiver::onValue);
        std::this_thread::yield();
        receiver.reset();
        ++rounds;
    }
    stop.store(true);
    for (auto& t : emitters)
        t.join();
    EXPECT_GT(rounds, 0);
    EXPECT_EQ(signal.connectionCount(), 0u);
}

TEST(SignalConcurrencyTest, SelfDisconnectingCallableOnSeveralThreadsDoesNotDeadlock)
{
    // Each round connects a one-shot callable that several emitters may enter at once; each disconnects
    // it from inside. Waiting there for the other threads' calls would deadlock them with each other.
    Signal<> signal;
    std::atomic<bool> stop{false};
    std::atomic<long> emissions{0};
    std::vector<std::thread> emitters;
    for (int t = 0; t < 3; ++t) {
        emitters.emplace_back([&] {
            while (!stop.load()) {
                signal.emitSignal();
                emissions.fetch_add(1);
            }
        });
    }
    long rounds = 0;
    const auto deadline = std::chrono::steady_clock::now() + kStressTime;
    while (stillBefore(deadline)) {
        auto connection = std::make_shared<SignalConnection>();
        std::atomic<int> calls{0};
        std::atomic<bool> ready{false};
        *connection = signal.connect([connection, &calls, &ready] {
            // Emitters may call before the handle above is assigned; `ready` orders that write.
            if (!ready.load())
                return;
            calls.fetch_add(1);
            connection->disconnect();
        });
        ready.store(true);
        ASSERT_TRUE(Corvexis::Test::waitUntil([&] { return !connection->isConnected(); }));
        // Not inside the callable: waits for calls still running on the emitters, which use this
        // round's stack variables.
        connection->disconnect();
        const int seen = calls.load();
        EXPECT_GE(seen, 1);
        signal.emitSignal();
        EXPECT_EQ(calls.load(), seen);
        ++rounds;
    }
    stop.store(true);
    for (auto& t : emitters)
        t.join();
    EXPECT_GT(rounds, 0);
    EXPECT_GT(emissions.load(), 0);
    EXPECT_EQ(signal.connectionCount(), 0u);
}

namespace {
thread_local bool tHoldsBlocker = false;
}

TEST(SignalConcurrencyTest, BlockersOnSeveralThreadsBalanceAndBlockedIsSkipped)
{
    Signal<int> signal;
    std::atomic<int> calls{0};
    std::atomic<int> callsWhileBlocked{0};
    const SignalConnection c = signal.connect([&](int) {
        calls.fetch_add(1);
        // An emission by a thread that holds a blocker must have skipped this callable.
        if (tHoldsBlocker)
            callsWhileBlocked.fetch_add(1);
    });
    std::atomic<int> notBlockedUnderBlocker{0};
    std::atomic<long> rounds{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t) {
        threads.emplace_back([&] {
            const auto deadline = std::chrono::steady_clock::now() + kStressTime;
            while (stillBefore(deadline)) {
                {
                    SignalBlocker blocker(c);
                    tHoldsBlocker = true;
                    if (!c.isBlocked())
                        notBlockedUnderBlocker.fetch_add(1);
                    signal.emitSignal(1);
                    tHoldsBlocker = false;
                }
                signal.emitSignal(2);  // unblocked window for the others' counts to interleave
                rounds.fetch_add(1);
            }
        });
    }
    for (auto& t : threads)
        t.join();

    EXPECT_GT(rounds.load(), 0);
    EXPECT_EQ(callsWhileBlocked.load(), 0);
    EXPECT_EQ(notBlockedUnderBlocker.load(), 0);
    EXPECT_FALSE(c.isBlocked());
    const int beforeCount = calls.load();
    signal.emitSignal(3);
    EXPECT_EQ(calls.load(), beforeCount + 1);
}

TEST(SignalConcurrencyTest, RecursiveEmissionsWithConcurrentDisconnectAll)
{
    Signal<int> signal;
    std::atomic<bool> stop{false};
    std::atomic<long> calls{0};
    std::thread emitter([&] {
        while (!stop.load())
            signal.emitSignal(0);
    });
    long rounds = 0;
    const auto deadline = std::chrono::steady_clock::now() + kStressTime;
    while (stillBefore(deadline)) {
        auto disconnected = std::make_shared<std::atomic<bool>>(false);
        for (int i = 0; i < 3; ++i) {
            signal.connect([&signal, &calls, disconnected](int depth) {
                EXPECT_FALSE(disconnected->load());
                calls.fetch_add(1);
                if (depth < 2)
                    signal.emitSignal(depth + 1);
            });
        }
        std::this_thread::yield();
        signal.disconnectAll();
        disconnected->store(true);
        ++rounds;
    }
    stop.store(true);
    emitter.join();
    EXPECT_GT(rounds, 0);
    EXPECT_EQ(signal.connectionCount(), 0u);
}
