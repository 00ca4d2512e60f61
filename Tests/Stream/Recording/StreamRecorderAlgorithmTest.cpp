#include "Stream/Recording/StreamRecorderAlgorithm.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <unistd.h>

#include "Host/Core/DataList.h"
#include "Host/Core/Log.h"
#include "Host/Core/TrackingSequence.h"
#include "Host/Lib/Files/CorvexisFile.h"
#include "Host/Lib/Files/CorvexisImage.h"
#include "Host/Lib/TrackedSharedImageSet.h"
#include "Stream/Framework/TestImageStreams.h"
#include "Stream/Recording/ImageStreamRecorder.h"
#include "Stream/Recording/MultipleStreamRecorderAlgorithm.h"
#include "Stream/Recording/RecordingTestStreams.h"
#include "Stream/Simulated/FakeImageStream.h"

namespace Corvexis {
namespace {

using Test::ManualImageStream;
using Test::ManualTrackingStream;
using Mode = StreamRecorderAlgorithm::DataCombinationMode;

const ImageDescriptor kSmall(ImageDescriptor::kUByte, 10, 10);  // 100 bytes per frame

struct TempDir
{
    TempDir()
    {
        path = std::filesystem::temp_directory_path() /
               ("rec-alg-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
        std::filesystem::create_directories(path);
    }
    ~TempDir() { std::filesystem::remove_all(path); }
    std::filesystem::path path;
    static inline int counter = 0;
};

// Tracking at x = t (ms since 1000) every 100 ms; frames at 1050, 1150, 1250.
void emitSession(ManualImageStream& images, ManualTrackingStream& tracking, int frames = 3)
{
    for (int i = 0; i <= frames; ++i) {
        const std::uint64_t t = 1000 + 100 * static_cast<std::uint64_t>(i);
        tracking.emitPose(static_cast<double>(i) * 100.0, 1.0, t, t);
        if (i < frames)
            images.emitFrame(kSmall, static_cast<std::uint8_t>(i), t + 50);
    }
}

class RecorderAlgorithmTest : public ::testing::Test
{
protected:
    RecorderAlgorithmTest()
    {
        tracking.addInstrument("probe");
        tracking.addInstrument("pointer");
    }

    std::unique_ptr<StreamRecorderAlgorithm> make(std::vector<Stream*> streams)
    {
        auto algorithm = std::make_unique<StreamRecorderAlgorithm>(std::move(streams));
        algorithm->setSaveToFile(false);
        return algorithm;
    }

