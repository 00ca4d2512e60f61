#include "Stream/Processing/LiveStreamProcessingAlgorithm.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "Host/Core/TrackingSequence.h"
#include "Host/Lib/TrackedSharedImageSet.h"
#include "Stream/Framework/InstrumentCalibrationDataComponent.h"
#include "Stream/Framework/TestImageStreams.h"
#include "Stream/Framework/TrackingStreamData.h"
#include "Support/TestUtil.h"

namespace Corvexis {
namespace {

using Test::ManualImageStream;
using Test::waitUntil;

const ImageDescriptor kFrame(ImageDescriptor::kUByte, 4, 4);

// A derived algorithm that exposes the live data and counts its processing calls; it asks to be
// called again while `repeats` is positive.
class ProbeAlgorithm : public LiveStreamProcessingAlgorithm
{
public:
    ProbeAlgorithm(std::vector<Stream*> inputs, bool thread)
        : LiveStreamProcessingAlgorithm(std::move(inputs), thread, false, Deferred{})
    {
        activate();
    }
    ~ProbeAlgorithm() override { deactivate(); }

    using LiveStreamProcessingAlgorithm::liveContainer;

    // The live sequence of the tracker named `name`; fails the test when there is none.
    const TrackingSequence& liveSequence(const std::string& name) const
    {
        const TrackedSharedImageSet* live = liveContainer();
        for (int i = 0; live != nullptr && i < live->numTracking(); ++i) {
            if (live->tracking(i)->trackerId().name() == name)
                return *live->tracking(i);
        }
        ADD_FAILURE() << "no live sequence for " << name;
        static const TrackingSequence none;
        return none;
    }

