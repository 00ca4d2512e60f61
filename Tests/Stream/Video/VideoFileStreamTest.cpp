#include "Stream/Video/VideoFileStream.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <mutex>
#include <vector>

#include "Host/Core/DataList.h"
#include "Host/Core/Log.h"
#include "Host/Lib/Progress.h"
#include "Host/Lib/Selection.h"
#include "Host/Lib/SharedImage.h"
#include "Host/Lib/SharedImageSet.h"
#include "Stream/Framework/ImageStreamData.h"
#include "Stream/StreamAlgorithmFactory.h"
#include "Stream/Video/VideoFileStreamPlaybackWrapper.h"
#include "Stream/Video/VideoStreamExtractionAlgorithm.h"
#include "Stream/Video/VideoStreamIoAlgorithm.h"
#include "Support/TestUtil.h"
#include "Support/VideoTestTools.h"

namespace Corvexis {
namespace {

namespace T = Corvexis::Test;
using State = Stream::State;

constexpr int kWidth = 160;
constexpr int kHeight = 120;
constexpr int kFrames = 10;
constexpr int kFps = 25;
constexpr std::size_t kFrameBytes = std::size_t{kWidth} * kHeight * 3;

struct Emitted
{
    int frame;  // from the device time stamp
    std::uint64_t arrivalMs;
    std::vector<std::uint8_t> pixels;
};

// Collects what a stream emits, on the emitting thread.
class Recorder
{
public:
    explicit Recorder(Stream& stream)
    {
        connection_ = stream.signalStreamData.connect([this](const std::shared_ptr<const StreamData>& data) {
            const auto* record = dynamic_cast<const ImageStreamData*>(data.get());
            if (record == nullptr || record->size() != 1)
                return;
            const MemImage* mem = record->images()[0]->mem();
            Emitted e;
            e.frame = static_cast<int>(std::lround(record->timestampDevice() * kFps / 1000.0));
            e.arrivalMs = record->timestampArrival();
            e.pixels.assign(static_cast<const std::uint8_t*>(mem->data()),
                            static_cast<const std::uint8_t*>(mem->data()) + mem->byteSize());
            std::lock_guard lock(mutex_);
            emitted_.push_back(std::move(e));
        });
    }
    ~Recorder() { connection_.disconnect(); }
    std::vector<Emitted> emitted() const
    {
        std::lock_guard lock(mutex_);
        return emitted_;
    }
    std::vector<int> frames() const
    {
        std::vector<int> f;
        for (const auto& e : emitted())
            f.push_back(e.frame);
        return f;
    }
    std::size_t count() const
    {
        std::lock_guard lock(mutex_);
        return emitted_.size();
    }

private:
    mutable std::mutex mutex_;
    std::vector<Emitted> emitted_;
    SignalConnection connection_;
};

class VideoFileStreamTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!T::haveProgram("ffmpeg"))
            GTEST_SKIP() << "the ffmpeg program is needed to make the clip";
        clip_ = scratch_.file("clip.avi");
        ASSERT_EQ(T::makeTestClip(clip_, kWidth, kHeight, kFps, kFrames, "-c:v mpeg4 -g 4 -q:v 3"), "");
        raw_ = T::ffmpegRawRgb(clip_, scratch_.file("clip.rgb"));
        ASSERT_EQ(raw_.size(), kFrameBytes * kFrames);
    }

    bool matchesFrame(const Emitted& e, int frame) const
    {
        return e.pixels.size() == kFrameBytes &&
               T::maxDifference(e.pixels.data(), raw_.data() + kFrameBytes * frame, kFrameBytes) <= 1;
    }

    std::unique_ptr<VideoFileStream> openStream()
    {
        auto stream = std::make_unique<VideoFileStream>();
        stream->setFilename(clip_);
        EXPECT_TRUE(stream->open());
        return stream;
    }

    static bool waitForState(const Stream& stream, State state)
    {
        return T::waitUntil([&] { return stream.currentState() == state; });
    }

    T::ScratchDir scratch_;
    std::string clip_;
    std::vector<std::uint8_t> raw_;
};

