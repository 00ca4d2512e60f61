#include "Stream/Recording/PlaybackStreamGroup.h"

#include <gtest/gtest.h>

#include "Stream/Recording/PlaybackImageStream.h"
#include "Stream/Recording/PlaybackTestData.h"
#include "Stream/Recording/PlaybackTrackingStream.h"
#include "Support/TestUtil.h"

using namespace Corvexis;
using namespace Corvexis::PlaybackTest;
using State = Stream::State;

namespace {

struct GroupFixture : ::testing::Test
{
    GroupFixture()
    {
        auto imageStream = std::make_unique<PlaybackImageStream>(*set);
        auto trackingStream = std::make_unique<PlaybackTrackingStream>(
            std::vector<TrackingSequence*>{sequence.get()}, imageStream.get());
        images = imageStream.get();
        tracking = trackingStream.get();
        images->setLoop(false);
        group = std::make_unique<PlaybackStreamGroup>();
        group->addPlaybackStream(std::move(trackingStream), *tracking);
        group->addPlaybackStream(std::move(imageStream), *images);
    }

    std::unique_ptr<SharedImageSet> set = makeSet(4, {0, 10, 20, 30});
    std::unique_ptr<TrackingSequence> sequence = makeSequence("probe", {0.0, 0.01, 0.02, 0.03});
    PlaybackImageStream* images = nullptr;
    PlaybackTrackingStream* tracking = nullptr;
    std::unique_ptr<PlaybackStreamGroup> group;
};

}  // namespace

TEST_F(GroupFixture, RateAndSpeedOfAnyMemberGoToEveryMember)
{
    EXPECT_EQ(group->members(), (std::vector<Stream*>{tracking, images}));
    EXPECT_EQ(images->playbackGroup(), group.get());
    ASSERT_TRUE(tracking->setFps(50));
    EXPECT_NEAR(images->fps().value_or(0), 50.0, 1e-9);
    EXPECT_NEAR(tracking->fps().value_or(0), 50.0, 1e-9);
    EXPECT_NEAR(images->speedFactor().value_or(0), 0.5, 1e-9);

    ASSERT_TRUE(images->setSpeedFactor(3));
    EXPECT_NEAR(tracking->speedFactor().value_or(0), 3.0, 1e-9);
    EXPECT_NEAR(tracking->fps().value_or(0), 300.0, 1e-6);
    EXPECT_FALSE(images->setFps(0));
    EXPECT_NEAR(images->speedFactor().value_or(0), 3.0, 1e-9);
}

TEST_F(GroupFixture, StartingTheGroupPlaysBothInStepAndTheEndStopsAll)
{
    Watcher imageWatcher(*images);
    Watcher trackingWatcher(*tracking);
    ASSERT_TRUE(group->start());
    EXPECT_EQ(images->currentState(), State::Running);
    EXPECT_EQ(tracking->currentState(), State::Running);
    ASSERT_TRUE(imageWatcher.waitForEnded());
    ASSERT_TRUE(Corvexis::Test::waitUntil([&] {
        return group->currentState() == State::Open && tracking->currentState() == State::Open &&
               images->currentState() == State::Open;
    }));
    EXPECT_EQ(imageWatcher.records().size(), 4u);
    EXPECT_EQ(trackingWatcher.records().size(), 4u);
}

TEST_F(GroupFixture, ARateChangeRestartsTheRunningGroupOnce)
{
    images->setLoop(true);
    ASSERT_TRUE(group->start());
    Watcher groupWatcher(*group);
    Watcher imageWatcher(*images);
    ASSERT_TRUE(images->setFps(200));
    EXPECT_EQ(groupWatcher.states(),
              (std::vector<State>{State::Stopping, State::Open, State::Starting, State::Running}));
    EXPECT_EQ(images->currentState(), State::Running);
    ASSERT_TRUE(imageWatcher.waitForRecords(6));
    ASSERT_TRUE(group->close());
    EXPECT_EQ(images->currentState(), State::Closed);
    EXPECT_EQ(tracking->currentState(), State::Closed);
}
