#include "Stream/Recording/PlaybackImageStream.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "Host/Core/Log.h"
#include "Host/Core/StringUtils.h"
#include "Host/Core/TimestampDataComponent.h"
#include "Stream/Recording/PlaybackTestData.h"
#include "Support/TestUtil.h"

using namespace Corvexis;
using namespace Corvexis::PlaybackTest;
using State = Stream::State;

namespace {

constexpr const char* kCategory = "Stream.PlaybackStreamBase";

void expectSchedule(const std::vector<double>& actual, const std::vector<double>& expected)
{
    ASSERT_EQ(actual.size(), expected.size());
    for (size_t i = 0; i < actual.size(); ++i)
        EXPECT_NEAR(actual[i], expected[i], 1e-9) << "frame " << i;
}

}  // namespace

TEST(PlaybackImageStreamTest, EquidistantTimestampsPlayAtTheDerivedRateAndTieSpeedToRate)
{
    auto set = makeSet(4, {0.0, 100.0, 200.0, 300.0});
    PlaybackImageStream stream(*set);
    EXPECT_EQ(stream.timestampsValidity(), TimestampsValidity::ValidEquidistant);
    ASSERT_TRUE(stream.calculatedInitialFps());
    EXPECT_NEAR(*stream.calculatedInitialFps(), 10.0, 1e-9);
    EXPECT_NEAR(stream.fps().value_or(0), 10.0, 1e-9);
    EXPECT_EQ(stream.speedFactor(), 1.0);
    EXPECT_TRUE(stream.isPlayingByFps());
    expectSchedule(stream.calculateTimestampsForStreaming(), {0.0, 0.1, 0.2, 0.3});

    ASSERT_TRUE(stream.setFps(20));
    EXPECT_NEAR(stream.speedFactor().value_or(0), 2.0, 1e-9);
    expectSchedule(stream.calculateTimestampsForStreaming(), {0.0, 0.05, 0.1, 0.15});

    ASSERT_TRUE(stream.setSpeedFactor(0.5));
    EXPECT_FALSE(stream.isPlayingByFps());
    EXPECT_NEAR(stream.fps().value_or(0), 5.0, 1e-9);
    expectSchedule(stream.calculateTimestampsForStreaming(), {0.0, 0.2, 0.4, 0.6});
}

TEST(PlaybackImageStreamTest, IrregularTimestampsPlayTheRecordedTimesDividedBySpeed)
{
    // Differences 0.1 and 0.15: the largest is above 1.05 x the mean 0.125.
    auto set = makeSet(3, {1000.0, 1100.0, 1250.0});
    PlaybackImageStream stream(*set);
    EXPECT_EQ(stream.timestampsValidity(), TimestampsValidity::NotEquidistant);
    EXPECT_FALSE(stream.fps());
    EXPECT_FALSE(stream.calculatedInitialFps());
    EXPECT_EQ(stream.speedFactor(), 1.0);
    expectSchedule(stream.calculateTimestampsForStreaming(), {1.0, 1.1, 1.25});

    ASSERT_TRUE(stream.setSpeedFactor(2.0));
    EXPECT_FALSE(stream.fps()) << "no rate is tied to irregular timestamps";
    expectSchedule(stream.calculateTimestampsForStreaming(), {0.5, 0.55, 0.625});

    // A frame rate replaces the recorded times, starting at the first one.
    ASSERT_TRUE(stream.setFps(4));
    EXPECT_FALSE(stream.speedFactor());
    expectSchedule(stream.calculateTimestampsForStreaming(), {1.0, 1.25, 1.5});
}

TEST(PlaybackImageStreamTest, TimestampClassificationBoundaries)
{
    using Base = PlaybackStreamBase<PlaybackImageStream>;
    std::optional<double> derived;
    EXPECT_EQ(Base::analyseTimestamps(std::nullopt, &derived), TimestampsValidity::None);
    EXPECT_EQ(Base::analyseTimestamps(std::vector<double>{0.5}, &derived),
              TimestampsValidity::NotEquidistant);
    EXPECT_EQ(Base::analyseTimestamps(std::vector<double>{0.0, 0.1, 0.1, 0.2}, &derived),
              TimestampsValidity::NotEquidistant)
        << "a repeated time is not an interval";
    EXPECT_EQ(Base::analyseTimestamps(std::vector<double>{0.0, 0.2, 0.1}, &derived),
              TimestampsValidity::NotEquidistant);
    // Exactly at the 5 % bounds: intervals 0.95 and 1.05 around the mean 1.0.
    EXPECT_EQ(Base::analyseTimestamps(std::vector<double>{0.0, 0.95, 2.0}, &derived),
              TimestampsValidity::ValidEquidistant);
    EXPECT_NEAR(derived.value_or(0), 1.0, 1e-12);
    EXPECT_EQ(Base::analyseTimestamps(std::vector<double>{0.0, 0.9, 2.0}, &derived),
              TimestampsValidity::NotEquidistant);
    EXPECT_FALSE(derived);
}