TEST_F(VideoFileStreamTest, PlaysEveryFrameOnceAtTheNominalRateThenStopsByItself)
{
    auto stream = openStream();
    EXPECT_EQ(stream->name(), "Video File Stream");
    EXPECT_EQ(stream->numFrames(), kFrames);
    EXPECT_EQ(stream->size(), kFrames);
    EXPECT_EQ(stream->width(), kWidth);
    EXPECT_DOUBLE_EQ(stream->nominalFps(), kFps);
    int ended = 0;
    auto endConnection = stream->signalStreamEnded.connect([&ended] { ++ended; });
    Recorder recorder(*stream);
    const auto startMs = static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                        std::chrono::system_clock::now().time_since_epoch())
                                                        .count());
    ASSERT_TRUE(stream->start());
    ASSERT_TRUE(
        T::waitUntil([&] { return recorder.count() == kFrames && stream->currentState() == State::Open; }));
    const auto emitted = recorder.emitted();
    ASSERT_EQ(emitted.size(), static_cast<std::size_t>(kFrames));
    for (int i = 0; i < kFrames; ++i) {
        EXPECT_EQ(emitted[i].frame, i);
        EXPECT_TRUE(matchesFrame(emitted[i], i)) << "frame " << i;
    }
    // Paced: frame i is due 40 i ms after the start, never earlier (one millisecond for the stamps'
    // rounding); a late frame may be followed by quicker ones, so only the schedule is checked.
    for (int i = 0; i < kFrames; ++i)
        EXPECT_GE(emitted[i].arrivalMs + 1, startMs + 40 * static_cast<std::uint64_t>(i)) << "frame " << i;
    EXPECT_EQ(stream->lastFrame(), kFrames - 1);
    EXPECT_EQ(stream->focus(), kFrames - 1);
    EXPECT_EQ(stream->descriptor()->width, kWidth);
    EXPECT_EQ(ended, 0);
    EXPECT_TRUE(stream->close());
    EXPECT_EQ(ended, 1);
    endConnection.disconnect();
}

TEST_F(VideoFileStreamTest, LoopingWrapsToTheFirstFrame)
{
    auto stream = openStream();
    stream->setLooping(true);
    Recorder recorder(*stream);
    ASSERT_TRUE(stream->start());
    ASSERT_TRUE(T::waitUntil([&] { return recorder.count() >= kFrames + 4; }));
    ASSERT_TRUE(stream->stop());
    const auto emitted = recorder.emitted();
    for (std::size_t i = 0; i < emitted.size(); ++i) {
        EXPECT_EQ(emitted[i].frame, static_cast<int>(i % kFrames)) << i;
        EXPECT_TRUE(matchesFrame(emitted[i], static_cast<int>(i % kFrames))) << i;
    }
}

TEST_F(VideoFileStreamTest, PlaySelectedReadsOnlyTheSelectionThenStopsOrWraps)
{
    auto stream = openStream();
    stream->setSelection({3, 4, 7});
    stream->setPlaySelected(true);
    {
        Recorder recorder(*stream);
        ASSERT_TRUE(stream->start());
        ASSERT_TRUE(waitForState(*stream, State::Open));
        EXPECT_EQ(recorder.frames(), (std::vector<int>{3, 4, 7}));
        for (const auto& e : recorder.emitted())
            EXPECT_TRUE(matchesFrame(e, e.frame)) << e.frame;
    }
    {
        stream->setLooping(true);
        stream->setNextFrame(0);
        Recorder recorder(*stream);
        ASSERT_TRUE(stream->start());
        ASSERT_TRUE(T::waitUntil([&] { return recorder.count() >= 7; }));
        ASSERT_TRUE(stream->stop());
        const std::vector<int> frames = recorder.frames();
        const std::vector<int> cycle = {3, 4, 7};
        for (std::size_t i = 0; i < frames.size(); ++i)
            EXPECT_EQ(frames[i], cycle[i % 3]) << i;
    }
    {
        stream->setSelection({});
        Recorder recorder(*stream);
        ASSERT_TRUE(stream->start());
        ASSERT_TRUE(waitForState(*stream, State::Open));
        EXPECT_EQ(recorder.count(), 0u) << "an empty selection stops playback at once";
    }
}

