#include "Stream/Recording/PlaybackAlgorithm.h"

#include <gtest/gtest.h>

#include "Host/Core/DataList.h"
#include "Host/Core/Log.h"
#include "Host/Core/Mesh.h"
#include "Host/Lib/TrackedSharedImageSet.h"
#include "Stream/Recording/PlaybackImageStream.h"
#include "Stream/Recording/PlaybackStreamGroup.h"
#include "Stream/Recording/PlaybackTestData.h"
#include "Stream/Recording/PlaybackTrackingStream.h"
#include "Support/TestUtil.h"

using namespace Corvexis;
using namespace Corvexis::PlaybackTest;
using State = Stream::State;

namespace {

std::unique_ptr<TrackedSharedImageSet> makeTrackedSet()
{
    auto tracked = std::make_unique<TrackedSharedImageSet>(std::move(*makeSet(4, {0, 20, 40, 60})));
    tracked->setName("tracked");
    tracked->addTracking(makeSequence("probe", {0.0, 0.02, 0.04, 0.06}));
    return tracked;
}

std::unique_ptr<PlaybackAlgorithm> create(const DataList& inputs)
{
    std::unique_ptr<Algorithm> algorithm;
    if (!PlaybackAlgorithm::createCompatible(inputs, &algorithm))
        return nullptr;
    return std::unique_ptr<PlaybackAlgorithm>(static_cast<PlaybackAlgorithm*>(algorithm.release()));
}

}  // namespace

TEST(PlaybackAlgorithmTest, TakesAnImageSetOptionallyWithSequencesOrSequencesAlone)
{
    auto set = makeSet(2, {0, 10});
    auto sequence = makeSequence("probe", {0.0, 0.01});
    Mesh mesh;
    EXPECT_FALSE(PlaybackAlgorithm::createCompatible(DataList{}, nullptr));
    EXPECT_TRUE(PlaybackAlgorithm::createCompatible(DataList{set.get()}, nullptr));
    EXPECT_TRUE(PlaybackAlgorithm::createCompatible(DataList{sequence.get()}, nullptr));
    EXPECT_TRUE(PlaybackAlgorithm::createCompatible(DataList{set.get(), sequence.get()}, nullptr));
    EXPECT_FALSE(PlaybackAlgorithm::createCompatible(DataList{sequence.get(), set.get()}, nullptr));
    EXPECT_FALSE(PlaybackAlgorithm::createCompatible(DataList{&mesh}, nullptr));
    EXPECT_FALSE(PlaybackAlgorithm::createCompatible(DataList{set.get(), set.get()}, nullptr));
}

TEST(PlaybackAlgorithmTest, ATrackedSetPlaysAsAGroupWithSynchronisedTracking)
{
    auto tracked = makeTrackedSet();
    auto algorithm = create(DataList{tracked.get()});
    ASSERT_TRUE(algorithm);
    algorithm->compute();
    ASSERT_EQ(algorithm->status(), Algorithm::Status::Success);
    ASSERT_NE(algorithm->streamGroup(), nullptr);
    EXPECT_EQ(algorithm->stream(), algorithm->streamGroup());
    EXPECT_EQ(algorithm->dataGroup(), algorithm->streamGroup());
    ASSERT_NE(algorithm->imageStream(), nullptr);
    ASSERT_NE(algorithm->trackingStream(), nullptr);
    EXPECT_EQ(algorithm->trackingStream()->parentStream(), algorithm->imageStream());
    EXPECT_EQ(algorithm->trackingStream()->name(), "tracked tracking");
    EXPECT_EQ(algorithm->imageStream()->currentState(), State::Running);
    EXPECT_EQ(algorithm->trackingStream()->currentState(), State::Running);
    EXPECT_TRUE(algorithm->timestampValidAndEquidistant());
    EXPECT_NEAR(algorithm->calculatedInitialFps().value_or(0), 50.0, 1e-9);

    // Rate and speed go to both streams.
    ASSERT_TRUE(algorithm->setFps(100));
    EXPECT_NEAR(algorithm->trackingStream()->fps().value_or(0), 100.0, 1e-9);
    ASSERT_TRUE(algorithm->setSpeedFactor(0.5));
    EXPECT_NEAR(algorithm->imageStream()->speedFactor().value_or(0), 0.5, 1e-9);
    EXPECT_EQ(algorithm->speedFactor.value(), 0.5);
    algorithm->setLoop(false);
    EXPECT_FALSE(algorithm->imageStream()->loop());

    OwningDataList output = algorithm->takeOutput();
    ASSERT_EQ(output.size(), 1u);
    EXPECT_EQ(output[0], algorithm->streamGroup());
    EXPECT_EQ(algorithm->takeOutput().size(), 0u);
    // Destroying the output makes the algorithm forget it.
    output = OwningDataList();
    EXPECT_EQ(algorithm->stream(), nullptr);
    EXPECT_EQ(algorithm->imageStream(), nullptr);
}