    ManualImageStream images{"images"};
    ManualImageStream moreImages{"more"};
    ManualTrackingStream tracking{"tracker"};
};

TEST_F(RecorderAlgorithmTest, FirstTrackingGivesEveryFrameThePoseAtItsTime)
{
    auto algorithm = make({&images, &tracking});
    algorithm->setDataCombinationMode(Mode::FirstTracking);
    algorithm->compute();
    ASSERT_EQ(algorithm->status(), Algorithm::Status::Success);
    emitSession(images, tracking);
    EXPECT_EQ(algorithm->recordedFrames(), 3);
    EXPECT_EQ(algorithm->recordedTrackingData(), 4);
    algorithm->stop();
    auto output = algorithm->takeOutput();
    // The tracked set carries the first sequence; the second instrument's sequence stands alone.
    ASSERT_EQ(output.size(), 2u);
    auto* tracked = dynamic_cast<TrackedSharedImageSet*>(output[0]);
    ASSERT_NE(tracked, nullptr);
    ASSERT_EQ(tracked->size(), 3);
    ASSERT_EQ(tracked->numTracking(), 1);
    EXPECT_EQ(tracked->tracking()->trackerId().ID(), "pointer");  // instruments in identifier order
    for (int i = 0; i < 3; ++i) {
        // Halfway between two samples: x interpolated to 100 i + 50.
        EXPECT_NEAR(tracked->get(i)->matrix()(0, 3), 100.0 * i + 50.0, 1e-9) << "frame " << i;
        EXPECT_NEAR(tracked->frameMatrix(i)(0, 3), 100.0 * i + 50.0, 1e-9);
    }
    auto* alone = dynamic_cast<TrackingSequence*>(output[1]);
    ASSERT_NE(alone, nullptr);
    EXPECT_EQ(alone->trackerId().ID(), "probe");
}

TEST_F(RecorderAlgorithmTest, AllAndIndividualKeepSetsAndSequencesApart)
{
    for (Mode mode : {Mode::Individual, Mode::All}) {
        // Tracking first: Individual keeps the recorders' order, All puts image sets first.
        auto algorithm = make({&tracking, &images});
        algorithm->setDataCombinationMode(mode);
        algorithm->compute();
        emitSession(images, tracking);
        algorithm->stop();
        auto output = algorithm->takeOutput();
        ASSERT_EQ(output.size(), 3u);
        const bool imageFirst = dynamic_cast<SharedImageSet*>(output[0]) != nullptr;
        EXPECT_EQ(imageFirst, mode == Mode::All);
        for (std::size_t i = 0; i < output.size(); ++i)
            EXPECT_EQ(dynamic_cast<TrackedSharedImageSet*>(output[i]), nullptr);
    }
}

TEST_F(RecorderAlgorithmTest, OneOnOnePairsByIndexAndAddsTheUnpairedAlone)
{
    ManualTrackingStream single{"single"};
    single.addInstrument("only");
    auto algorithm = make({&images, &moreImages, &single});
    algorithm->setDataCombinationMode(Mode::OneOnOne);
    algorithm->compute();
    for (int i = 0; i < 3; ++i) {
        const std::uint64_t t = 1000 + 100 * static_cast<std::uint64_t>(i);
        single.emitPose(10.0 * i, 1.0, t, t);
        images.emitFrame(kSmall, 1, t);
        moreImages.emitFrame(kSmall, 2, t);
    }
    algorithm->stop();
    auto output = algorithm->takeOutput();
    ASSERT_EQ(output.size(), 2u);
    auto* tracked = dynamic_cast<TrackedSharedImageSet*>(output[0]);
    ASSERT_NE(tracked, nullptr);
    EXPECT_EQ(tracked->size(), 3);
    EXPECT_NEAR(tracked->get(2)->matrix()(0, 3), 20.0, 1e-9);
    auto* plain = dynamic_cast<SharedImageSet*>(output[1]);
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(dynamic_cast<TrackedSharedImageSet*>(output[1]), nullptr);
    EXPECT_EQ(Corvexis::Test::firstByte(*plain->get(0)), 2);

    // Without tracking the tracked modes fall back to separate entries.
    auto imagesOnly = make({&images});
    imagesOnly->setDataCombinationMode(Mode::FirstTracking);
    imagesOnly->compute();
    images.emitFrame(kSmall);
    imagesOnly->stop();
    auto fallback = imagesOnly->takeOutput();
    ASSERT_EQ(fallback.size(), 1u);
    EXPECT_EQ(dynamic_cast<TrackedSharedImageSet*>(fallback[0]), nullptr);
}

TEST_F(RecorderAlgorithmTest, BytesLimitWithRestartGivesTwoRecordingsButAMemoryLimitNeverRestarts)
{
    auto algorithm = make({&images});
    algorithm->setAutomaticLimitRestart(true);
    algorithm->setLimits(0.0, 0.0, 0, 0, 500);
    int stopped = 0;
    int restartingSeen = 0;
    algorithm->signalStopped.connect([&] {
        ++stopped;
        restartingSeen += algorithm->isRestarting() ? 1 : 0;
    });
    algorithm->compute();
    for (int i = 0; i < 10; ++i)
        images.emitFrame(kSmall, static_cast<std::uint8_t>(i));
    EXPECT_EQ(stopped, 2);
    EXPECT_EQ(restartingSeen, 2);
    EXPECT_TRUE(algorithm->isRecording());  // the third recording has begun, empty
    algorithm->stop();
    EXPECT_EQ(algorithm->finishedRecordings(), 3);
    auto output = algorithm->takeOutput();
    ASSERT_EQ(output.size(), 2u);
    auto* first = dynamic_cast<SharedImageSet*>(output[0]);
    auto* second = dynamic_cast<SharedImageSet*>(output[1]);
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->size(), 5);
    EXPECT_EQ(second->size(), 5);
    EXPECT_EQ(Corvexis::Test::firstByte(*second->get(0)), 5);

