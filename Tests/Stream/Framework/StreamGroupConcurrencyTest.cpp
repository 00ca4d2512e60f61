#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include <gtest/gtest.h>

#include "Stream/Simulated/FakeImageTrackingStreamGroup.h"
#include "Stream/Framework/ImageStreamData.h"
#include "Stream/Framework/TrackingStreamData.h"
#include "Support/TestUtil.h"
#include "TestStreamGroups.h"

using namespace Corvexis;
namespace T = Corvexis::Test;

// The main thread removes a substream while another thread (the group's worker) is inside an emission
// on it. The substream must survive that emission, whose consumer still uses it, and go at the end of
// the next one.
TEST(StreamGroupConcurrency, SubstreamRemovedDuringEmissionIsDestroyedOnlyAfterIt)
{
    T::ensureApplication("StreamGroupConcurrencyTest");
    T::TestStreamGroup group;
    constexpr int kRounds = 20;

    for (int round = 0; round < kRounds; ++round) {
        auto destroyed = std::make_shared<std::atomic<bool>>(false);
        auto owned = std::make_unique<T::WatchedImageSubstream>(&group, "watched", destroyed);
        T::WatchedImageSubstream* watched = owned.get();
        ASSERT_TRUE(group.addSubstream(std::move(owned)));

        std::mutex mutex;
        std::condition_variable cv;
        bool inside = false, released = false;
        std::atomic<bool> aliveAfterRelease{false};
        watched->signalStreamData.connect([&](std::shared_ptr<const StreamData> record) {
            {
                std::unique_lock lock(mutex);
                inside = true;
                cv.notify_all();
                cv.wait(lock, [&] { return released; });
            }
            // The consumer still touches the substream after the removal.
            aliveAfterRelease = !destroyed->load() && record->stream() == watched && !watched->name().empty();
        });
        auto part = std::make_shared<ImageStreamData>(watched);
        std::thread worker([&] {
            group.emit(std::make_shared<CompoundStreamData>(
                nullptr, std::vector<std::shared_ptr<const StreamData>>{part}));
        });
        {
            std::unique_lock lock(mutex);
            ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(30), [&] { return inside; }));
        }
        ASSERT_TRUE(group.removeSubstream(watched));  // main thread: carried out at once
        EXPECT_TRUE(group.substreams().empty());
        {
            std::lock_guard lock(mutex);
            released = true;
            cv.notify_all();
        }
        worker.join();
        EXPECT_TRUE(aliveAfterRelease) << "round " << round;
        // The pending removal was carried out at the end of that emission.
        EXPECT_TRUE(destroyed->load());
    }
}

// Removals queued from another thread are carried out by the main thread's event loop while a worker
// keeps emitting on the substreams; every substream goes exactly once, never during a dispatch to it.
TEST(StreamGroupConcurrency, QueuedRemovalsRaceWithContinuousEmission)
{
    T::ensureApplication("StreamGroupConcurrencyTest");
    T::TestStreamGroup group;
    constexpr int kSubstreams = 8;
    std::vector<std::shared_ptr<std::atomic<bool>>> flags;
    std::vector<SubstreamBase*> members;
    std::atomic<int> dispatchedToDead{0};
    for (int i = 0; i < kSubstreams; ++i) {
        flags.push_back(std::make_shared<std::atomic<bool>>(false));
        auto s = std::make_unique<T::WatchedImageSubstream>(&group, "s" + std::to_string(i), flags.back());
        auto flag = flags.back();
        s->signalStreamData.connect([flag, &dispatchedToDead](auto) {
            if (flag->load())
                ++dispatchedToDead;
        });
        members.push_back(s.get());
        ASSERT_TRUE(group.addSubstream(std::move(s)));
    }

    std::atomic<bool> stop{false};
    std::thread worker([&] {
        while (!stop) {
            std::vector<std::shared_ptr<const StreamData>> parts;
            for (Stream* s : group.substreams())
                parts.push_back(std::make_shared<ImageStreamData>(s));
            group.emit(std::make_shared<CompoundStreamData>(nullptr, parts));
            std::this_thread::yield();
        }
    });
    std::thread remover([&] {
        for (SubstreamBase* s : members)
            EXPECT_TRUE(group.removeSubstream(s));
    });
    remover.join();
    EXPECT_TRUE(T::waitUntil([&] {
        QCoreApplication::processEvents();
        return group.substreams().empty();
    }));
    // Two more emissions after the last removal destroy the pending ones.
    EXPECT_TRUE(T::waitUntil([&] {
        for (const auto& f : flags) {
            if (!f->load())
                return false;
        }
        return true;
    }));
    stop = true;
    worker.join();
    EXPECT_EQ(dispatchedToDead.load(), 0);
}

// Two threads drive the simulated group through its two substreams (start, pause, resume, stop) while
// its worker emits every 10 ms. Every request ends, the mirrors never disagree with the group once the
// requests are done, and the consumers of each substream only ever see their own kind of record.
TEST(StreamGroupConcurrency, RequestsThroughBothSubstreamsWhileTheGroupRuns)
{
    namespace T = Corvexis::Test;
    FakeImageTrackingStreamGroup group;
    ImageSubstream* image = group.imageSubstream();
    TrackingSubstream* tracking = group.trackingSubstream();
    std::atomic<int> images{0}, poses{0}, wrongKind{0};
    image->signalStreamData.connect([&](std::shared_ptr<const StreamData> r) {
        dynamic_cast<const ImageStreamData*>(r.get()) ? ++images : ++wrongKind;
    });
    tracking->signalStreamData.connect([&](std::shared_ptr<const StreamData> r) {
        dynamic_cast<const TrackingStreamData*>(r.get()) ? ++poses : ++wrongKind;
    });

    auto drive = [](Stream& s, int rounds) {
        for (int i = 0; i < rounds; ++i) {
            s.start();
            std::this_thread::sleep_for(std::chrono::milliseconds(15));
            s.pause();
            s.resume();
            if (i % 3 == 2)
                s.stop();
        }
    };
    std::thread a([&] { drive(*image, 20); });
    std::thread b([&] { drive(*tracking, 20); });
    a.join();
    b.join();

    ASSERT_TRUE(tracking->start());
    for (Stream* s : {static_cast<Stream*>(image), static_cast<Stream*>(tracking)})
        EXPECT_EQ(s->currentState(), Stream::State::Running);
    EXPECT_TRUE(T::waitUntil([&] { return images.load() > 0 && poses.load() > 0; }));
    ASSERT_TRUE(image->close());
    EXPECT_EQ(group.currentState(), Stream::State::Closed);
    EXPECT_EQ(tracking->currentState(), Stream::State::Closed);
    EXPECT_EQ(wrongKind.load(), 0);
}
