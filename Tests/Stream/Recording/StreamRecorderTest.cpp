#include "Stream/Recording/StreamRecorder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>

#include <unistd.h>
#include <limits>

#include "Host/Core/Log.h"
#include "Host/Core/TrackingSequence.h"
#include "Host/Lib/Files/CorvexisImage.h"
#include "Host/Lib/SharedImageSet.h"
#include "Stream/Framework/TestImageStreams.h"
#include "Stream/Recording/ImageStreamRecorder.h"
#include "Stream/Recording/RecordingTestStreams.h"
#include "Stream/Recording/TrackingStreamRecorder.h"
#include "Stream/Simulated/FakeImageStream.h"
#include "Stream/Simulated/FakeTrackingStream.h"
#include "Support/TestUtil.h"

namespace Corvexis {
namespace {

using Test::ManualImageStream;
using Test::ManualTrackingStream;

const ImageDescriptor kSmall(ImageDescriptor::kUByte, 10, 10);  // 100 bytes per frame

std::unique_ptr<SharedImageSet> onlySet(OwningDataList output)
{
    EXPECT_EQ(output.size(), 1u);
    return output.takeFirst<SharedImageSet>();
}

struct TempDir
{
    TempDir()
    {
        path = std::filesystem::temp_directory_path() /
               ("rec-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
        std::filesystem::create_directories(path);
    }
    ~TempDir() { std::filesystem::remove_all(path); }
    std::filesystem::path path;
    static inline int counter = 0;
};

TEST(ImageStreamRecorder, SamplesLimitStopsAfterTheTenthRecordAndSignalsOnce)
{
    ManualImageStream stream;
    ImageStreamRecorder recorder(stream);
    int limitSignals = 0;
    std::vector<std::uint64_t> totals;
    recorder.signalLimitReached.connect([&](StreamRecorder*) { ++limitSignals; });
    recorder.signalSampleRecorded.connect(
        [&](StreamRecorder*, std::uint64_t bytes) { totals.push_back(bytes); });
    ASSERT_TRUE(recorder.setSamplesLimit(10));
    ASSERT_TRUE(recorder.start());
    EXPECT_FALSE(recorder.start());  // only from idle
    for (int i = 0; i < 15; ++i)
        stream.emitFrame(kSmall, static_cast<std::uint8_t>(i), 1000 + 10 * i);
    EXPECT_FALSE(recorder.isRecording());
    EXPECT_TRUE(recorder.hasReachedLimit());
    EXPECT_EQ(limitSignals, 1);
    EXPECT_EQ(recorder.recordedSamples(), 10);
    EXPECT_EQ(recorder.recordedBytes(), 1000u);
    ASSERT_EQ(totals.size(), 10u);
    EXPECT_EQ(totals.front(), 100u);
    EXPECT_EQ(totals.back(), 1000u);
    auto set = onlySet(recorder.takeOutput());
    ASSERT_TRUE(set);
    ASSERT_EQ(set->size(), 10);
    // Frame times are the arrival times, in milliseconds; frames are shared with the records.
    EXPECT_DOUBLE_EQ(*set->timestamp(0), 1000.0);
    EXPECT_DOUBLE_EQ(*set->timestamp(9), 1090.0);
    EXPECT_EQ(Corvexis::Test::firstByte(*set->get(9)), 9);
    EXPECT_TRUE(set->properties().param("topDown", false));
    EXPECT_TRUE(recorder.takeOutput().empty());
}

TEST(ImageStreamRecorder, CaptureModeOneStoresExactlyOneRecordPerRequest)
{
    ManualImageStream stream;
    ImageStreamRecorder recorder(stream);
    recorder.setCaptureMode(StreamRecorder::CaptureMode::OnRequest);
    recorder.setCaptureNextSample();  // disarmed by start
    ASSERT_TRUE(recorder.start());
    stream.emitFrame(kSmall, 1);
    recorder.setCaptureNextSample();
    stream.emitFrame(kSmall, 2);
    stream.emitFrame(kSmall, 3);
    recorder.setCaptureNextSample();
    stream.emitFrame(kSmall, 4);
    stream.emitFrame(kSmall, 5);
    ASSERT_TRUE(recorder.stop());
    EXPECT_FALSE(recorder.stop());
    auto set = onlySet(recorder.takeOutput());
    ASSERT_EQ(set->size(), 2);
    EXPECT_EQ(Corvexis::Test::firstByte(*set->get(0)), 2);
    EXPECT_EQ(Corvexis::Test::firstByte(*set->get(1)), 4);
}

TEST(ImageStreamRecorder, LimitSettersAreRefusedWhileRecordingAndKeepTheOldValue)
{
    ManualImageStream stream;
    ImageStreamRecorder recorder(stream);
    ASSERT_TRUE(recorder.setTimeLimit(5.0));
    ASSERT_TRUE(recorder.start());
    Log::ScopedCapture capture;
    EXPECT_FALSE(recorder.setTimeLimit(1.0));
    EXPECT_FALSE(recorder.setSamplesLimit(3));
    EXPECT_FALSE(recorder.setSystemMemoryLimit(0.5));
    EXPECT_FALSE(recorder.setRecordedBytesLimit(10));
    EXPECT_FALSE(recorder.setUseDeviceTimestamp(true));
    EXPECT_FALSE(recorder.setRecordBothTimestamps(true));
    EXPECT_FALSE(recorder.setNextAsyncRecordingOptions("/tmp/x", false));
    EXPECT_DOUBLE_EQ(recorder.timeLimit(), 5.0);
    EXPECT_DOUBLE_EQ(recorder.samplesLimit(), 0.0);
    EXPECT_FALSE(recorder.usesDeviceTimestamps());
    EXPECT_TRUE(capture->contains(Log::Level::Error, "Stream",
                                  "StreamRecorder: Cannot change the time limit while recording"));
    EXPECT_TRUE(capture->contains(Log::Level::Error, "Stream",
                                  "StreamRecorder: Cannot change the samples limit while recording"));
    EXPECT_TRUE(capture->contains(Log::Level::Error, "Stream",
                                  "StreamRecorder: Cannot change the system memory limit while recording"));
    EXPECT_TRUE(capture->contains(Log::Level::Error, "Stream",
                                  "StreamRecorder: Cannot change the bytes limit while recording"));
    EXPECT_EQ(capture->count(Log::Level::Error, "Stream",
                             "StreamRecorder: Cannot change the timestamp type while recording"),
              2u);
    EXPECT_TRUE(
        capture->contains(Log::Level::Error, "Stream.ImageStreamRecorder",
                          "Cannot change the recording file path and compression type during recording."));
    recorder.stop();
}

TEST(ImageStreamRecorder, MemoryAndBytesLimits)
{
    ManualImageStream stream;
    {
        // A memory limit at or below 0.001 means none.
        ImageStreamRecorder recorder(stream);
        recorder.setSystemMemoryLimit(0.001);
        recorder.start();
        stream.emitFrame(kSmall);
        stream.emitFrame(kSmall);
        EXPECT_EQ(recorder.recordedSamples(), 2);
        EXPECT_TRUE(recorder.isRecording());
        recorder.stop();
    }
    {
        // Any machine running this test uses more than 0.2 % of its memory.
        ImageStreamRecorder recorder(stream);
        int limitSignals = 0;
        recorder.signalLimitReached.connect([&](StreamRecorder*) { ++limitSignals; });
        recorder.setSystemMemoryLimit(0.002);
        Log::ScopedCapture capture;
        recorder.start();
        stream.emitFrame(kSmall);
        EXPECT_FALSE(recorder.isRecording());
        EXPECT_TRUE(recorder.hasReachedMemoryLimit());
        EXPECT_TRUE(recorder.hasReachedLimit());
        EXPECT_EQ(limitSignals, 1);
        EXPECT_EQ(recorder.recordedSamples(), 0);
        EXPECT_TRUE(
            capture->contains(Log::Level::Warning, "RecorderAlgorithm",
                              "Reached system memory usage limit or recording memory limit, stopping stream "
                              "capture"));
    }
    {
        // The bytes limit is checked before a record is stored: the record that finds it exceeded is
        // dropped.
        ImageStreamRecorder recorder(stream);
        recorder.setRecordedBytesLimit(250);
        recorder.start();
        for (int i = 0; i < 6; ++i)
            stream.emitFrame(kSmall);
        EXPECT_FALSE(recorder.isRecording());
        EXPECT_FALSE(recorder.hasReachedMemoryLimit());
        EXPECT_TRUE(recorder.hasReachedLimit());
        EXPECT_EQ(recorder.recordedSamples(), 3);
    }
}

TEST(ImageStreamRecorder, SwitchFromOneToTwoImagesStartsNewContainersAndStatistics)
{
    ManualImageStream stream;
    ImageStreamRecorder recorder(stream);
    std::vector<std::size_t> announced;
    recorder.signalDescriptorsChanged.connect(
        [&](const std::vector<ImageDescriptor>& descriptors) { announced.push_back(descriptors.size()); });
    recorder.start();
    for (int i = 0; i < 3; ++i)
        stream.emitFrame(kSmall, 1);
    EXPECT_EQ(recorder.recordedSamples(), 3);
    const ImageDescriptor other(ImageDescriptor::kUByte, 4, 4);
    for (int i = 0; i < 2; ++i)
        stream.emitImages({ManualImageStream::makeImage(kSmall, 7), ManualImageStream::makeImage(other, 8)});
    EXPECT_EQ(announced, std::vector<std::size_t>{2});
    EXPECT_EQ(recorder.recordedSamples(), 2);
    EXPECT_EQ(recorder.recordedBytes(), 2u * (100 + 16));
    recorder.stop();
    auto output = recorder.takeOutput();
    ASSERT_EQ(output.size(), 2u);
    auto* first = dynamic_cast<SharedImageSet*>(output[0]);
    auto* second = dynamic_cast<SharedImageSet*>(output[1]);
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->size(), 2);
    EXPECT_EQ(Corvexis::Test::firstByte(*first->get(0)), 7);
    EXPECT_EQ(second->size(), 2);
    EXPECT_EQ(second->get(1)->descriptor().width, 4);
}

TEST(ImageStreamRecorder, MemoryCapKeepsOnlyTheNewestFramesPixels)
{
    ManualImageStream stream;
    ImageStreamRecorder recorder(stream);
    recorder.setMaxImagesKeptInMemory(2);
    recorder.start();
    std::vector<std::shared_ptr<SharedImage>> emitted;
    for (int i = 0; i < 5; ++i) {
        emitted.push_back(ManualImageStream::makeImage(kSmall, static_cast<std::uint8_t>(10 + i)));
        stream.emitImages({emitted.back()});
    }
    recorder.stop();
    auto set = onlySet(recorder.takeOutput());
    ASSERT_EQ(set->size(), 5);
    const std::vector<int> expected{10, 10, 10, 13, 14};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(Corvexis::Test::firstByte(*set->get(i)), expected[static_cast<std::size_t>(i)])
            << "frame " << i;
    // With a cap every frame is the recorder's own copy, never the stream's image.
    for (int i = 0; i < 5; ++i)
        EXPECT_NE(set->get(i).get(), emitted[static_cast<std::size_t>(i)].get());
    // Frames 1 and 2 share frame 0's pixels instead of keeping their own.
    EXPECT_EQ(set->get(1)->mem()->data(), set->get(0)->mem()->data());
    EXPECT_NE(set->get(3)->mem()->data(), set->get(0)->mem()->data());
}

TEST(ImageStreamRecorder, LiveExportWritesEveryFrameAndNamesTheFile)
{
    TempDir dir;
    const std::string base = (dir.path / "live").string();
    ManualImageStream stream;
    ImageStreamRecorder recorder(stream);
    ASSERT_TRUE(recorder.setNextAsyncRecordingOptions(base, true));
    recorder.setMaxImagesKeptInMemory(1);
    recorder.start();
    for (int i = 0; i < 20; ++i)
        stream.emitFrame(kSmall, static_cast<std::uint8_t>(i), 5000 + 33 * i);
    recorder.stop();
    EXPECT_FALSE(recorder.exportTasksRunning());
    EXPECT_EQ(recorder.exportedFrames(), 20u);
    auto set = onlySet(recorder.takeOutput());
    EXPECT_EQ(set->properties().param("liveRecordingPath", std::string()), base + ".bin");

    CorvexisImage::ReadInfo info;
    std::string error;
    auto loaded = CorvexisImage::load(base + ".bin", &info, &error);
    ASSERT_TRUE(loaded) << error;
    EXPECT_TRUE(info.complete);
    EXPECT_TRUE(info.compressed);
    ASSERT_EQ(loaded->size(), 20);
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(Corvexis::Test::firstByte(*loaded->get(i)), i);
        EXPECT_DOUBLE_EQ(*loaded->timestamp(i), 5000.0 + 33 * i);
    }
    // A new recording needs a new path: the path is used once.
    recorder.start();
    stream.emitFrame(kSmall);
    recorder.stop();
    EXPECT_TRUE(onlySet(recorder.takeOutput())->properties().paramText("liveRecordingPath") == nullptr);
}

TEST(TrackingStreamRecorder, QualityThresholdTimestampsAndInstrumentChoice)
{
    ManualTrackingStream stream;
    stream.addInstrument("a");
    stream.addInstrument("b");
    TrackingStreamRecorder recorder(stream);
    EXPECT_EQ(recorder.recordingInstrument(), "a");
    recorder.setUseDeviceTimestamp(true);
    recorder.start();
    Log::ScopedCapture capture;
    stream.emitPose(1.0, 0.9, 1000, 7000);
    stream.emitPose(2.0, std::numeric_limits<double>::quiet_NaN(), 1010, 7010);
    stream.emitPose(3.0, 0.1, 1020, 7020);
    stream.emitPose(4.0, 0.5, 1030, 7030);
    EXPECT_EQ(recorder.recordedSamples(), 2);
    EXPECT_EQ(recorder.recordedBytes(), 2 * 2 * TrackingStreamRecorder::kBytesPerSample);
    EXPECT_EQ(recorder.droppedSamples(), 4);
    EXPECT_TRUE(
        capture->contains(Log::Level::Warning, "Stream", "Encountered tracking stream device quality NaN"));
    {
        auto [lock, sequence] = recorder.currentRecordingSequence("b");
        ASSERT_NE(sequence, nullptr);
        EXPECT_EQ(sequence->size(), 2);
    }
    recorder.stop();
    auto output = recorder.takeOutput();
    EXPECT_TRUE(capture->contains(Log::Level::Warning, "Stream",
                                  "4 tracking data were removed because of low quality."));
    ASSERT_EQ(output.size(), 2u);
    auto* a = dynamic_cast<TrackingSequence*>(output[0]);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->name(), "tracker recording");
    EXPECT_EQ(a->trackerId().ID(), "a");
    ASSERT_EQ(a->size(), 2);
    EXPECT_DOUBLE_EQ(a->timestamp(0), 1.0);  // device time, seconds
    EXPECT_DOUBLE_EQ(a->timestamp(1), 1.03);
    EXPECT_DOUBLE_EQ(a->rawMatrix(1)(0, 3), 4.0);

