// Recording and playback together: simulated streams are recorded and saved, the file is loaded and
// played, and the play-out is recorded again. What the second recording holds must equal the first:
// frame count, pixels, device times and poses, with the play-out paced like the original.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "Host/Core/DataList.h"
#include "Host/Core/MemImage.h"
#include "Host/Core/TrackingSequence.h"
#include "Host/Lib/Files/FileCommands.h"
#include "Host/Lib/SharedImage.h"
#include "Host/Lib/SharedImageSet.h"
#include "Host/Lib/TrackedSharedImageSet.h"
#include "Stream/Recording/PlaybackAlgorithm.h"
#include "Stream/Recording/PlaybackImageStream.h"
#include "Stream/Recording/PlaybackTestData.h"
#include "Stream/Recording/PlaybackTrackingStream.h"
#include "Stream/Recording/StreamRecorderAlgorithm.h"
#include "Stream/Simulated/FakeImageStream.h"
#include "Stream/Simulated/FakeTrackingStream.h"

namespace Corvexis {
namespace {

using PlaybackTest::Watcher;
using Mode = StreamRecorderAlgorithm::DataCombinationMode;

// About two seconds of the simulated streams at their 30 frames per second.
constexpr int kFrames = 60;
constexpr auto kDeadline = std::chrono::seconds(60);

struct TempDir
{
    TempDir()
    {
        path = std::filesystem::temp_directory_path() /
               ("roundtrip-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
        std::filesystem::create_directories(path);
    }
    ~TempDir() { std::filesystem::remove_all(path); }
    std::filesystem::path path;
    static inline int counter = 0;
};

// Waits until the recorder holds at least `frames` frames (counts, not time: the machine may be slow).
bool waitForFrames(const StreamRecorderAlgorithm& recorder, int frames)
{
    const auto deadline = std::chrono::steady_clock::now() + kDeadline;
    while (recorder.recordedFrames() < frames) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

double median(std::vector<double> values)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : 0.5 * (values[n / 2 - 1] + values[n / 2]);
}

// Median interval of consecutive times, in the times' unit.
double medianInterval(const std::vector<double>& times)
{
    std::vector<double> intervals;
    for (size_t i = 1; i < times.size(); ++i)
        intervals.push_back(times[i] - times[i - 1]);
    return median(intervals);
}

std::vector<double> frameTimesMs(const SharedImageSet& set)
{
    std::vector<double> times;
    for (int i = 0; i < set.size(); ++i)
        times.push_back(set.timestamp(i).value_or(-1.0));
    return times;
}

std::vector<double> arrivalTimesMs(const Watcher& watcher)
{
    std::vector<double> times;
    for (const auto& record : watcher.records())
        times.push_back(static_cast<double>(record->timestampArrival()));
    return times;
}

// The play-out keeps the recorded pace: the median interval between arrivals equals the recorded one
// within the pacing error (a few milliseconds on a loaded machine, and the arrival times' resolution).
void expectPacedLike(const std::vector<double>& playedMs, const std::vector<double>& recordedMs,
                     const std::string& what)
{
    const double recorded = medianInterval(recordedMs);
    const double played = medianInterval(playedMs);
    EXPECT_GT(recorded, 20.0) << what << ": the simulated streams run at about 30 per second";
    EXPECT_NEAR(played, recorded, std::max(3.0, 0.1 * recorded)) << what;
}

template <typename T>
std::vector<T*> itemsOf(const OwningDataList& list)
{
    std::vector<T*> found;
    for (size_t i = 0; i < list.size(); ++i)
        if (auto* item = dynamic_cast<T*>(list[i]))
            found.push_back(item);
    return found;
}

// Every frame of `played` equals frame i of `recorded` in pixels and device time.
void expectSameFrames(const SharedImageSet& played, const SharedImageSet& recorded)
{
    ASSERT_EQ(played.size(), recorded.size());
    for (int i = 0; i < recorded.size(); ++i) {
        ASSERT_TRUE(played.get(i)->mem()->hasSamePixels(*recorded.get(i)->mem())) << "frame " << i;
        ASSERT_TRUE(played.timestamp(i).has_value()) << "frame " << i;
        EXPECT_EQ(*played.timestamp(i), *recorded.timestamp(i)) << "frame " << i;
    }
}

TEST(RecordingRoundTrip, ImagesAndTrackingPlayBackAsTheyWereRecorded)
{
    TempDir dir;
    FakeImageStream images(64, 48, 1, 1);
    images.setEmittedImageRepresentation(FakeImageStream::EmittedImageRepresentation::MemImage);
    FakeTrackingStream tracking;
    ASSERT_NE(tracking.addDevice(std::make_unique<FakeTrackingStream::SweepDevice>(
                  Eigen::Vector3d(0, 50, 100), Eigen::Vector3d::UnitX(), Eigen::Vector3d::UnitY(), 20.0)),
              "");
    ASSERT_NE(tracking.addDevice(std::make_unique<FakeTrackingStream::OscillatingDevice>(
                  Eigen::Vector3d(0, 0, 100), Eigen::Vector3d::UnitZ(), 3.0)),
              "");

    // Record with the recorder's defaults (arrival times) and save: a tracked set with the first
    // instrument and a sequence of the second.
    OwningDataList original;
    std::string file;
    {
        StreamRecorderAlgorithm recorder({&images, &tracking});
        recorder.setSavePath(dir.path.string());
        recorder.setSaveRecordingsAsync(false);
        recorder.setDataCombinationMode(Mode::FirstTracking);
        recorder.compute();
        ASSERT_EQ(recorder.status(), Algorithm::Status::Success);
        ASSERT_TRUE(images.open() && tracking.open());
        ASSERT_TRUE(images.start() && tracking.start());
        ASSERT_TRUE(waitForFrames(recorder, kFrames));
        recorder.stop();
        images.stop();
        tracking.stop();
        original = recorder.takeOutput();
        ASSERT_EQ(recorder.saveError(), "");
        ASSERT_EQ(recorder.savedFiles().size(), 1u);
        file = recorder.savedFiles().front();
    }
    ASSERT_EQ(original.size(), 2u);

    std::string why;
    auto loaded = Files::loadDataFile(file, &why);
    ASSERT_TRUE(loaded) << why;
    const auto sets = itemsOf<TrackedSharedImageSet>(*loaded);
    const auto sequences = itemsOf<TrackingSequence>(*loaded);
    ASSERT_EQ(sets.size(), 1u);
    ASSERT_EQ(sequences.size(), 1u);
    TrackedSharedImageSet& recordedSet = *sets.front();
    TrackingSequence& recordedSequence = *sequences.front();
    ASSERT_GE(recordedSet.size(), kFrames);
    ASSERT_EQ(recordedSet.numTracking(), 1);
    ASSERT_GE(recordedSequence.size(), kFrames / 2);
    ASSERT_EQ(recordedSet.size(), itemsOf<TrackedSharedImageSet>(original).front()->size());

    // Play the tracked set as a group (tracking synchronised to the images) and the separate sequence
    // on its own timer, once, and record both with the times they carry.
    PlaybackAlgorithm playback(&recordedSet, {});
    playback.delayStart.setValue(true);
    playback.setLoop(false);
    playback.compute();
    ASSERT_EQ(playback.status(), Algorithm::Status::Success);
    ASSERT_NE(playback.streamGroup(), nullptr);
    PlaybackImageStream* playedImages = playback.imageStream();
    PlaybackTrackingStream* playedTracking = playback.trackingStream();
    PlaybackTrackingStream playedSequence({&recordedSequence}, nullptr);
    playedSequence.setLoop(false);
    ASSERT_TRUE(playedSequence.open());

    Watcher imageWatcher(*playedImages);
    Watcher sequenceWatcher(playedSequence);
    StreamRecorderAlgorithm again({playedImages, playedTracking, &playedSequence});
    again.setSaveToFile(false);
    again.setTimestampSource(true, true);
    again.setTrackingQualityThreshold(0.0);  // keep whatever is played
    again.setDataCombinationMode(Mode::Individual);
    again.compute();
    ASSERT_EQ(again.status(), Algorithm::Status::Success);
    ASSERT_TRUE(playback.stream()->start());
    ASSERT_TRUE(playedSequence.start());
    ASSERT_TRUE(imageWatcher.waitForEnded(kDeadline));
    ASSERT_TRUE(sequenceWatcher.waitForEnded(kDeadline));
    again.stop();
    const OwningDataList replayed = again.takeOutput();

    // Individual mode keeps the recorders' order: the images, the synchronised tracking, the sequence.
    const auto replayedSets = itemsOf<SharedImageSet>(replayed);
    const auto replayedSequences = itemsOf<TrackingSequence>(replayed);
    ASSERT_EQ(replayedSets.size(), 1u);
    ASSERT_EQ(replayedSequences.size(), 2u);
    expectSameFrames(*replayedSets.front(), recordedSet);
    expectPacedLike(arrivalTimesMs(imageWatcher), frameTimesMs(recordedSet), "images");

    // One synchronised sample per frame, at the frame's time, with the pose the frame was recorded with.
    const TrackingSequence& synchronised = *replayedSequences[0];
    ASSERT_EQ(synchronised.size(), recordedSet.size());
    for (int i = 0; i < recordedSet.size(); ++i) {
        EXPECT_NEAR(synchronised.timestamp(i) * 1000.0, *recordedSet.timestamp(i), 0.5) << "frame " << i;
        EXPECT_TRUE(synchronised.matrix(i).isApprox(recordedSet.frameMatrix(i), 1e-9))
            << "frame " << i << "\n"
            << synchronised.matrix(i) << "\n"
            << recordedSet.frameMatrix(i);
    }

    // The sequence on its own timer: every sample with its time and pose.
    const TrackingSequence& alone = *replayedSequences[1];
    ASSERT_EQ(alone.size(), recordedSequence.size());
    std::vector<double> recordedSampleMs;
    for (int i = 0; i < recordedSequence.size(); ++i) {
        EXPECT_EQ(alone.timestamp(i), recordedSequence.timestamp(i)) << "sample " << i;
        EXPECT_TRUE(alone.matrix(i).isApprox(recordedSequence.matrix(i), 1e-12)) << "sample " << i;
        EXPECT_DOUBLE_EQ(alone.quality(i), recordedSequence.quality(i)) << "sample " << i;
        recordedSampleMs.push_back(recordedSequence.timestamp(i) * 1000.0);
    }
    expectPacedLike(arrivalTimesMs(sequenceWatcher), recordedSampleMs, "tracking");
}

TEST(RecordingRoundTrip, ALiveImageFilePlaysBackIntoAnEqualLiveFile)
{
    TempDir dir;
    FakeImageStream images(64, 48, 1, 1);
    images.setEmittedImageRepresentation(FakeImageStream::EmittedImageRepresentation::MemImage);

    // Records into a live file under `subdirectory` (nothing kept in memory) until `done` says so, and
    // returns the file's path.
    auto recordLive = [&](ImageStream& stream, const std::string& subdirectory, bool deviceTimes,
                          const std::function<bool(const StreamRecorderAlgorithm&)>& done) {
        StreamRecorderAlgorithm recorder({&stream});
        recorder.setSavePath((dir.path / subdirectory).string());
        recorder.setSaveRecordingsAsync(false);
        recorder.setLiveStreamRecording(true);
        recorder.setSaveStreamingFramesKeptInMemory(0);
        recorder.setTimestampSource(deviceTimes, deviceTimes);
        recorder.compute();
        EXPECT_EQ(recorder.status(), Algorithm::Status::Success);
        const bool finished = done(recorder);
        EXPECT_TRUE(finished);
        recorder.stop();
        recorder.takeOutput();
        EXPECT_EQ(recorder.saveError(), "");
        EXPECT_EQ(recorder.exportedFrames(), static_cast<std::uint64_t>(recorder.recordedFrames()));
        for (const auto& path : recorder.savedFiles())
            if (std::filesystem::path(path).extension() == ".bin")
                return path;
        return std::string();
    };

    const std::string first = recordLive(images, "first", false, [&](const StreamRecorderAlgorithm& r) {
        const bool started = images.open() && images.start();
        const bool enough = started && waitForFrames(r, kFrames);
        images.stop();
        return enough;
    });
    ASSERT_NE(first, "");
    std::string why;
    auto loaded = Files::loadDataFile(first, &why);
    ASSERT_TRUE(loaded) << why;
    ASSERT_EQ(loaded->size(), 1u);
    auto* recordedSet = dynamic_cast<SharedImageSet*>((*loaded)[0]);
    ASSERT_NE(recordedSet, nullptr);
    ASSERT_GE(recordedSet->size(), kFrames);

    PlaybackImageStream played(*recordedSet);
    played.setLoop(false);
    ASSERT_TRUE(played.open());
    Watcher watcher(played);
    const std::string second = recordLive(played, "second", true, [&](const StreamRecorderAlgorithm&) {
        return played.start() && watcher.waitForEnded(kDeadline);
    });
    ASSERT_NE(second, "");
    auto replayed = Files::loadDataFile(second, &why);
    ASSERT_TRUE(replayed) << why;
    ASSERT_EQ(replayed->size(), 1u);
    auto* replayedSet = dynamic_cast<SharedImageSet*>((*replayed)[0]);
    ASSERT_NE(replayedSet, nullptr);
    expectSameFrames(*replayedSet, *recordedSet);
    expectPacedLike(arrivalTimesMs(watcher), frameTimesMs(*recordedSet), "live file");
}

// A workspace feeds a played tracked set (a stream group) to a recorder as one input: it is recorded
// through its image and tracking streams, and gives back the tracked set.
TEST(RecordingRoundTrip, APlayedTrackedSetIsRecordedThroughItsGroup)
{
    const std::vector<double> timesMs{1000, 1020, 1040, 1060, 1080, 1100};
    TrackedSharedImageSet tracked(std::move(*PlaybackTest::makeSet(6, timesMs)));
    tracked.addTracking(PlaybackTest::makeSequence("probe", {1.0, 1.02, 1.04, 1.06, 1.08, 1.10}));
    PlaybackAlgorithm playback(&tracked, {});
    playback.delayStart.setValue(true);
    playback.setLoop(false);
    playback.compute();
    ASSERT_NE(playback.streamGroup(), nullptr);

    std::unique_ptr<Algorithm> created;
    ASSERT_TRUE(StreamRecorderAlgorithm::createCompatible(DataList{playback.stream()}, &created));
    auto* recorder = dynamic_cast<StreamRecorderAlgorithm*>(created.get());
    ASSERT_NE(recorder, nullptr);
    ASSERT_EQ(recorder->numRecorders(), 2);
    EXPECT_EQ(recorder->imageStream(0), playback.imageStream());
    EXPECT_EQ(recorder->trackingStream(0), playback.trackingStream());

    Watcher watcher(*playback.imageStream());
    recorder->setSaveToFile(false);
    recorder->setTimestampSource(true, true);
    recorder->setDataCombinationMode(Mode::FirstTracking);
    recorder->compute();
    ASSERT_EQ(recorder->status(), Algorithm::Status::Success);
    ASSERT_TRUE(playback.stream()->start());
    ASSERT_TRUE(watcher.waitForEnded(kDeadline));
    recorder->stop();
    const OwningDataList output = recorder->takeOutput();
    ASSERT_EQ(output.size(), 1u);
    auto* again = dynamic_cast<TrackedSharedImageSet*>(output[0]);
    ASSERT_NE(again, nullptr);
    ASSERT_EQ(again->numTracking(), 1);
    expectSameFrames(*again, tracked);
    for (int i = 0; i < tracked.size(); ++i)
        EXPECT_TRUE(again->frameMatrix(i).isApprox(tracked.frameMatrix(i), 1e-9)) << "frame " << i;
}

}  // namespace
}  // namespace Corvexis
