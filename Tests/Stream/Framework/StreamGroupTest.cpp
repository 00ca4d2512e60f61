#include <atomic>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "Host/Core/Log.h"
#include "Stream/Simulated/FakeImageTrackingStreamGroup.h"
#include "Stream/Framework/ImageStreamData.h"
#include "Stream/Framework/SynchronousConsumer.h"
#include "Stream/Framework/TrackingStreamData.h"
#include "Support/TestUtil.h"
#include "TestStreamGroups.h"

using namespace Corvexis;
namespace T = Corvexis::Test;
using State = Stream::State;

namespace {

struct GroupWithTwo
{
    T::TestStreamGroup group;
    ImageSubstream* image = nullptr;
    TrackingSubstream* tracking = nullptr;

    GroupWithTwo()
    {
        auto i = std::make_unique<ImageSubstream>(&group, "image");
        auto t = std::make_unique<TrackingSubstream>(&group, "tracking");
        image = i.get();
        tracking = t.get();
        EXPECT_TRUE(group.addSubstream(std::move(i)));
        EXPECT_TRUE(group.addSubstream(std::move(t)));
    }
    std::vector<State> states() const
    {
        return {group.currentState(), image->currentState(), tracking->currentState()};
    }
};

std::vector<State> all(State s)
{
    return {s, s, s};
}

TrackingInstrument instrument(const std::string& id, double quality)
{
    TrackingInstrument i(TrackerID(id, "model", "name " + id));
    i.quality = quality;
    i.matrix(0, 3) = quality * 10.0;
    return i;
}

}  // namespace

TEST(StreamGroup, SubstreamRequestsDriveTheGroupAndEverySubstreamMirrorsIt)
{
    GroupWithTwo g;
    EXPECT_EQ(g.states(), all(State::Closed));

    // A start on a closed group opens and starts it; both substreams follow.
    EXPECT_TRUE(g.image->start());
    EXPECT_EQ(g.states(), all(State::Running));
    EXPECT_EQ(g.group.opens, 1);
    EXPECT_EQ(g.group.starts, 1);

    EXPECT_TRUE(g.tracking->pause());
    EXPECT_EQ(g.states(), all(State::Paused));
    EXPECT_TRUE(g.image->resume());
    EXPECT_EQ(g.states(), all(State::Running));

    EXPECT_TRUE(g.tracking->stop());
    EXPECT_EQ(g.states(), all(State::Open));
    EXPECT_TRUE(g.image->close());
    EXPECT_EQ(g.states(), all(State::Closed));

    // Requests on the group itself flow into the substreams too.
    EXPECT_TRUE(g.group.start());
    EXPECT_EQ(g.states(), all(State::Running));
    EXPECT_TRUE(g.image->supportsPausing());
    EXPECT_EQ(g.group.stops, 1);
    EXPECT_EQ(g.group.closes, 1);
}

TEST(StreamGroup, SubstreamMadeLaterStartsInTheGroupsStateAndDestroyingItLeavesTheGroupRunning)
{
    T::TestStreamGroup group;
    ASSERT_TRUE(group.start());
    auto late = std::make_unique<ImageSubstream>(&group, "late");
    EXPECT_EQ(late->currentState(), State::Running);
    ImageSubstream* raw = late.get();
    ASSERT_TRUE(group.addSubstream(std::move(late)));
    EXPECT_EQ(group.substreams(), std::vector<Stream*>{raw});
    EXPECT_EQ(group.containedData().size(), 1u);

    // A substream that is destroyed closes itself only.
    auto lone = std::make_unique<TrackingSubstream>(&group, "lone");
    std::vector<State> seen;
    lone->signalStateChanged.connect([&](Stream::StateChange c) { seen.push_back(c.newState); });
    lone.reset();
    EXPECT_EQ(seen.back(), State::Closed);
    EXPECT_EQ(group.currentState(), State::Running);
    EXPECT_EQ(group.stops, 0);
    EXPECT_EQ(group.closes, 0);
}

TEST(StreamGroup, ForeignOrUnknownSubstreamsAreRefusedWithTheirWarnings)
{
    T::ensureApplication("StreamGroupTest");
    T::TestStreamGroup group("a");
    T::TestStreamGroup other("b");
    Log::ScopedCapture capture;

    auto destroyed = std::make_shared<std::atomic<bool>>(false);
    EXPECT_FALSE(group.addSubstream(std::make_unique<T::WatchedImageSubstream>(&other, "x", destroyed)));
    EXPECT_TRUE(destroyed->load());
    EXPECT_TRUE(group.substreams().empty());
    EXPECT_TRUE(capture->contains(Log::Level::Warning, "StreamGroup",
                                  "Substream parent must be equivalent to this stream group"));

    ImageSubstream stray(&other, "stray");
    EXPECT_FALSE(group.removeSubstream(&stray));
    EXPECT_TRUE(capture->contains(Log::Level::Warning, "StreamGroup",
                                  "Removal of substream failed. Substream not found."));
}