    // Only the recording instrument, arrival times, no threshold.
    TrackingStreamRecorder single(stream);
    single.setRecordAllInstruments(false);
    EXPECT_FALSE(single.setRecordingDevice(5));
    ASSERT_TRUE(single.setRecordingDevice(1));
    single.setQualityThreshold(0.0);
    single.start();
    stream.emitPose(5.0, std::numeric_limits<double>::quiet_NaN(), 2000, 9000);
    single.stop();
    auto one = single.takeOutput();
    ASSERT_EQ(one.size(), 2u);
    auto* b = dynamic_cast<TrackingSequence*>(one[1]);
    ASSERT_EQ(b->size(), 1);
    EXPECT_DOUBLE_EQ(b->timestamp(0), 9.0);
    EXPECT_EQ(dynamic_cast<TrackingSequence*>(one[0])->size(), 0);
}

TEST(TrackingStreamRecorder, ReportsAnInstrumentRemovedWhileRecording)
{
    ManualTrackingStream stream;
    stream.addInstrument("a");
    stream.addInstrument("b");
    TrackingStreamRecorder recorder(stream);
    int changes = 0;
    recorder.signalInstrumentsChanged.connect([&](TrackingStreamRecorder*) { ++changes; });
    recorder.start();
    Log::ScopedCapture capture;
    stream.removeInstrument("b");
    EXPECT_EQ(changes, 1);
    EXPECT_TRUE(capture->contains(Log::Level::Warning, "TrackingStreamRecorder",
                                  "Instrument with ID b was removed from stream while recording."));
    EXPECT_FALSE(recorder.setMaxInstruments(1));
    recorder.stop();
}

