#include "Stream/Recording/PlaybackTrackingStream.h"

#include <gtest/gtest.h>

#include <cmath>

#include "Host/Core/Log.h"
#include "Stream/Recording/PlaybackImageStream.h"
#include "Stream/Recording/PlaybackTestData.h"
#include "Support/TestUtil.h"

using namespace Corvexis;
using namespace Corvexis::PlaybackTest;
using State = Stream::State;

namespace {

const TrackingStreamData& tracking(const std::shared_ptr<const StreamData>& d)
{
    return dynamic_cast<const TrackingStreamData&>(*d);
}

void expectPose(const Eigen::Matrix4d& actual, const Eigen::Matrix4d& expected, const std::string& what)
{
    EXPECT_TRUE(actual.isApprox(expected, 1e-9)) << what << "\n" << actual << "\nexpected\n" << expected;
}

}  // namespace

TEST(PlaybackTrackingStreamTest, OwnTimerPlaysEverySampleThenStopsItself)
{
    auto first = makeSequence("probe", {2.0, 2.01, 2.02, 2.03});
    auto second = makeSequence("needle", {2.0, 2.01, 2.02, 2.03});
    PlaybackTrackingStream stream({first.get(), second.get()}, nullptr);
    EXPECT_EQ(stream.name(), "Simulated Tracking");
    EXPECT_EQ(stream.timestampsValidity(), TimestampsValidity::ValidEquidistant);
    EXPECT_NEAR(stream.calculatedInitialFps().value_or(0), 100.0, 1e-6);
    EXPECT_FALSE(stream.supportsInstrumentRenaming());
    stream.setLoop(false);
    Watcher watcher(stream);
    ASSERT_TRUE(stream.start());
    ASSERT_TRUE(watcher.waitForEnded());
    ASSERT_TRUE(Corvexis::Test::waitUntil([&] { return stream.currentState() == State::Open; }))
        << "the stream stops itself after the last sample";

    const auto records = watcher.records();
    ASSERT_EQ(records.size(), 4u);
    for (size_t i = 0; i < records.size(); ++i) {
        const auto& r = tracking(records[i]);
        EXPECT_EQ(r.timestampDevice(), 2000u + 10u * i);
        const auto probe = r.instrument("probe");
        const auto needle = r.instrument("needle");
        ASSERT_TRUE(probe && needle);
        expectPose(probe->matrix, first->matrix(static_cast<int>(i)), "probe sample " + std::to_string(i));
        EXPECT_DOUBLE_EQ(probe->quality, first->quality(static_cast<int>(i)));
        EXPECT_EQ(probe->status, static_cast<int>(i));
        EXPECT_EQ(probe->id.name(), "probe name");
    }
}

TEST(PlaybackTrackingStreamTest, SynchronisedModeEmitsOneInterpolatedRecordPerImage)
{
    // Images every 20 ms; tracking samples every 15 ms, so most images fall between two samples.
    auto set = makeSet(6, {1000, 1020, 1040, 1060, 1080, 1100});
    auto sequence = makeSequence("probe", {0.990, 1.005, 1.020, 1.035, 1.050, 1.065, 1.080, 1.095, 1.110});
    PlaybackImageStream images(*set);
    images.setLoop(false);
    PlaybackTrackingStream stream({sequence.get()}, &images);
    EXPECT_EQ(stream.parentStream(), &images);
    ASSERT_TRUE(stream.start());
    Watcher imageWatcher(images);
    Watcher trackingWatcher(stream);
    ASSERT_TRUE(images.start());
    ASSERT_TRUE(imageWatcher.waitForEnded());

    const auto imageRecords = imageWatcher.records();
    const auto trackingRecords = trackingWatcher.records();
    ASSERT_EQ(imageRecords.size(), 6u);
    ASSERT_EQ(trackingRecords.size(), imageRecords.size()) << "exactly one tracking record per image";
    for (size_t i = 0; i < imageRecords.size(); ++i) {
        const auto& r = tracking(trackingRecords[i]);
        EXPECT_EQ(r.timestampDevice(), imageRecords[i]->timestampDevice());
        EXPECT_EQ(r.timestampArrival(), imageRecords[i]->timestampArrival());
        const double t = static_cast<double>(imageRecords[i]->timestampDevice()) / 1000.0;
        const auto probe = r.instrument("probe");
        ASSERT_TRUE(probe);
        expectPose(probe->matrix, sequence->matrixAt(t), "image " + std::to_string(i));
        EXPECT_NEAR(probe->quality, sequence->qualityAt(t), 1e-12);
    }
    EXPECT_FALSE(sequence->matrixAt(1.040).isApprox(sequence->matrix(3), 1e-6))
        << "the data must make interpolation visible";
    ASSERT_TRUE(stream.close());
}