TEST(StreamGroup, EmissionReachesProxyCompoundAndSubstreamConsumersInOrder)
{
    GroupWithTwo g;
    std::vector<std::string> order;
    g.group.signalStreamData.connect([&](auto) { order.push_back("proxy"); });
    g.group.signalCompoundStreamData.connect([&](auto) { order.push_back("compound"); });
    g.tracking->signalStreamData.connect([&](auto) { order.push_back("tracking"); });
    g.image->signalStreamData.connect([&](auto) { order.push_back("image"); });

    auto proxyRecord = std::make_shared<TrackingStreamData>(&g.group, std::vector<TrackingInstrument>{});
    auto parts = std::vector<std::shared_ptr<const StreamData>>{
        std::make_shared<ImageStreamData>(g.image),
        std::make_shared<TrackingStreamData>(g.tracking, std::vector<TrackingInstrument>{})};
    auto compound = std::make_shared<CompoundStreamData>(proxyRecord, parts);
    g.group.emit(compound);
    EXPECT_EQ(order, (std::vector<std::string>{"proxy", "compound", "image", "tracking"}));

    // Without the flag only the proxy and the compound signal fire; no proxy record, no proxy emission.
    order.clear();
    g.group.emit(std::make_shared<CompoundStreamData>(nullptr, parts), false);
    EXPECT_EQ(order, (std::vector<std::string>{"compound"}));
}

TEST(StreamGroup, TrackingPartRegistersItsInstrumentsBeforeConsumersSeeIt)
{
    GroupWithTwo g;
    int instrumentsChanged = 0;
    std::string mainId;
    g.tracking->signalInstrumentsChanged.connect([&] { ++instrumentsChanged; });
    g.tracking->signalMainInstrumentChanged.connect([&](const std::string& id) { mainId = id; });
    std::vector<TrackingInstrument> seenByConsumer;
    g.tracking->signalStreamData.connect([&](auto) { seenByConsumer = g.tracking->instruments(); });

    auto emitPoses = [&](std::vector<TrackingInstrument> poses) {
        auto record = std::make_shared<TrackingStreamData>(g.tracking, std::move(poses));
        g.group.emit(std::make_shared<CompoundStreamData>(
            nullptr, std::vector<std::shared_ptr<const StreamData>>{record}));
    };
    emitPoses({instrument("b", 0.5), instrument("a", 0.7)});
    ASSERT_EQ(seenByConsumer.size(), 2u);
    EXPECT_EQ(seenByConsumer[0].id.ID(), "a");  // identifier order
    EXPECT_DOUBLE_EQ(seenByConsumer[0].quality, 0.7);
    EXPECT_EQ(seenByConsumer[1].id.name(), "name b");
    EXPECT_TRUE(seenByConsumer[1].active);
    EXPECT_EQ(instrumentsChanged, 1);
    EXPECT_EQ(mainId, "b");  // the first one registered

    // Known instruments are updated; missing ones keep their last pose; no set change is signalled.
    emitPoses({instrument("a", 0.9)});
    EXPECT_EQ(instrumentsChanged, 1);
    ASSERT_EQ(seenByConsumer.size(), 2u);
    EXPECT_DOUBLE_EQ(seenByConsumer[0].quality, 0.9);
    EXPECT_DOUBLE_EQ(seenByConsumer[0].matrix(0, 3), 9.0);
    EXPECT_DOUBLE_EQ(seenByConsumer[1].quality, 0.5);
}

TEST(StreamGroup, RemovedSubstreamLivesUntilTheEndOfTheNextEmission)
{
    T::ensureApplication("StreamGroupTest");
    T::TestStreamGroup group;
    auto destroyed = std::make_shared<std::atomic<bool>>(false);
    auto owned = std::make_unique<T::WatchedImageSubstream>(&group, "watched", destroyed);
    auto* watched = owned.get();
    ASSERT_TRUE(group.addSubstream(std::move(owned)));

    // On the main thread the removal happens at once: out of the lists, still alive.
    ASSERT_TRUE(group.removeSubstream(watched));
    EXPECT_TRUE(group.substreams().empty());
    EXPECT_EQ(group.contentCount(), 0u);
    EXPECT_FALSE(destroyed->load());
    EXPECT_FALSE(group.removeSubstream(watched));  // no longer the group's

    bool consumerSawLiveSubstream = false;
    watched->signalStreamData.connect([&](auto) { consumerSawLiveSubstream = !destroyed->load(); });
    group.emit(std::make_shared<CompoundStreamData>(
        nullptr, std::vector<std::shared_ptr<const StreamData>>{std::make_shared<ImageStreamData>(watched)}));
    EXPECT_TRUE(consumerSawLiveSubstream);
    EXPECT_TRUE(destroyed->load());
}