TEST(PlaybackAlgorithmTest, ConfigurationKeysAttributesAndTheirEffect)
{
    auto tracked = makeTrackedSet();
    auto algorithm = create(DataList{tracked.get()});
    ASSERT_TRUE(algorithm);
    Properties written;
    algorithm->configuration(&written);
    for (const char* key : {"Synchronized Mode", "Ignore Calibration", "Delay Start"}) {
        EXPECT_TRUE(written.hasParam(key)) << key;
        EXPECT_EQ(written.paramAttribute(key, "hidden"), "true") << key;
    }
    for (const char* key : {"Loop", "Speed Factor", "Skip Delayed Frames"}) {
        EXPECT_TRUE(written.hasParam(key)) << key;
        EXPECT_EQ(written.paramAttribute(key, "hidden"), "") << key;
    }
    EXPECT_FALSE(written.hasParam("Fps")) << "the rate is read, never written";
    EXPECT_EQ(written.param("Synchronized Mode", false), true);
    EXPECT_EQ(written.param("Loop", false), true);
    EXPECT_EQ(written.param("Speed Factor", 0.0), 1.0);

    Properties settings;
    settings.setParam("Fps", 12.5);
    settings.setParam("Synchronized Mode", false);
    settings.setParam("Delay Start", true);
    settings.setParam("Loop", false);
    settings.setParam("Skip Delayed Frames", true);
    settings.setParam("Ignore Calibration", true);
    algorithm->configure(&settings);
    algorithm->compute();
    ASSERT_EQ(algorithm->status(), Algorithm::Status::Success);
    EXPECT_EQ(algorithm->imageStream()->currentState(), State::Open) << "start is delayed";
    EXPECT_EQ(algorithm->trackingStream()->parentStream(), nullptr) << "not synchronised";
    EXPECT_NEAR(algorithm->imageStream()->fps().value_or(0), 12.5, 1e-9);
    EXPECT_NEAR(algorithm->trackingStream()->fps().value_or(0), 12.5, 1e-9);
    EXPECT_FALSE(algorithm->imageStream()->loop());
    EXPECT_TRUE(algorithm->trackingStream()->isSkippingDelayedFrames());
    EXPECT_TRUE(algorithm->trackingStream()->ignoreCalibration());
    EXPECT_NE(algorithm->trackingStream()->playbackTrackingSequence(0), tracked->tracking(0));

    // A speed factor alone applies when no rate was given.
    auto other = create(DataList{tracked.get()});
    Properties speed;
    speed.setParam("Speed Factor", 2.0);
    speed.setParam("Delay Start", true);
    other->configure(&speed);
    other->compute();
    EXPECT_NEAR(other->imageStream()->speedFactor().value_or(0), 2.0, 1e-9);
    EXPECT_NEAR(other->imageStream()->fps().value_or(0), 100.0, 1e-9);
}

TEST(PlaybackAlgorithmTest, SequencesAlonePlayOnTheirOwnTimerAndNothingIsRefused)
{
    auto sequence = makeSequence("probe", {0.0, 0.01, 0.02});
    auto algorithm = create(DataList{sequence.get()});
    ASSERT_TRUE(algorithm);
    algorithm->setLoop(false);
    algorithm->delayStart.setValue(true);
    algorithm->compute();
    ASSERT_EQ(algorithm->status(), Algorithm::Status::Success);
    EXPECT_EQ(algorithm->streamGroup(), nullptr);
    EXPECT_EQ(algorithm->imageStream(), nullptr);
    ASSERT_NE(algorithm->trackingStream(), nullptr);
    EXPECT_EQ(algorithm->stream(), algorithm->trackingStream());
    EXPECT_EQ(algorithm->trackingStream()->name(), "probe") << "named after its sequence";
    // Sequences of one recorded stream share its name; their instruments tell them apart.
    for (const char* instrument : {"Pointer", "Probe"}) {
        auto recorded = makeSequence("x", {0.0, 0.01});
        recorded->setName("tracker recording");
        recorded->setTrackerId(TrackerID(std::string("id-") + instrument, instrument));
        auto player = create(DataList{recorded.get()});
        ASSERT_TRUE(player);
        player->delayStart.setValue(true);
        player->compute();
        ASSERT_NE(player->trackingStream(), nullptr);
        EXPECT_EQ(player->trackingStream()->name(), std::string("tracker recording ") + instrument);
    }
    Watcher watcher(*algorithm->trackingStream());
    ASSERT_TRUE(algorithm->stream()->start());
    ASSERT_TRUE(watcher.waitForEnded());
    EXPECT_EQ(watcher.records().size(), 3u);

    Log::ScopedCapture capture;
    PlaybackAlgorithm empty(nullptr, {});
    empty.compute();
    EXPECT_EQ(empty.status(), Algorithm::Status::InvalidInput);
    EXPECT_EQ(capture->count(Log::Level::Error, "Stream.PlaybackAlgorithm", "No tracking sequence."), 1u);
    EXPECT_EQ(empty.stream(), nullptr);
}