TEST_F(VideoFileStreamTest, PositioningWhileStoppedShowsTheFrameAtOnceAndStartAtTheEndRestarts)
{
    auto stream = openStream();
    Recorder recorder(*stream);
    stream->setNextFrame(500);
    ASSERT_EQ(recorder.count(), 1u) << "emitted synchronously while not running";
    EXPECT_EQ(recorder.emitted()[0].frame, kFrames - 1);
    EXPECT_TRUE(matchesFrame(recorder.emitted()[0], kFrames - 1));
    EXPECT_EQ(stream->nextFrame(), kFrames);

    stream->setFocus(4);
    ASSERT_EQ(recorder.count(), 2u);
    EXPECT_TRUE(matchesFrame(recorder.emitted()[1], 4));
    EXPECT_EQ(stream->focus(), 4);
    stream->setFocus(4);  // unchanged focus: nothing happens
    stream->setFocus(-3);
    ASSERT_EQ(recorder.count(), 3u);
    EXPECT_TRUE(matchesFrame(recorder.emitted()[2], 0));

    stream->setNextFrame(kFrames - 1);
    ASSERT_EQ(recorder.count(), 4u);
    // Next frame is now the frame count: starting plays from the beginning.
    ASSERT_TRUE(stream->start());
    ASSERT_TRUE(waitForState(*stream, State::Open));
    const auto frames = recorder.frames();
    ASSERT_EQ(frames.size(), 4u + kFrames);
    EXPECT_EQ(frames[4], 0);
    EXPECT_EQ(frames.back(), kFrames - 1);

    EXPECT_TRUE(stream->reset());
    EXPECT_EQ(recorder.frames().back(), 0);
}

TEST_F(VideoFileStreamTest, ExtractsTheSelectionWhenStoppedAndRefusesWhileRunning)
{
    auto stream = openStream();
    stream->setLooping(true);
    Recorder recorder(*stream);
    ASSERT_TRUE(stream->start());
    ASSERT_TRUE(T::waitUntil([&] { return recorder.count() >= 1; }));
    {
        Log::ScopedCapture capture;
        auto refused = stream->extractFrames(Selection::fromFirstLastSkip(0, 9), nullptr);
        EXPECT_EQ(refused->size(), 0);
        EXPECT_TRUE(capture->contains(Log::Level::Warning, "Stream.VideoFileStream",
                                      "A VideoFileStream needs to be paused to safely extract frames"));
    }
    ASSERT_TRUE(stream->stop());
    stream->setNextFrame(6);
    const int next = stream->nextFrame();
    Progress progress;
    auto set = stream->extractFrames(Selection::fromFirstLastSkip(2, 8, 2), &progress);
    ASSERT_EQ(set->size(), 3);
    const int expected[] = {2, 5, 8};
    for (int i = 0; i < 3; ++i) {
        const MemImage* mem = set->get(i)->mem();
        ASSERT_NE(mem, nullptr);
        EXPECT_LE(T::maxDifference(static_cast<const std::uint8_t*>(mem->data()),
                                   raw_.data() + kFrameBytes * expected[i], kFrameBytes),
                  1)
            << expected[i];
        EXPECT_DOUBLE_EQ(set->timestamp(i).value_or(-1), expected[i] * 1000.0 / kFps);
    }
    EXPECT_EQ(progress.text(), "Extracting Frames...");
    EXPECT_EQ(progress.steps(), 3);
    EXPECT_EQ(progress.done(), 3);
    EXPECT_EQ(stream->nextFrame(), next);

    Progress cancelled;
    cancelled.cancel();
    EXPECT_EQ(stream->extractFrames(Selection::fromFirstLastSkip(0, 9), &cancelled)->size(), 1);
}

TEST_F(VideoFileStreamTest, DescriptionsNameRatePositionAndMemory)
{
    auto stream = openStream();
    stream->setNextFrame(5);
    const std::string text = stream->describe();
    EXPECT_EQ(text, "Position 0:00.200, frame 5/10, resolution 160x120, 25 nominal FPS");
    EXPECT_EQ(stream->describeSegment(50), "Selection 0:02.000, 50 frames, 2.7 MB");
}

TEST(VideoFileStreamFailureTest, UnreadableFileFailsToOpenWithTheReason)
{
    Log::ScopedCapture capture;
    VideoFileStream stream;
    stream.setFilename("/nonexistent/clip.mp4");
    EXPECT_FALSE(stream.open());
    EXPECT_TRUE(capture->containsFragment(
        Log::Level::Error, "Stream.VideoFileStream",
        "Failed to create video capture: Cannot read video '/nonexistent/clip.mp4'"));
    EXPECT_FALSE(stream.reset());
}