    std::atomic<int> repeats{0};

protected:
    bool backgroundThreadProcessData() override { return repeats.fetch_sub(1) > 0; }
};

void emitTracking(Stream& stream, const std::string& name, double quality, std::uint64_t ms,
                  bool fromStream = false)
{
    TrackingInstrument instrument(TrackerID(name + "-id", name));
    instrument.quality = quality;
    instrument.matrix(0, 3) = static_cast<double>(ms);
    auto record = std::make_shared<TrackingStreamData>(fromStream ? &stream : nullptr,
                                                       std::vector<TrackingInstrument>{instrument});
    record->setTimestampArrival(ms);
    record->setTimestampDevice(ms + 500);
    stream.signalStreamData.emitSignal(record);
}

TEST(LiveStreamProcessingAlgorithmTest, ImageBufferKeepsTheNewestUpToItsLimitOnLongRuns)
{
    ManualImageStream input;
    ProbeAlgorithm algorithm({&input}, false);
    algorithm.imageBufferSize = 10;
    for (int i = 1; i <= 15; ++i)
        input.emitFrame(kFrame, static_cast<std::uint8_t>(i), static_cast<std::uint64_t>(i) * 1000);
    EXPECT_EQ(algorithm.bufferedImageCount(), 10);
    algorithm.moveBufferedDataToLiveContainer();
    SharedImageSet* live = algorithm.liveContainer();
    ASSERT_NE(live, nullptr);
    ASSERT_EQ(live->size(), 10);
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(live->timestamp(i), (6.0 + i) * 1000.0);  // milliseconds, the oldest five gone
    EXPECT_EQ(live->selection().size(), 10u);
    EXPECT_EQ(live->focus(), 9);
    EXPECT_EQ(algorithm.bufferedImageCount(), 0);

    // A long run with records of two images never holds more than the limit.
    algorithm.imageBufferSize = 7;
    int most = 0;
    for (int i = 0; i < 1000; ++i) {
        input.emitImages({ManualImageStream::makeImage(kFrame), ManualImageStream::makeImage(kFrame)});
        most = std::max(most, algorithm.bufferedImageCount());
    }
    EXPECT_EQ(most, 7);
    EXPECT_EQ(algorithm.bufferedImageCount(), 7);
}

TEST(LiveStreamProcessingAlgorithmTest, TrackingBufferIsBoundedPerTracker)
{
    ManualImageStream input;
    ProbeAlgorithm algorithm({&input}, false);
    algorithm.trackingBufferSize = 100;
    int most = 0;
    for (std::uint64_t i = 1; i <= 250; ++i) {
        emitTracking(input, "probe", 1.0, i);
        if (i % 2 == 0)
            emitTracking(input, "pointer", 1.0, i);
        most = std::max(most, algorithm.bufferedSampleCount("probe"));
    }
    EXPECT_EQ(most, 100);
    EXPECT_EQ(algorithm.bufferedSampleCount("pointer"), 100);
    algorithm.moveBufferedDataToLiveContainer();
    const TrackingSequence& probe = algorithm.liveSequence("probe");
    ASSERT_EQ(probe.size(), 100);
    EXPECT_DOUBLE_EQ(probe.timestamp(0), 0.151);  // samples 151..250 remain
    EXPECT_DOUBLE_EQ(probe.rawMatrix(99)(0, 3), 250.0);
    EXPECT_EQ(probe.trackerId().ID(), "probe-id");
    EXPECT_EQ(algorithm.liveSequence("pointer").size(), 100);
    EXPECT_EQ(algorithm.liveContainer()->numTracking(), 2);
}

TEST(LiveStreamProcessingAlgorithmTest, QualityThresholdKeepsSamplesAtExactlyTheThreshold)
{
    ManualImageStream input;
    ProbeAlgorithm algorithm({&input}, false);
    ASSERT_DOUBLE_EQ(algorithm.qualityThreshold.value(), 0.2);
    emitTracking(input, "a", 0.1, 1);
    emitTracking(input, "b", 0.19999, 2);
    emitTracking(input, "c", 0.2, 3);
    EXPECT_EQ(algorithm.bufferedSampleCount("a"), 0);
    EXPECT_EQ(algorithm.bufferedSampleCount("b"), 0);
    EXPECT_EQ(algorithm.bufferedSampleCount("c"), 1);
}

TEST(LiveStreamProcessingAlgorithmTest, TimestampsComeFromTheChosenClockInSeconds)
{
    ManualImageStream input;
    ProbeAlgorithm algorithm({&input}, false);
    TrackingStreamData record(nullptr, {});
    record.setTimestampArrival(1500);
    record.setTimestampDevice(2750);
    EXPECT_DOUBLE_EQ(algorithm.extractTimestamp(&record), 1.5);
    EXPECT_DOUBLE_EQ(algorithm.extractTimestamp(nullptr), 0.0);
    algorithm.useDeviceTimestamps = true;
    EXPECT_DOUBLE_EQ(algorithm.extractTimestamp(&record), 2.75);
    emitTracking(input, "probe", 1.0, 4000);
    algorithm.moveBufferedDataToLiveContainer();
    EXPECT_DOUBLE_EQ(algorithm.liveSequence("probe").timestamp(0), 4.5);
}

// The stream's calibration of an instrument goes with its samples: the sequence gives calibrated poses
// and carries the calibration (temporal offset included), through the hand-over buffer as well.
TEST(LiveStreamProcessingAlgorithmTest, InstrumentCalibrationsOfTheStreamTravelWithTheSamples)
{
    for (const bool thread : {false, true}) {
        ManualImageStream input;
        Eigen::Matrix4d spatial = Eigen::Matrix4d::Identity();
        spatial(2, 3) = 7.0;
        input.components().emplace<InstrumentCalibrationDataComponent>().setCalibration("probe-id", spatial,
                                                                                        12.5);
        ProbeAlgorithm algorithm({&input}, thread);
        emitTracking(input, "probe", 1.0, 1000, true);
        emitTracking(input, "pointer", 1.0, 1000, true);  // no calibration for this one
        if (thread) {
            input.emitFrame(kFrame);
            ASSERT_TRUE(waitUntil([&] { return algorithm.processingCalls() >= 1; }));
        }
        algorithm.moveBufferedDataToLiveContainer();
        const TrackingSequence& probe = algorithm.liveSequence("probe");
        ASSERT_EQ(probe.size(), 1) << thread;
        EXPECT_EQ(probe.calibration(), spatial) << thread;
        EXPECT_DOUBLE_EQ(probe.rawMatrix(0)(0, 3), 1000.0);
        EXPECT_DOUBLE_EQ(probe.matrix(0)(2, 3), 7.0) << "the pose is calibrated";
        const auto* carried = probe.components().get<InstrumentCalibrationDataComponent>();
        ASSERT_NE(carried, nullptr) << thread;
        ASSERT_TRUE(carried->calibration("probe-id"));
        EXPECT_DOUBLE_EQ(carried->calibration("probe-id")->temporal, 12.5);
        EXPECT_EQ(carried->calibrations().size(), 1u);

        const TrackingSequence& pointer = algorithm.liveSequence("pointer");
        EXPECT_TRUE(pointer.calibration().isIdentity());
        EXPECT_EQ(pointer.components().get<InstrumentCalibrationDataComponent>(), nullptr);

        // A changed calibration reaches the next sample's sequence.
        spatial(2, 3) = -3.0;
        input.components().get<InstrumentCalibrationDataComponent>()->setCalibration("probe-id", spatial,
                                                                                     0.0);
        emitTracking(input, "probe", 1.0, 2000, true);
        if (thread) {
            input.emitFrame(kFrame);
            ASSERT_TRUE(waitUntil([&] { return algorithm.processingCalls() >= 2; }));
        }
        algorithm.moveBufferedDataToLiveContainer();
        const TrackingSequence& again = algorithm.liveSequence("probe");
        EXPECT_EQ(again.size(), 2);
        EXPECT_DOUBLE_EQ(again.matrix(1)(2, 3), -3.0);
        EXPECT_DOUBLE_EQ(
            again.components().get<InstrumentCalibrationDataComponent>()->calibration("probe-id")->temporal,
            0.0);
    }
}

// Trackers keep their sequence (and place) across moves; a new live container gets every known
// tracker, empty where nothing new arrived.
TEST(LiveStreamProcessingAlgorithmTest, LiveContainerIsATrackedImageSetWithOneSequencePerTracker)
{
    ManualImageStream input;
    ProbeAlgorithm algorithm({&input}, false);
    input.emitFrame(kFrame, 1, 1000);
    emitTracking(input, "probe", 1.0, 1000);
    emitTracking(input, "pointer", 1.0, 1000);
    algorithm.moveBufferedDataToLiveContainer();
    TrackedSharedImageSet* live = algorithm.liveContainer();
    ASSERT_EQ(live->size(), 1);
    ASSERT_EQ(live->numTracking(), 2);
    EXPECT_EQ(live->tracking(0)->trackerId().name(), "probe");
    EXPECT_EQ(live->tracking(1)->trackerId().name(), "pointer");
    EXPECT_DOUBLE_EQ(live->frameMatrix(0)(0, 3), 1000.0);  // the frame is placed by the first tracker

    emitTracking(input, "pointer", 1.0, 2000);
    OwningDataList first = algorithm.takeOutput();
    ASSERT_EQ(first.size(), 1u);
    algorithm.moveBufferedDataToLiveContainer();
    live = algorithm.liveContainer();
    ASSERT_EQ(live->numTracking(), 2);
    EXPECT_EQ(live->tracking(0)->size(), 0);
    EXPECT_EQ(live->tracking(1)->size(), 1);
    EXPECT_DOUBLE_EQ(live->tracking(1)->timestamp(0), 2.0);

    TrackedSharedImageSet target;
    target.addTracking(std::make_unique<TrackingSequence>());
    LiveStreamProcessingAlgorithm::ensureSufficientTracking(*live, target);
    ASSERT_EQ(target.numTracking(), 2);
    EXPECT_EQ(target.tracking(1)->trackerId().ID(), "pointer-id");
    EXPECT_TRUE(target.tracking(1)->empty());
}

TEST(LiveStreamProcessingAlgorithmTest, OutputIsTheLiveContainerOnlyOnceItExists)
{
    ManualImageStream input;
    ProbeAlgorithm algorithm({&input}, false);
    EXPECT_TRUE(algorithm.takeOutput().empty());
    algorithm.createLiveContainer();
    OwningDataList out = algorithm.takeOutput();
    ASSERT_EQ(out.size(), 1u);
    auto* container = dynamic_cast<TrackedSharedImageSet*>(out[0]);
    ASSERT_NE(container, nullptr);
    EXPECT_EQ(container->size(), 0);
    EXPECT_TRUE(container->useTimestamps());
    EXPECT_TRUE(algorithm.takeOutput().empty());
}

TEST(LiveStreamProcessingAlgorithmTest, WithoutAThreadNewImagesSignalTheOutput)
{
    ManualImageStream input;
    ProbeAlgorithm algorithm({&input}, false);
    int signals = 0;
    auto connection = algorithm.signalOutputChanged.connect([&] { ++signals; });
    input.emitFrame(kFrame);
    emitTracking(input, "probe", 1.0, 1);
    EXPECT_EQ(signals, 1);
    connection.disconnect();
}

// The processing thread works once per arrival and sleeps in between: its call count stays put and
// it uses (almost) no processor time while nothing arrives.
TEST(LiveStreamProcessingAlgorithmTest, ProcessingThreadSleepsUntilImagesArrive)
{
    ManualImageStream input;
    ProbeAlgorithm algorithm({&input}, true);
    EXPECT_EQ(algorithm.processingCalls(), 0u);
    input.emitFrame(kFrame);
    ASSERT_TRUE(waitUntil([&] { return algorithm.processingCalls() == 1; }));

    const auto cpuBefore = algorithm.processingThreadCpuTime();
    const auto wallBefore = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the idle period being measured
    const auto wall = std::chrono::steady_clock::now() - wallBefore;
    const auto cpu = algorithm.processingThreadCpuTime() - cpuBefore;
    EXPECT_EQ(algorithm.processingCalls(), 1u);
    EXPECT_LT(cpu * 10, wall) << "the idle processing thread used " << cpu.count() << " ns of CPU";

    // Tracking alone does not wake it; images do. A true result is followed by another call at once.
    emitTracking(input, "probe", 1.0, 1);
    algorithm.repeats = 2;
    input.emitFrame(kFrame);
    ASSERT_TRUE(waitUntil([&] { return algorithm.processingCalls() == 4; }));
}

TEST(LiveStreamProcessingAlgorithmTest, HandOverBufferDrainsWithAThreadAndStaysBounded)
{
    ManualImageStream input;
    ProbeAlgorithm algorithm({&input}, true);
    algorithm.imageBufferSize = 3;
    for (int i = 1; i <= 8; ++i) {
        input.emitFrame(kFrame, static_cast<std::uint8_t>(i), static_cast<std::uint64_t>(i));
        ASSERT_TRUE(waitUntil([&] { return algorithm.bufferedImageCount() == 0; }));
    }
    // The thread moved every frame on; the hand-over buffer kept the three newest.
    ASSERT_TRUE(waitUntil([&] { return algorithm.processingCalls() >= 8; }));
    algorithm.moveBufferedDataToLiveContainer();
    SharedImageSet* live = algorithm.liveContainer();
    ASSERT_EQ(live->size(), 3);
    EXPECT_EQ(live->timestamp(0), 6.0);
    EXPECT_EQ(live->timestamp(2), 8.0);
}

}  // namespace
}  // namespace Corvexis