    auto memory = make({&images});
    memory->setAutomaticLimitRestart(true);
    memory->setLimits(0.0, 0.002, 0, 0, 0);
    int memoryStops = 0;
    memory->signalStopped.connect([&] { ++memoryStops; });
    memory->compute();
    images.emitFrame(kSmall);
    images.emitFrame(kSmall);
    EXPECT_FALSE(memory->isRecording());
    EXPECT_TRUE(memory->limitReached());
    EXPECT_EQ(memoryStops, 1);
    EXPECT_EQ(memory->finishedRecordings(), 1);
}

TEST_F(RecorderAlgorithmTest, ImageStructureChangeStopsOrRestarts)
{
    const ImageDescriptor larger(ImageDescriptor::kUByte, 20, 10);
    {
        auto algorithm = make({&images});
        algorithm->compute();
        images.emitFrame(kSmall, 1);
        images.emitFrame(kSmall, 1);
        Log::ScopedCapture capture;
        images.emitFrame(larger, 2);
        EXPECT_FALSE(algorithm->isRecording());
        EXPECT_TRUE(capture->contains(Log::Level::Info, "Stream.StreamRecorderAlgorithm",
                                      "Stopping stream recording. Input image structure changed"));
        auto output = algorithm->takeOutput();
        ASSERT_EQ(output.size(), 1u);
        EXPECT_EQ(dynamic_cast<SharedImageSet*>(output[0])->size(), 2);
    }
    {
        auto algorithm = make({&images});
        algorithm->setAutomaticImageChangeRestart(true);
        algorithm->compute();
        images.emitFrame(kSmall, 1);
        images.emitFrame(larger, 2);
        images.emitFrame(larger, 3);
        EXPECT_TRUE(algorithm->isRecording());
        algorithm->stop();
        auto output = algorithm->takeOutput();
        ASSERT_EQ(output.size(), 2u);
        auto* before = dynamic_cast<SharedImageSet*>(output[0]);
        auto* after = dynamic_cast<SharedImageSet*>(output[1]);
        EXPECT_EQ(before->size(), 1);
        ASSERT_EQ(after->size(), 2);
        EXPECT_EQ(after->get(0)->width(), 20);
    }
    {
        // Restart without stop is a contradiction and starts nothing.
        auto algorithm = make({&images});
        algorithm->setAutomaticImageChangeRestart(true);
        algorithm->setStopOnImageSizeChanged(false);
        Log::ScopedCapture capture;
        algorithm->compute();
        EXPECT_EQ(algorithm->status(), Algorithm::Status::Error);
        EXPECT_FALSE(algorithm->isRecording());
        EXPECT_TRUE(capture->contains(Log::Level::Error, "Stream.StreamRecorderAlgorithm",
                                      "stopOnImageSizeChanged must be set to true if "
                                      "restartRecordingOnImageDescriptorsChanged is true."));
    }
}

TEST_F(RecorderAlgorithmTest, InstrumentListChangeStopsTheRecording)
{
    auto algorithm = make({&tracking});
    algorithm->compute();
    tracking.emitPose(1.0, 1.0, 1000, 1000);
    tracking.addInstrument("third");
    EXPECT_FALSE(algorithm->isRecording());
    EXPECT_EQ(algorithm->takeOutput().size(), 2u);
}

TEST_F(RecorderAlgorithmTest, OlderKeyNamesAreRead)
{
    auto algorithm = make({&images});
    Properties p;
    p.setParam("autoSave", false);
    p.setParam("nSweepsData", 3);
    p.setParam("restartRecordingOnImageDescriptorsChanged", true);
    p.setParam("stopOnImageSizeChanged", false);
    algorithm->setSaveToFile(true);
    algorithm->configure(&p);
    EXPECT_FALSE(algorithm->saveToFile.value());
    EXPECT_EQ(algorithm->numberOfDataToKeep(), 3);
    EXPECT_TRUE(algorithm->restartOnImageChange.value());
    algorithm->compute();
    EXPECT_EQ(algorithm->status(), Algorithm::Status::Error);

    Properties newer;
    newer.setParam("saveToFile", true);
    newer.setParam("autoSave", false);
    newer.setParam("numberOfDataToKeep", 5);
    newer.setParam("nSweepsData", 7);
    newer.setParam("restartRecordingOnImageSizeChanged", true);
    newer.setParam("restartRecordingOnImageDescriptorsChanged", false);
    algorithm->configure(&newer);
    EXPECT_TRUE(algorithm->saveToFile.value());
    EXPECT_EQ(algorithm->numberOfDataToKeep(), 5);
    EXPECT_FALSE(algorithm->restartOnImageChange.value());

    // Settings applied on top of the current configuration: the newer keys are present, unchanged.
    Properties merged;
    algorithm->configuration(&merged);
    merged.setParam("autoSave", false);
    merged.setParam("nSweepsData", 4);
    algorithm->configure(&merged);
    EXPECT_FALSE(algorithm->saveToFile.value());
    EXPECT_EQ(algorithm->numberOfDataToKeep(), 4);

    algorithm->setNumberOfDataToKeep(0);
    EXPECT_EQ(algorithm->numberOfDataToKeep(), 0);
    algorithm->setNumberOfDataToKeep(-4);
    EXPECT_EQ(algorithm->numberOfDataToKeep(), -1);
}

TEST_F(RecorderAlgorithmTest, SavedRecordingLoadsBackEqual)
{
    TempDir dir;
    auto algorithm = make({&images, &tracking});
    algorithm->setSaveToFile(true);
    algorithm->setSavePath(dir.path.string());
    algorithm->setPatientName("Jane");
    algorithm->setDataCombinationMode(Mode::FirstTracking);
    algorithm->compute();
    emitSession(images, tracking);
    algorithm->stop();
    auto output = algorithm->takeOutput();  // waits for the save
    ASSERT_EQ(algorithm->saveError(), "");
    const auto files = algorithm->savedFiles();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(std::filesystem::path(files[0]).filename().string(), "Jane_1.cvx");

    CorvexisFile file;
    auto loaded = file.load(files[0]);
    ASSERT_TRUE(loaded) << file.lastError();
    ASSERT_EQ(loaded->size(), output.size());
    auto* original = dynamic_cast<TrackedSharedImageSet*>(output[0]);
    auto* back = dynamic_cast<TrackedSharedImageSet*>((*loaded)[0]);
    ASSERT_TRUE(original && back);
    ASSERT_EQ(back->size(), original->size());
    for (int i = 0; i < original->size(); ++i) {
        EXPECT_TRUE(back->get(i)->mem()->hasSamePixels(*original->get(i)->mem()));
        EXPECT_EQ(back->timestamp(i), original->timestamp(i));
        EXPECT_TRUE(back->frameMatrix(i).isApprox(original->frameMatrix(i)));
    }
    ASSERT_EQ(back->numTracking(), 1);
    EXPECT_TRUE(back->tracking()->hasSameContent(*original->tracking()));
    auto* sequence = dynamic_cast<TrackingSequence*>((*loaded)[1]);
    ASSERT_NE(sequence, nullptr);
    EXPECT_TRUE(sequence->hasSameContent(*dynamic_cast<TrackingSequence*>(output[1])));
}

TEST_F(RecorderAlgorithmTest, LiveRecordingWithoutKeptFramesLeavesImagesOnDiskOnly)
{
    TempDir dir;
    auto algorithm = make({&images, &tracking});
    algorithm->setSaveToFile(true);
    algorithm->setSaveRecordingsAsync(false);
    algorithm->setSavePath(dir.path.string());
    algorithm->setLiveStreamRecording(true);
    algorithm->setSaveStreamingFramesKeptInMemory(0);
    algorithm->compute();
    emitSession(images, tracking, 12);
    EXPECT_EQ(algorithm->recordedFrames(), 12);
    algorithm->stop();
    EXPECT_EQ(algorithm->exportedFrames(), 12u);
    auto output = algorithm->takeOutput();
    ASSERT_EQ(output.size(), 2u);  // the two sequences, no image set
    for (std::size_t i = 0; i < output.size(); ++i)
        EXPECT_NE(dynamic_cast<TrackingSequence*>(output[i]), nullptr);
    const auto files = algorithm->savedFiles();
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(std::filesystem::path(files[0]).filename().string(), "Patient-01_1.bin");
    EXPECT_EQ(std::filesystem::path(files[1]).filename().string(), "Patient-01_1.cvx");
    auto frames = CorvexisImage::load(files[0]);
    ASSERT_TRUE(frames);
    EXPECT_EQ(frames->size(), 12);
    CorvexisFile file;
    auto rest = file.load(files[1]);
    ASSERT_TRUE(rest);
    EXPECT_EQ(rest->size(), 2u);
}

TEST_F(RecorderAlgorithmTest, UnwritableSavePathRefusesALiveStart)
{
    TempDir dir;
    const auto blocker = dir.path / "file";
    {
        std::ofstream(blocker) << "x";
    }
    auto algorithm = make({&images});
    algorithm->setSaveToFile(true);
    algorithm->setLiveStreamRecording(true);
    algorithm->setSavePath((blocker / "sub").string());
    algorithm->compute();
    EXPECT_EQ(algorithm->status(), Algorithm::Status::Error);
    EXPECT_FALSE(algorithm->isRecording());
    EXPECT_NE(algorithm->saveError(), "");
}

TEST_F(RecorderAlgorithmTest, MultipleRecorderDrivesItsAlgorithmsTogether)
{
    auto first = make({&images});
    auto second = make({&tracking});
    MultipleStreamRecorderAlgorithm multiple({&images, &tracking});
    {
        Log::ScopedCapture capture;
        multiple.compute();
        EXPECT_EQ(multiple.status(), Algorithm::Status::Error);
        EXPECT_TRUE(capture->contains(Log::Level::Error, "Stream.MultipleStreamRecorderAlgorithm",
                                      "No existing recorders found, cannot record anything."));
    }
    auto stranger = make({&moreImages});
    EXPECT_FALSE(multiple.setExistingRecorders({first.get(), stranger.get()}));
    ASSERT_TRUE(multiple.setExistingRecorders({first.get(), second.get()}));
    EXPECT_FALSE(multiple.setSavePath(""));
    multiple.compute();
    EXPECT_TRUE(first->isRecording());
    EXPECT_TRUE(second->isRecording());
    emitSession(images, tracking);
    EXPECT_EQ(multiple.recordedFrames(), 3);
    EXPECT_EQ(multiple.recordedTrackingData(), 4);
    multiple.stop();
    EXPECT_FALSE(multiple.isRecording());
    EXPECT_EQ(multiple.takeOutput().size(), 3u);
    EXPECT_FALSE(multiple.survivesDataDeletion(&images));
    multiple.onDataDeleting(&images);
    EXPECT_EQ(multiple.numStreamRecorders(), 1);
}

TEST(StreamRecorderAlgorithm, RecordForStartsTheStreamAndHandsOverItsFrames)
{
    FakeImageStream stream(16, 8, 1, 1);
    auto output = StreamRecorderAlgorithm::recordFor({&stream}, std::chrono::milliseconds(300));
    ASSERT_EQ(output.size(), 1u);
    auto* set = dynamic_cast<SharedImageSet*>(output[0]);
    ASSERT_NE(set, nullptr);
    EXPECT_GT(set->size(), 0);
    EXPECT_TRUE(set->hasTimestamps());
    EXPECT_EQ(set->get(0)->width(), 16);
}

TEST(StreamRecorderAlgorithm, CreatedOnlyForImageAndTrackingStreams)
{
    ManualImageStream images;
    std::unique_ptr<Algorithm> algorithm;
    EXPECT_FALSE(StreamRecorderAlgorithm::createCompatible(DataList{}, &algorithm));
    DataList list;
    list.add(&images);
    ASSERT_TRUE(StreamRecorderAlgorithm::createCompatible(list, &algorithm));
    auto* recorder = dynamic_cast<StreamRecorderAlgorithm*>(algorithm.get());
    ASSERT_NE(recorder, nullptr);
    EXPECT_EQ(recorder->numRecorders(), 1);
    EXPECT_NE(recorder->imageRecorder(0), nullptr);
    Log::ScopedCapture capture;
    EXPECT_EQ(recorder->trackingStream(0), nullptr);
    EXPECT_TRUE(capture->contains(Log::Level::Error, "Stream.StreamRecorderAlgorithm",
                                  "Index exceeds range of available tracking streams"));
    StreamRecorderAlgorithm withNull(std::vector<Stream*>{nullptr});
    EXPECT_TRUE(capture->contains(Log::Level::Error, "Stream.StreamRecorderAlgorithm",
                                  "Input stream is nullptr and cannot be recorded"));
    EXPECT_EQ(withNull.numRecorders(), 0);
    withNull.compute();
    EXPECT_EQ(withNull.status(), Algorithm::Status::Error);
}

}  // namespace
}  // namespace Corvexis
