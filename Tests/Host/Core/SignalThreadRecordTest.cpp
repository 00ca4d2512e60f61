#include "Host/Core/SignalThreadRecord.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "Host/Core/Signal.h"

using namespace Corvexis;

namespace {
// Stand-ins for slots: the record only compares addresses.
const SignalSlot* fakeSlot(int i)
{
    static int storage[64];
    return reinterpret_cast<const SignalSlot*>(&storage[i]);
}
}  // namespace

TEST(SignalThreadRecordTest, EntriesAcrossChunkBoundariesAreSeenHereAndFromOtherThreads)
{
    SignalThreadRecord& record = SignalThreadRecord::current();
    EXPECT_EQ(&record, SignalThreadRecord::currentIfAny());
    constexpr int kDepth = 40;  // several chunks deep
    std::vector<SignalThreadRecord::Entry*> entries;
    for (int i = 0; i < kDepth; ++i) {
        entries.push_back(&record.push());
        entries.back()->store(fakeSlot(i));
    }
    EXPECT_TRUE(record.contains(fakeSlot(0)));
    EXPECT_TRUE(record.contains(fakeSlot(kDepth - 1)));
    EXPECT_FALSE(record.contains(fakeSlot(kDepth)));
    EXPECT_FALSE(SignalThreadRecord::isCalledOnOtherThread(fakeSlot(17)));  // only this thread has it
    bool seenElsewhere = false;
    std::thread([&] { seenElsewhere = SignalThreadRecord::isCalledOnOtherThread(fakeSlot(17)); }).join();
    EXPECT_TRUE(seenElsewhere);

    // Unwind to depth 16, the edge of the first chunk, then grow again: entries are reused in place.
    for (int i = kDepth - 1; i >= 16; --i) {
        entries[i]->store(nullptr);
        record.pop();
    }
    EXPECT_FALSE(record.contains(fakeSlot(20)));
    EXPECT_EQ(&record.push(), entries[16]);
    record.pop();
    for (int i = 15; i >= 0; --i) {
        entries[i]->store(nullptr);
        record.pop();
    }
    EXPECT_FALSE(record.contains(fakeSlot(0)));
    EXPECT_EQ(&record.push(), entries[0]);
    record.pop();
}

TEST(SignalThreadRecordTest, RecordsOfEndedThreadsAreReleased)
{
    SignalThreadRecord::current();
    const size_t before = SignalThreadRecord::registeredCount();
    Signal<> signal;
    signal.connect([] {});
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i)
        threads.emplace_back([&] { signal.emitSignal(); });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(SignalThreadRecord::registeredCount(), before);
}

TEST(SignalThreadRecordTest, DeepRecursionKeepsEveryLevelVisible)
{
    Signal<int> signal;
    int deepest = 0;
    SignalConnection connection;
    connection = signal.connect([&](int depth) {
        deepest = depth;
        if (depth < 40) {
            signal.emitSignal(depth + 1);
        } else {
            connection.disconnect();  // inside its own callable, 41 times over: must not wait
        }
    });
    signal.emitSignal(0);
    EXPECT_EQ(deepest, 40);
    EXPECT_FALSE(connection.isConnected());
    signal.emitSignal(0);
    EXPECT_EQ(deepest, 40);
}