// A simulated tracker at 1000 Hz: every record it emits while recorded is stored, in order, one
// simulated millisecond apart.
TEST(TrackingStreamRecorder, StoresEverySampleOfAThousandHertzStream)
{
    FakeTrackingStream stream;
    stream.fps = 1000.0;
    stream.addDevice(std::make_unique<FakeTrackingStream::ConstantDevice>());
    TrackingStreamRecorder recorder(stream);
    recorder.setUseDeviceTimestamp(true);
    recorder.setQualityThreshold(0.0);
    std::atomic<int> emitted{0};
    auto counter =
        stream.signalStreamData.connect([&](const std::shared_ptr<const StreamData>&) { ++emitted; });
    ASSERT_TRUE(recorder.start());
    ASSERT_TRUE(stream.open());
    ASSERT_TRUE(stream.start());
    ASSERT_TRUE(Corvexis::Test::waitUntil([&] { return emitted.load() >= 500; }));
    ASSERT_TRUE(stream.stop());  // nothing is emitted after this returns
    recorder.stop();
    counter.disconnect();
    auto output = recorder.takeOutput();
    ASSERT_EQ(output.size(), 1u);
    auto* sequence = dynamic_cast<TrackingSequence*>(output[0]);
    ASSERT_NE(sequence, nullptr);
    EXPECT_EQ(sequence->size(), emitted.load());
    EXPECT_EQ(recorder.recordedSamples(), emitted.load());
    for (int i = 1; i < sequence->size(); ++i) {
        const double step = sequence->timestamp(i) - sequence->timestamp(i - 1);
        ASSERT_GT(step, 0.0) << "sample " << i;
        ASSERT_LT(step, 0.0015) << "gap before sample " << i;
    }
}

