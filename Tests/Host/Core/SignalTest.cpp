#include "Host/Core/Signal.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "Host/Core/Log.h"

using namespace Corvexis;

namespace {

class Recorder : public SignalReceiver
{
public:
    ~Recorder() override { disconnectAll(); }
    void onValue(int value) { values.push_back(value); }

    std::vector<int> values;
};

}  // namespace

TEST(SignalTest, EmitsToEveryCallableInConnectionOrderWithArguments)
{
    Signal<int, const std::string&> signal;
    std::vector<std::string> calls;
    signal.connect([&](int n, const std::string& s) { calls.push_back("a" + std::to_string(n) + s); });
    signal.connect([&](int n, const std::string& s) { calls.push_back("b" + std::to_string(n) + s); });
    signal.connect([&](int n, const std::string& s) { calls.push_back("c" + std::to_string(n) + s); });
    EXPECT_EQ(signal.connectionCount(), 3u);

    signal.emitSignal(7, "x");
    EXPECT_EQ(calls, (std::vector<std::string>{"a7x", "b7x", "c7x"}));

    Signal<> empty;
    empty.emitSignal();  // nothing connected: no effect, no crash
    EXPECT_EQ(empty.connectionCount(), 0u);
}

TEST(SignalTest, DisconnectStopsCallsAndIsIdempotent)
{
    Signal<int> signal;
    std::vector<int> a, b;
    SignalConnection ca = signal.connect([&](int v) { a.push_back(v); });
    SignalConnection cb = signal.connect([&](int v) { b.push_back(v); });
    const SignalConnection copy = ca;
    EXPECT_TRUE(ca == copy);
    EXPECT_FALSE(ca == cb);

    signal.emitSignal(1);
    copy.disconnect();  // through a copy of the handle
    EXPECT_FALSE(ca.isConnected());
    EXPECT_TRUE(cb.isConnected());
    EXPECT_EQ(signal.connectionCount(), 1u);
    signal.emitSignal(2);
    ca.disconnect();
    signal.emitSignal(3);

    EXPECT_EQ(a, (std::vector<int>{1}));
    EXPECT_EQ(b, (std::vector<int>{1, 2, 3}));

    signal.disconnectAll();
    EXPECT_FALSE(cb.isConnected());
    EXPECT_EQ(signal.connectionCount(), 0u);
    signal.emitSignal(4);
    EXPECT_EQ(b.size(), 3u);
}

TEST(SignalTest, EmptyHandlesAndEmptyCallables)
{
    SignalConnection none;
    EXPECT_FALSE(none.isConnected());
    EXPECT_FALSE(none.isBlocked());
    none.block();
    EXPECT_FALSE(none.isBlocked());
    none.unblock();
    none.disconnect();
    {
        SignalBlocker blocker(none);
    }
    EXPECT_TRUE(none == SignalConnection());

    Log::ScopedCapture capture;
    Signal<int> signal;
    const SignalConnection refused = signal.connect(std::function<void(int)>());
    EXPECT_FALSE(refused.isConnected());
    EXPECT_EQ(signal.connectionCount(), 0u);
    EXPECT_TRUE(capture->containsFragment(Log::Level::Warning, "Signal", "empty callable"));
    signal.emitSignal(1);
}

TEST(SignalTest, BlockingIsCountedAndSkipsOnlyThatConnection)
{
    Signal<int> signal;
    std::vector<int> a, b;
    const SignalConnection ca = signal.connect([&](int v) { a.push_back(v); });
    signal.connect([&](int v) { b.push_back(v); });

    {
        SignalBlocker outer(ca);
        EXPECT_TRUE(ca.isBlocked());
        signal.emitSignal(1);
        {
            SignalBlocker inner(ca);
            signal.emitSignal(2);
        }
        // The inner blocker's end must not unblock what the outer one still blocks.
        EXPECT_TRUE(ca.isBlocked());
        signal.emitSignal(3);
    }
    EXPECT_FALSE(ca.isBlocked());
    signal.emitSignal(4);

    ca.unblock();  // unbalanced unblock does not bank a future block
    ca.block();
    signal.emitSignal(5);
    ca.unblock();
    signal.emitSignal(6);

    EXPECT_TRUE(ca.isConnected());
    EXPECT_EQ(signal.connectionCount(), 2u);
    EXPECT_EQ(a, (std::vector<int>{4, 6}));
    EXPECT_EQ(b, (std::vector<int>{1, 2, 3, 4, 5, 6}));
}