TEST(PlaybackImageStreamTest, WithoutTimestampsItPlaysAtThirtyHertzAndRefusesSpeed)
{
    Log::ScopedCapture capture;
    auto set = makeSet(3);
    PlaybackImageStream stream(*set);
    EXPECT_EQ(stream.timestampsValidity(), TimestampsValidity::None);
    EXPECT_EQ(capture->count(
                  Log::Level::Warning, kCategory,
                  "Timestamps are invalid. Assuming initial rate of " + String::fromDouble(30.0) + " Hz"),
              1u);
    EXPECT_EQ(stream.fps(), 30.0);
    expectSchedule(stream.calculateTimestampsForStreaming(), {0.0, 1.0 / 30, 2.0 / 30});

    EXPECT_FALSE(stream.setSpeedFactor(2.0));
    EXPECT_EQ(capture->count(
                  Log::Level::Warning, kCategory,
                  "Speed factor is inactive because there are no timestamps or the timestamps are invalid."),
              1u);
    EXPECT_EQ(stream.fps(), 30.0);
    EXPECT_FALSE(stream.speedFactor());

    // Rates below 0.001 are refused with the same message for both settings; nothing changes.
    EXPECT_FALSE(stream.setFps(0.0));
    EXPECT_FALSE(stream.setFps(0.0009));
    EXPECT_FALSE(stream.setFps(-5));
    EXPECT_EQ(capture->count(Log::Level::Warning, kCategory, "Speed factor has to be greater than zero."),
              3u);
    EXPECT_EQ(stream.fps(), 30.0);
    EXPECT_TRUE(stream.setFps(0.001));
}

TEST(PlaybackImageStreamTest, PlaysEveryFrameWithItsTimesAndReturnsToOpenAtTheEnd)
{
    // Times with fractions of a millisecond round to the nearest.
    auto set = makeSet(4, {5000.4, 5010.6, 5020.0, 5030.5});
    set->elementwiseComponents()[2].add(std::make_unique<TimestampDataComponent>(77, 88));
    PlaybackImageStream stream(*set);
    stream.setLoop(false);
    Watcher watcher(stream);
    ASSERT_TRUE(stream.start());
    ASSERT_TRUE(watcher.waitForEnded());
    ASSERT_TRUE(Corvexis::Test::waitUntil([&] { return stream.currentState() == State::Open; }));

    const auto records = watcher.records();
    ASSERT_EQ(records.size(), 4u);
    const std::vector<std::uint64_t> device = {5000, 5011, 5020, 5031};
    for (size_t i = 0; i < records.size(); ++i) {
        EXPECT_EQ(framePixel(*records[i]), 10 + static_cast<int>(i));
        EXPECT_EQ(records[i]->timestampDevice(), device[i]);
        EXPECT_GT(records[i]->timestampArrival(), 1'600'000'000'000u) << "arrival is the system clock";
        EXPECT_EQ(records[i]->stream(), &stream);
    }
    // The frame's own components travel with it.
    const auto& third = dynamic_cast<const ImageStreamData&>(*records[2]);
    ASSERT_EQ(third.elementwiseComponents().size(), 1u);
    const auto* stamp = third.elementwiseComponents()[0].get<TimestampDataComponent>();
    ASSERT_NE(stamp, nullptr);
    EXPECT_EQ(stamp->timestampDevice(), 77u);
    EXPECT_EQ(stream.playbackFocus(), 0);

    // The next start plays from the beginning.
    watcher.clear();
    ASSERT_TRUE(stream.start());
    ASSERT_TRUE(watcher.waitForEnded());
    ASSERT_GE(watcher.records().size(), 1u);
    EXPECT_EQ(framePixel(*watcher.records().front()), 10);
}