TEST(PlaybackTrackingStreamTest, SynchronisedModeCanFollowTheImageIndexInstead)
{
    auto set = makeSet(3, {0, 50, 100});
    auto sequence = makeSequence("probe", {7.0, 8.0, 9.0});
    PlaybackImageStream images(*set);
    images.setLoop(false);
    PlaybackTrackingStream stream({sequence.get()}, &images);
    stream.setIgnoreTimestampsInSyncMode(true);
    ASSERT_TRUE(stream.open());
    Watcher trackingWatcher(stream);
    Watcher imageWatcher(images);
    ASSERT_TRUE(images.start());
    ASSERT_TRUE(imageWatcher.waitForEnded());
    const auto records = trackingWatcher.records();
    ASSERT_EQ(records.size(), 3u);
    for (size_t i = 0; i < records.size(); ++i)
        expectPose(tracking(records[i]).instrument("probe")->matrix, sequence->matrix(static_cast<int>(i)),
                   "image " + std::to_string(i));
}

TEST(PlaybackTrackingStreamTest, SynchronisedRecordsFollowTheParentWhateverTheOwnState)
{
    // A group closes its members one after the other; images played meanwhile still get their poses.
    auto set = makeSet(2, {0, 10});
    auto sequence = makeSequence("probe", {0.0, 0.01});
    PlaybackImageStream images(*set);
    images.setLoop(false);
    PlaybackTrackingStream stream({sequence.get()}, &images);
    Watcher trackingWatcher(stream);
    Watcher imageWatcher(images);
    ASSERT_TRUE(images.start());
    ASSERT_TRUE(imageWatcher.waitForEnded());
    EXPECT_EQ(stream.currentState(), State::Closed);
    EXPECT_EQ(trackingWatcher.records().size(), imageWatcher.records().size());
}

TEST(PlaybackTrackingStreamTest, IgnoringCalibrationAndRelativityWorksOnClones)
{
    auto sequence = makeSequence("probe", {0.0, 0.01, 0.02});
    Eigen::Matrix4d calibration = Eigen::Matrix4d::Identity();
    calibration(0, 3) = 42.0;
    sequence->setCalibration(calibration);
    Eigen::Matrix4d reference = Eigen::Matrix4d::Identity();
    reference(1, 3) = -7.0;
    sequence->setRelativeTracking(true, reference);
    PlaybackTrackingStream stream({sequence.get()}, nullptr);
    EXPECT_EQ(stream.playbackTrackingSequence(0), sequence.get());
    EXPECT_EQ(stream.playbackTrackingSequence(1), nullptr);

    stream.setIgnoreCalibration(true);
    TrackingSequence* played = stream.playbackTrackingSequence(0);
    ASSERT_NE(played, sequence.get());
    EXPECT_TRUE(played->calibration().isIdentity());
    EXPECT_TRUE(played->relativeTracking());
    EXPECT_EQ(sequence->calibration(), calibration) << "the given sequence stays untouched";

    stream.setIgnoreRelativity(true);
    played = stream.playbackTrackingSequence(0);
    EXPECT_FALSE(played->relativeTracking());
    EXPECT_TRUE(sequence->relativeTracking());

    // What is emitted is the raw pose now.
    Watcher watcher(stream);
    stream.sendTrackingData(1, 2, 1, true);
    ASSERT_EQ(watcher.records().size(), 1u);
    expectPose(tracking(watcher.records()[0]).instrument("probe")->matrix, sequence->rawMatrix(1),
               "raw sample 1");

    stream.setIgnoreCalibration(false);
    stream.setIgnoreRelativity(false);
    EXPECT_EQ(stream.playbackTrackingSequence(0), sequence.get());
}

TEST(PlaybackTrackingStreamTest, DifferentTimestampsAndDuplicateIdentitiesAreHandled)
{
    Log::ScopedCapture capture;
    auto a = makeSequence("probe", {0.0, 0.01});
    auto b = makeSequence("probe", {0.0, 0.02});
    PlaybackTrackingStream stream({a.get(), nullptr, b.get()}, nullptr);
    EXPECT_EQ(capture->count(Log::Level::Warning, "Stream.PlaybackTrackingStream",
                             "Timestamps between two tracking sequences are different!!"),
              1u);
    EXPECT_EQ(stream.numTrackingSequences(), 2u);
    const auto instruments = stream.instruments();
    ASSERT_EQ(instruments.size(), 2u) << "each sequence keeps an instrument of its own";
    EXPECT_NE(instruments[0].id.ID(), instruments[1].id.ID());
}