TEST(SignalTest, CallableMayDisconnectItselfAndOthersDuringEmission)
{
    Signal<int> signal;
    std::vector<std::string> calls;
    SignalConnection self, later;
    signal.connect([&](int) { calls.push_back("first"); });
    self = signal.connect([&](int) {
        calls.push_back("self");
        self.disconnect();  // must not wait for itself
        later.disconnect();
        EXPECT_FALSE(self.isConnected());
    });
    later = signal.connect([&](int) { calls.push_back("later"); });
    signal.connect([&](int) { calls.push_back("last"); });

    signal.emitSignal(0);
    // "later" was disconnected before its turn in the same emission and must be skipped.
    EXPECT_EQ(calls, (std::vector<std::string>{"first", "self", "last"}));
    calls.clear();
    signal.emitSignal(0);
    EXPECT_EQ(calls, (std::vector<std::string>{"first", "last"}));
    EXPECT_EQ(signal.connectionCount(), 2u);
}

TEST(SignalTest, CallableConnectedDuringEmissionStartsWithTheNextOne)
{
    Signal<int> signal;
    std::vector<int> added;
    bool connectedOnce = false;
    signal.connect([&](int) {
        if (!connectedOnce) {
            connectedOnce = true;
            signal.connect([&](int v) { added.push_back(v); });
        }
    });
    signal.emitSignal(1);
    EXPECT_TRUE(added.empty());
    signal.emitSignal(2);
    EXPECT_EQ(added, (std::vector<int>{2}));
}

TEST(SignalTest, CallableMayEmitTheSameSignalRecursively)
{
    Signal<int> signal;
    std::vector<int> seen;
    SignalConnection self;
    self = signal.connect([&](int depth) {
        seen.push_back(depth);
        if (depth < 3)
            signal.emitSignal(depth + 1);
        if (depth == 2)
            self.disconnect();  // disconnecting while two frames of it are on this thread's stack
    });
    signal.emitSignal(0);
    EXPECT_EQ(seen, (std::vector<int>{0, 1, 2, 3}));
    signal.emitSignal(9);
    EXPECT_EQ(seen.size(), 4u);
}

TEST(SignalTest, NestedEmissionOfAnotherSignalMayDisconnectTheOuterCallable)
{
    Signal<> outer, inner;
    int outerCalls = 0;
    const SignalConnection outerConnection = outer.connect([&] {
        ++outerCalls;
        inner.emitSignal();
    });
    // Runs on the same thread while the outer callable is still running: must not wait for it.
    inner.connect([&] { outerConnection.disconnect(); });
    outer.emitSignal();
    outer.emitSignal();
    EXPECT_EQ(outerCalls, 1);
    EXPECT_FALSE(outerConnection.isConnected());
}

TEST(SignalTest, ExceptionEndsEmissionAndLeavesConnectionsUsable)
{
    Signal<int> signal;
    std::vector<int> after;
    const SignalConnection thrower = signal.connect([](int v) {
        if (v == 1)
            throw std::runtime_error("boom");
    });
    signal.connect([&](int v) { after.push_back(v); });
    EXPECT_THROW(signal.emitSignal(1), std::runtime_error);
    EXPECT_TRUE(after.empty());
    // The call count of the thrower was released: disconnecting does not wait for a call that ended.
    thrower.disconnect();
    signal.emitSignal(2);
    EXPECT_EQ(after, (std::vector<int>{2}));
}