TEST_F(VideoFileStreamTest, InputAlgorithmCreatesANamedRunningStreamOrReportsFailure)
{
    StreamAlgorithmFactory factory;
    const auto entry = factory.entry("Stream.VideoStreamIoFile");
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->menuPath, "IO;Streaming;Video File Stream");
    auto algorithm = factory.create("Stream.VideoStreamIoFile", DataList());
    ASSERT_TRUE(algorithm);
    auto* io = dynamic_cast<VideoStreamIoAlgorithm*>(algorithm.get());
    ASSERT_NE(io, nullptr);
    EXPECT_EQ(io->supportedFileExtensions(),
              (std::vector<std::string>{"avi", "mkv", "mov", "mp4", "wmv", "ogv", "gif"}));
    io->setLocation(clip_);
    io->compute();
    ASSERT_EQ(io->status(), Algorithm::Status::Success);
    OwningDataList output = io->takeOutput();
    ASSERT_EQ(output.size(), 1u);
    auto* stream = dynamic_cast<VideoFileStream*>(output[0]);
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(stream->name(), "clip");
    EXPECT_TRUE(stream->isRunning() || stream->currentState() == State::Open);

    Log::ScopedCapture capture;
    io->setLocation(scratch_.file("missing.mkv"));
    io->compute();
    EXPECT_EQ(io->status(), Algorithm::Status::Error);
    EXPECT_TRUE(
        capture->contains(Log::Level::Error, "Stream.VideoStreamIoAlgorithm", "Could not open video stream"));
    EXPECT_EQ(io->takeOutput().size(), 0u);
    EXPECT_EQ(VideoStreamIoAlgorithmHelper<true>().supportedFileExtensions().size(), 0u);
}

TEST_F(VideoFileStreamTest, ExtractionAlgorithmEstimatesAndExtractsWhileTheStreamKeepsRunning)
{
    auto stream = openStream();
    stream->setLooping(true);
    VideoStreamExtractionAlgorithm extraction(*stream);
    {
        Log::ScopedCapture capture;
        EXPECT_EQ(extraction.estimateMemoryRequirement(), 0u) << "no frame shown yet";
        EXPECT_TRUE(capture->contains(
            Log::Level::Error, "Stream.VideoStreamExtractionAlgorithm",
            "VideoStreamExtractionAlgorithm: Cannot estimate memory requirement, stream buffer is empty"));
    }
    Recorder recorder(*stream);
    ASSERT_TRUE(stream->start());
    ASSERT_TRUE(T::waitUntil([&] { return recorder.count() >= 2; }));
    extraction.setSelection(Selection::fromFirstLastSkip(1, 9, 1));
    EXPECT_EQ(extraction.startFrame.value(), 1);
    EXPECT_EQ(extraction.endFrame.value(), 9);
    EXPECT_EQ(extraction.skip.value(), 1);
    EXPECT_EQ(extraction.estimateMemoryRequirement(), 4 * kFrameBytes);  // (9 - 1 + 1) / 2 frames
    extraction.compute();
    EXPECT_EQ(extraction.status(), Algorithm::Status::Success);
    EXPECT_TRUE(stream->isRunning()) << "a running stream is started again";
    OwningDataList output = extraction.takeOutput();
    ASSERT_EQ(output.size(), 1u);
    EXPECT_EQ(dynamic_cast<SharedImageSet*>(output[0])->size(), 5);  // 1, 3, 5, 7, 9
    stream->stop();
}

TEST_F(VideoFileStreamTest, PlaybackWrapperDrivesOnlyVideoFileStreams)
{
    auto stream = openStream();
    SharedImageSet other("other");
    VideoFileStreamPlaybackWrapper wrapper;
    EXPECT_TRUE(wrapper.handles(stream.get()));
    EXPECT_FALSE(wrapper.handles(&other));
    EXPECT_FALSE(wrapper.handles(nullptr));
    std::atomic<int> updates{0};
    wrapper.setUpdateGuiCallback(stream.get(), [&updates] { ++updates; });
    wrapper.setLooping(stream.get(), true);
    EXPECT_TRUE(wrapper.isLooping(stream.get()));
    wrapper.setPlaySelected(stream.get(), false);
    wrapper.play(stream.get());
    EXPECT_TRUE(wrapper.isPlaying(stream.get()));
    ASSERT_TRUE(T::waitUntil([&] { return updates.load() >= 3; }));
    wrapper.stop(stream.get());
    EXPECT_FALSE(wrapper.isPlaying(stream.get()));
    wrapper.setUpdateGuiCallback(stream.get(), {});
    const int before = updates.load();
    stream->setNextFrame(2);
    EXPECT_EQ(updates.load(), before) << "a removed callback is not called again";
    wrapper.play(&other);  // ignored
    EXPECT_FALSE(wrapper.isPlaying(&other));
}

}  // namespace
}  // namespace Corvexis