TEST(FakeImageTrackingStreamGroup, NamesInstrumentsAndSubstreams)
{
    FakeImageTrackingStreamGroup group;
    EXPECT_EQ(group.name(), "Fake Proxy Image Stream");
    ASSERT_NE(group.imageSubstream(), nullptr);
    ASSERT_NE(group.trackingSubstream(), nullptr);
    EXPECT_EQ(group.imageSubstream()->name(), "Fake Proxy Image Stream (child)");
    EXPECT_EQ(group.trackingSubstream()->name(), "Fake Proxy Image Stream (child)");
    EXPECT_EQ(group.substreams().size(), 2u);
    const auto devices = group.devices();
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[1].id.ID(), "faketrk-1");
    EXPECT_EQ(devices[1].id.name(), "instrument 1");
    EXPECT_TRUE(group.supportsPausing());
}

// The group runs for a bounded number of cycles, watched only through its substreams.
TEST(FakeImageTrackingStreamGroup, SubstreamConsumersEachGetOneMatchingRecordPerCycle)
{
    constexpr int kCycles = 300;  // wraps the 0..255 counter
    FakeImageTrackingStreamGroup group;
    ImageSubstream* image = group.imageSubstream();
    TrackingSubstream* tracking = group.trackingSubstream();

    std::mutex mutex;
    std::vector<std::shared_ptr<const StreamData>> images, poses;
    image->signalStreamData.connect([&](std::shared_ptr<const StreamData> d) {
        std::lock_guard lock(mutex);
        images.push_back(std::move(d));
    });
    tracking->signalStreamData.connect([&](std::shared_ptr<const StreamData> d) {
        std::lock_guard lock(mutex);
        poses.push_back(std::move(d));
    });
    auto count = [&] {
        std::lock_guard lock(mutex);
        return std::min(images.size(), poses.size());
    };
    ASSERT_TRUE(tracking->start());
    EXPECT_EQ(image->currentState(), State::Running);
    ASSERT_TRUE(T::waitUntil([&] { return count() >= kCycles; }, std::chrono::seconds(60)));
    ASSERT_TRUE(image->stop());
    EXPECT_EQ(group.currentState(), State::Open);

    std::lock_guard lock(mutex);
    ASSERT_EQ(images.size(), poses.size());  // both parts of every cycle, nothing else
    for (size_t n = 0; n < images.size(); ++n) {
        const auto* img = dynamic_cast<const ImageStreamData*>(images[n].get());
        const auto* trk = dynamic_cast<const TrackingStreamData*>(poses[n].get());
        ASSERT_TRUE(img && trk);
        EXPECT_EQ(img->stream(), image);
        EXPECT_EQ(trk->stream(), tracking);
        EXPECT_EQ(img->timestampDevice(), trk->timestampDevice());
        const int counter = static_cast<int>((n + 1) % 256);
        const auto* pixels = static_cast<const std::uint8_t*>(img->images().at(0)->mem()->data());
        ASSERT_EQ(pixels[0], counter) << "cycle " << n;
        EXPECT_EQ(pixels[1], (1 + counter) % 256);
        EXPECT_EQ(pixels[FakeImageTrackingStreamGroup::kWidth * 2 + 5], (205 + counter) % 256);
        const auto instruments = trk->instruments();
        ASSERT_EQ(instruments.size(), 2u);
        EXPECT_NEAR(instruments[0].quality - instruments[1].quality, 0.1, 1e-12);
        EXPECT_NEAR(instruments[0].quality, 0.8 + counter * 0.00078125, 1e-12);
        const double t = 0.05 * static_cast<double>(n + 1);
        EXPECT_NEAR(instruments[1].matrix(1, 3), 25.0 * std::cos(t), 1e-6);
        EXPECT_NEAR(instruments[1].matrix(2, 1), std::sin(t / 10.0), 1e-6);
    }
    EXPECT_EQ(tracking->instruments().size(), 2u);
}