// The same for frames with live export: the file holds exactly the frames the stream emitted.
TEST(ImageStreamRecorder, LiveFileHoldsEveryEmittedFrame)
{
    TempDir dir;
    FakeImageStream stream(32, 24, 1, 1);
    stream.fps = 200.0;
    ImageStreamRecorder recorder(stream);
    recorder.setNextAsyncRecordingOptions((dir.path / "frames").string(), false);
    recorder.setMaxImagesKeptInMemory(0);
    std::atomic<int> emitted{0};
    auto counter =
        stream.signalStreamData.connect([&](const std::shared_ptr<const StreamData>&) { ++emitted; });
    ASSERT_TRUE(recorder.start());
    ASSERT_TRUE(stream.open());
    ASSERT_TRUE(stream.start());
    ASSERT_TRUE(Corvexis::Test::waitUntil([&] { return emitted.load() >= 60; }));
    ASSERT_TRUE(stream.stop());
    recorder.stop();
    counter.disconnect();
    EXPECT_EQ(recorder.exportedFrames(), static_cast<std::uint64_t>(emitted.load()));
    auto loaded = CorvexisImage::load((dir.path / "frames.bin").string());
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->size(), emitted.load());
    for (int i = 1; i < loaded->size(); ++i)
        ASSERT_GE(*loaded->timestamp(i), *loaded->timestamp(i - 1));
}

}  // namespace
}  // namespace Corvexis