TEST(SignalTest, ReceiverDisconnectsItsConnectionsWhenDestroyed)
{
    Signal<int> signal;
    std::vector<int> untied;
    signal.connect([&](int v) { untied.push_back(v); });
    SignalConnection tied;
    std::vector<int> seen;
    {
        Recorder recorder;
        tied = signal.connect(&recorder, &Recorder::onValue);
        signal.connect(&recorder, [&recorder](int v) { recorder.onValue(v * 10); });
        EXPECT_EQ(recorder.tiedConnectionCount(), 2u);
        EXPECT_EQ(signal.connectionCount(), 3u);
        signal.emitSignal(1);
        seen = recorder.values;
    }
    EXPECT_EQ(seen, (std::vector<int>{1, 10}));
    EXPECT_FALSE(tied.isConnected());
    EXPECT_EQ(signal.connectionCount(), 1u);
    signal.emitSignal(2);  // would touch the destroyed recorder if still connected
    EXPECT_EQ(untied, (std::vector<int>{1, 2}));
}

TEST(SignalTest, ReceiverCopyStartsWithoutConnectionsAndReceiverIsReusable)
{
    Signal<int> signal;
    Recorder original;
    signal.connect(&original, &Recorder::onValue);
    {
        Recorder copy(original);
        EXPECT_EQ(copy.tiedConnectionCount(), 0u);
        copy = original;
        EXPECT_EQ(copy.tiedConnectionCount(), 0u);
    }
    EXPECT_EQ(original.tiedConnectionCount(), 1u);  // the copy's end did not disconnect the original's
    signal.emitSignal(1);

    original.disconnectAll();
    signal.emitSignal(2);
    signal.connect(&original, &Recorder::onValue);
    signal.emitSignal(3);
    EXPECT_EQ(original.values, (std::vector<int>{1, 3}));
}

TEST(SignalTest, ReceiverForgetsEndedConnections)
{
    Signal<int> signal;
    Recorder recorder;
    for (int i = 0; i < 1000; ++i)
        signal.connect(&recorder, &Recorder::onValue).disconnect();
    const SignalConnection last = signal.connect(&recorder, &Recorder::onValue);
    EXPECT_EQ(recorder.tiedConnectionCount(), 1u);
    EXPECT_EQ(signal.connectionCount(), 1u);
    signal.emitSignal(5);
    EXPECT_EQ(recorder.values, (std::vector<int>{5}));
}

TEST(SignalTest, SignalDestroyedBeforeItsConnectionsAndReceivers)
{
    Recorder recorder;
    SignalConnection connection;
    {
        Signal<int> signal;
        connection = signal.connect(&recorder, &Recorder::onValue);
        EXPECT_TRUE(connection.isConnected());
    }
    EXPECT_FALSE(connection.isConnected());
    connection.block();
    connection.disconnect();
    recorder.disconnectAll();  // handles of a destroyed signal are harmless
    EXPECT_EQ(recorder.tiedConnectionCount(), 0u);
}

TEST(SignalTest, CallableIsReleasedWhenDisconnected)
{
    auto payload = std::make_shared<int>(42);
    const long before = payload.use_count();
    Signal<> signal;
    const SignalConnection connection = signal.connect([payload] { (void)*payload; });
    EXPECT_EQ(payload.use_count(), before + 1);
    signal.emitSignal();
    connection.disconnect();
    EXPECT_EQ(payload.use_count(), before);

    // Disconnecting itself mid-emission: released once that emission ends.
    SignalConnection self;
    self = signal.connect([payload, &self] { self.disconnect(); });
    signal.emitSignal();
    EXPECT_EQ(payload.use_count(), before);
}

TEST(SignalTest, MovedSignalKeepsConnectionsAndSourceStaysUsable)
{
    Signal<int> source;
    std::vector<int> seen;
    const SignalConnection connection = source.connect([&](int v) { seen.push_back(v); });
    Signal<int> target(std::move(source));
    target.emitSignal(1);
    source.emitSignal(2);  // NOLINT(bugprone-use-after-move): moved-from signal is empty, not invalid
    EXPECT_EQ(source.connectionCount(), 0u);
    connection.disconnect();
    target.emitSignal(3);
    EXPECT_EQ(seen, (std::vector<int>{1}));
    EXPECT_EQ(target.connectionCount(), 0u);
}