TEST(PlaybackImageStreamTest, LoopingRoundsEmitEveryFrameOnceInOrder)
{
    auto set = makeSet(5, {0, 10, 20, 30, 40});
    PlaybackImageStream stream(*set);
    ASSERT_TRUE(stream.loop());
    ASSERT_TRUE(stream.setFps(250));
    Watcher watcher(stream);
    ASSERT_TRUE(stream.start());
    ASSERT_TRUE(watcher.waitForRecords(5 * 4 + 2));
    ASSERT_TRUE(stream.stop());
    const auto records = watcher.records();
    for (size_t k = 0; k < records.size(); ++k)
        ASSERT_EQ(framePixel(*records[k]), 10 + static_cast<int>(k % 5)) << "emission " << k;
    EXPECT_EQ(watcher.endedCount(), 0);
}

TEST(PlaybackImageStreamTest, ChangingTheRateOfARunningStreamRestartsIt)
{
    auto set = makeSet(3, {0, 100, 200});
    PlaybackImageStream stream(*set);
    ASSERT_TRUE(stream.start());
    Watcher watcher(stream);
    ASSERT_TRUE(stream.setFps(50));
    EXPECT_EQ(stream.currentState(), State::Running);
    EXPECT_EQ(watcher.states(),
              (std::vector<State>{State::Stopping, State::Open, State::Starting, State::Running}));
    EXPECT_NEAR(stream.speedFactor().value_or(0), 5.0, 1e-9);

    // A refused change leaves the stream running without a restart.
    watcher.clear();
    EXPECT_FALSE(stream.setSpeedFactor(0));
    EXPECT_TRUE(watcher.states().empty());
    ASSERT_TRUE(stream.close());
}

TEST(PlaybackImageStreamTest, PauseHoldsThePositionAndResumeContinuesWithoutRepeating)
{
    auto set = makeSet(6, {0, 10, 20, 30, 40, 50});
    PlaybackImageStream stream(*set);
    stream.setLoop(false);
    EXPECT_TRUE(stream.supportsPausing());
    Watcher watcher(stream);
    ASSERT_TRUE(stream.start());
    ASSERT_TRUE(watcher.waitForRecords(2));
    ASSERT_TRUE(stream.pause());
    const size_t atPause = watcher.records().size();
    ASSERT_TRUE(stream.resume());
    ASSERT_TRUE(watcher.waitForEnded());
    const auto records = watcher.records();
    ASSERT_EQ(records.size(), 6u) << "paused after " << atPause;
    for (size_t k = 0; k < records.size(); ++k)
        EXPECT_EQ(framePixel(*records[k]), 10 + static_cast<int>(k));
}

TEST(PlaybackImageStreamTest, JumpToFocusAndResetChooseWherePlayOutBegins)
{
    auto set = makeSet(5, {0, 10, 20, 30, 40});
    PlaybackImageStream stream(*set);
    stream.setLoop(false);
    stream.jumpToFocus(3);
    EXPECT_EQ(stream.playbackFocus(), 3);
    stream.jumpToFocus(99);
    EXPECT_EQ(stream.playbackFocus(), 4) << "clamped to the last frame";
    stream.jumpToFocus(3);
    Watcher watcher(stream);
    ASSERT_TRUE(stream.start());
    ASSERT_TRUE(watcher.waitForEnded());
    const auto records = watcher.records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(framePixel(*records[0]), 13);

    // reset is refused while running and otherwise moves back to frame 0 and Open.
    stream.setLoop(true);
    stream.jumpToFocus(2);
    ASSERT_TRUE(stream.start());
    EXPECT_FALSE(stream.reset());
    ASSERT_TRUE(stream.stop());
    EXPECT_TRUE(stream.reset());
    EXPECT_EQ(stream.playbackFocus(), 0);
    EXPECT_EQ(stream.currentState(), State::Open);
}

TEST(PlaybackImageStreamTest, TopDownAndNameComeFromTheSet)
{
    auto set = makeSet(1, {0});
    set->properties().setParam("topDown", false);
    PlaybackImageStream stream(*set);
    EXPECT_FALSE(stream.topDown());
    EXPECT_EQ(stream.name(), "recording");
    EXPECT_EQ(&stream.data(), set.get());
    PlaybackImageStream named(*set, "other");
    EXPECT_EQ(named.name(), "other");
}
