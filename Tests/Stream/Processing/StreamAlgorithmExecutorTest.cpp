#include "Stream/Processing/StreamAlgorithmExecutor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "Host/Core/Log.h"
#include "Host/GL/ContextManager.h"
#include "Host/GL/GlImage.h"
#include "Host/Lib/HostAlgorithmFactory.h"
#include "Host/Lib/ImageProcessing/GaussianSmoothingAlgorithm.h"
#include "Host/Lib/SharedImageSet.h"
#include "Stream/Framework/TestImageStreams.h"
#include "Stream/Processing/AlgorithmExecutorStream.h"
#include "Stream/Processing/TestProcessors.h"
#include "Support/TestUtil.h"

namespace Corvexis {
namespace {

using Test::AddProcessor;
using Test::ManualImageStream;
using Test::RecordCollector;
using Test::TestAlgorithmFactory;
using Test::waitUntil;

constexpr const char* kCategory = "StreamAlgorithmExecutor";
const ImageDescriptor kFrame(ImageDescriptor::kUByte, 4, 3);

// An input that can be paused, to see requests on the output reach it.
class PausableImageStream : public ManualImageStream
{
public:
    ~PausableImageStream() override { close(); }
    bool supportsPausing() const override { return true; }

protected:
    bool pauseImpl() override { return true; }
    bool resumeImpl() override { return true; }
};

class StreamAlgorithmExecutorTest : public ::testing::Test
{
protected:
    TestAlgorithmFactory factory;
    ManualImageStream input{"input"};
};

TEST_F(StreamAlgorithmExecutorTest, ComputeNeedsANameOrAnAlgorithm)
{
    Log::ScopedCapture capture;
    StreamAlgorithmExecutor executor(input);
    executor.compute();
    EXPECT_EQ(executor.status(), Algorithm::Status::InvalidInput);
    EXPECT_TRUE(
        capture->contains(Log::Level::Error, kCategory, "Algorithm name required to instantiate algorithm!"));

    executor.setStreamAlgorithmName("Test.Add");
    executor.compute();
    EXPECT_EQ(executor.status(), Algorithm::Status::Success);

    StreamAlgorithmExecutor given(input, std::make_unique<AddProcessor>(3));
    given.compute();
    EXPECT_EQ(given.status(), Algorithm::Status::Success);
}

TEST_F(StreamAlgorithmExecutorTest, ProcessesEveryFrameInOrderWithItsTimestamps)
{
    StreamAlgorithmExecutor executor(input);
    executor.setStreamAlgorithmName("Test.Add");
    RecordCollector out(*executor.outputStream());
    for (int i = 0; i < 4; ++i) {
        input.emitFrame(kFrame, static_cast<std::uint8_t>(10 * i), 1000 + i);
        executor.waitUntilCompleted();  // one at a time: nothing may be dropped
    }
    EXPECT_EQ(out.firstBytes(), (std::vector<int>{1, 11, 21, 31}));
    const auto records = out.records();
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(records[static_cast<std::size_t>(i)]->timestampArrival(), 1000u + i);
        EXPECT_EQ(records[static_cast<std::size_t>(i)]->timestampDevice(), 1000u + i);
        EXPECT_EQ(records[static_cast<std::size_t>(i)]->stream(), executor.outputStream());
    }
    EXPECT_EQ(factory.created.load(), 1);  // made once, with the first frame
    EXPECT_NE(executor.streamAlgorithm(), nullptr);
}

TEST_F(StreamAlgorithmExecutorTest, BurstKeepsAtMostQueueSizeWaitingAndDropsTheOldest)
{
    StreamAlgorithmExecutor executor(input);
    executor.setStreamAlgorithmName("Test.Add");
    Properties config;
    config.setParam("queueSize", 5);
    executor.configure(&config);
    factory.closedGates = true;
    RecordCollector out(*executor.outputStream());

    input.emitFrame(kFrame, 0);
    ASSERT_TRUE(waitUntil([&] { return factory.last.load() != nullptr; }));
    AddProcessor* slow = factory.last.load();
    slow->waitStarted(1);  // frame 0 is being processed and stays there until the gate opens
    for (int i = 1; i < 20; ++i)
        input.emitFrame(kFrame, static_cast<std::uint8_t>(2 * i));
    EXPECT_LE(executor.queueSize(), 6u);  // the one in progress and at most five waiting
    slow->openGate();
    executor.waitUntilCompleted();

    const auto bytes = out.firstBytes();
    ASSERT_EQ(bytes.size(), 6u);
    EXPECT_EQ(bytes.front(), 1);
    // The five newest frames survived, in arrival order.
    EXPECT_EQ(std::vector<int>(bytes.begin() + 1, bytes.end()), (std::vector<int>{31, 33, 35, 37, 39}));
    EXPECT_EQ(executor.droppedCount(), 14u);
}

TEST_F(StreamAlgorithmExecutorTest, FrameWithoutResultEmitsNothing)
{
    StreamAlgorithmExecutor executor(input, std::make_unique<AddProcessor>(1));
    static_cast<AddProcessor*>(executor.streamAlgorithm())->skipOdd = true;
    RecordCollector out(*executor.outputStream());
    for (int v : {2, 3, 4, 5}) {
        input.emitFrame(kFrame, static_cast<std::uint8_t>(v));
        executor.waitUntilCompleted();
    }
    EXPECT_EQ(out.firstBytes(), (std::vector<int>{3, 5}));
    // Records without images are not frames at all.
    input.emitImages({});
    executor.waitUntilCompleted();
    EXPECT_EQ(out.count(), 2u);
}

TEST_F(StreamAlgorithmExecutorTest, RenamingTakesEffectAtTheNextFrame)
{
    StreamAlgorithmExecutor executor(input);
    RecordCollector out(*executor.outputStream());
    executor.setStreamAlgorithmName("Test.Add");
    input.emitFrame(kFrame, 100);
    executor.waitUntilCompleted();
    Algorithm* first = executor.streamAlgorithm();
    ASSERT_NE(first, nullptr);

    executor.setStreamAlgorithmName("Test.Add");  // unchanged: the algorithm stays
    EXPECT_EQ(executor.streamAlgorithm(), first);
    executor.setStreamAlgorithmName("Test.AddTen");
    EXPECT_EQ(executor.streamAlgorithm(), nullptr);
    input.emitFrame(kFrame, 100);
    executor.waitUntilCompleted();
    EXPECT_EQ(out.firstBytes(), (std::vector<int>{101, 110}));
    EXPECT_EQ(executor.streamAlgorithmName(), "Test.AddTen");
    EXPECT_EQ(factory.created.load(), 2);
}

TEST_F(StreamAlgorithmExecutorTest, StoredConfigurationIsAppliedAndReportedBack)
{
    StreamAlgorithmExecutor executor(input);
    RecordCollector out(*executor.outputStream());
    Properties config;
    config.setParam("algorithmName", "Test.Add");
    config.setParam("forceBlocking", true);
    config.addSubProperties("algorithmConfig")->setParam("amount", 7);
    executor.configure(&config);
    EXPECT_TRUE(executor.paramForceBlocking.value());

    // Before any frame the stored block is reported as it was given.
    Properties before;
    executor.configuration(&before);
    EXPECT_EQ(before.param("algorithmName", ""), "Test.Add");
    ASSERT_NE(before.subProperties("algorithmConfig"), nullptr);
    EXPECT_EQ(before.subProperties("algorithmConfig")->param("amount", 0), 7);

    input.emitFrame(kFrame, 1);
    EXPECT_EQ(out.firstBytes(), (std::vector<int>{8}));

    // Reconfiguring reaches the live algorithm at once.
    Properties again;
    again.addSubProperties("algorithmConfig")->setParam("amount", 2);
    executor.configure(&again);
    input.emitFrame(kFrame, 1);
    EXPECT_EQ(out.firstBytes(), (std::vector<int>{8, 3}));
    Properties after;
    executor.configuration(&after);
    EXPECT_EQ(after.subProperties("algorithmConfig")->param("amount", 0), 2);
    EXPECT_EQ(after.param("queueSize", 0), 5);
}

TEST_F(StreamAlgorithmExecutorTest, ForcedBlockingProcessesOnTheProducersThread)
{
    StreamAlgorithmExecutor executor(input);
    executor.setStreamAlgorithmName("Test.Add");
    executor.paramForceBlocking = true;
    RecordCollector out(*executor.outputStream());
    std::thread producer([&] { input.emitFrame(kFrame, 5); });
    const auto producerId = producer.get_id();
    producer.join();
    // No waiting for the consumer: the record was emitted before emitFrame returned.
    ASSERT_EQ(out.count(), 1u);
    EXPECT_EQ(out.threads().front(), producerId);
    EXPECT_EQ(out.firstBytes(), (std::vector<int>{6}));
}

TEST_F(StreamAlgorithmExecutorTest, UnknownOrUnsuitableAlgorithmsAreLoggedAndFramesDropped)
{
    Log::ScopedCapture capture;
    StreamAlgorithmExecutor executor(input);
    RecordCollector out(*executor.outputStream());
    executor.setStreamAlgorithmName("Test.Missing");
    input.emitFrame(kFrame, 1);
    executor.waitUntilCompleted();
    EXPECT_TRUE(
        capture->contains(Log::Level::Error, kCategory, "Could not factory-create algorithm Test.Missing"));

    executor.setStreamAlgorithmName("Test.Plain");
    input.emitFrame(kFrame, 1);
    executor.waitUntilCompleted();
    EXPECT_TRUE(
        capture->containsFragment(Log::Level::Error, kCategory,
                                  "Algorithm Test.Plain is not capable of processing images sequentially."));
    EXPECT_EQ(executor.streamAlgorithm(), nullptr);
    EXPECT_EQ(out.count(), 0u);
}

// Each creation attempt is announced after the executor's locks are released, so that a receiver
// (a controller) may rename the algorithm from inside it.
TEST_F(StreamAlgorithmExecutorTest, ChangeSignalFollowsEachCreationAttemptOutsideTheLocks)
{
    StreamAlgorithmExecutor executor(input);
    executor.setStreamAlgorithmName("Test.Missing");
    int signals = 0;
    auto connection = executor.signalAlgorithmChanged.connect([&] {
        if (++signals == 2)
            executor.setStreamAlgorithmName("Test.Add");
    });
    RecordCollector out(*executor.outputStream());
    for (int i = 0; i < 4; ++i) {
        input.emitFrame(kFrame, 1);
        executor.waitUntilCompleted();
    }
    connection.disconnect();
    EXPECT_EQ(signals, 3);  // two failed attempts, one creation, then none while the algorithm lives
    EXPECT_EQ(out.firstBytes(), (std::vector<int>{2, 2}));
}

// The output stream announces the same attempts, also once it was taken from the executor; a frame
// processed by a living algorithm announces nothing.
TEST_F(StreamAlgorithmExecutorTest, OutputStreamAnnouncesEachAlgorithmCreationAttempt)
{
    StreamAlgorithmExecutor executor(input);
    executor.setStreamAlgorithmName("Test.Missing");
    int executorSignals = 0;
    std::vector<std::pair<int, bool>> streamSignals;  // executor signals seen before, algorithm present
    auto onExecutor = executor.signalAlgorithmChanged.connect([&] { ++executorSignals; });
    AlgorithmExecutorStream* output = executor.outputStream();
    auto onStream = output->signalAlgorithmChanged.connect(
        [&] { streamSignals.emplace_back(executorSignals, executor.streamAlgorithm() != nullptr); });
    input.emitFrame(kFrame, 1);
    executor.waitUntilCompleted();
    ASSERT_EQ(streamSignals.size(), 1u);
    EXPECT_EQ(streamSignals[0], std::make_pair(1, false));  // after the executor's, for the failure

    OwningDataList taken = executor.takeOutput();
    ASSERT_EQ(taken.size(), 1u);
    executor.setStreamAlgorithmName("Test.Add");
    RecordCollector out(*output);
    for (int i = 0; i < 3; ++i) {
        input.emitFrame(kFrame, 1);
        executor.waitUntilCompleted();
    }
    EXPECT_EQ(out.count(), 3u);
    ASSERT_EQ(streamSignals.size(), 2u);
    EXPECT_EQ(streamSignals[1], std::make_pair(2, true));
    onStream.disconnect();
    onExecutor.disconnect();
}

TEST_F(StreamAlgorithmExecutorTest, OutputFollowsFrameCountKindAndModality)
{
    StreamAlgorithmExecutor executor(input, std::make_unique<AddProcessor>(1));
    AlgorithmExecutorStream* output = executor.outputStream();
    RecordCollector out(*output);
    input.emitImages({ManualImageStream::makeImage(kFrame, 1, Data::Modality::Ultrasound),
                      ManualImageStream::makeImage(kFrame, 2)});
    executor.waitUntilCompleted();
    EXPECT_EQ(output->size(), 2);
    ASSERT_EQ(out.count(), 1u);
    EXPECT_EQ(out.records().front()->size(), 2u);
    EXPECT_EQ(output->kind(), Data::Kind::ImageStream);

    input.emitFrame(ImageDescriptor(ImageDescriptor::kUByte, 4, 3, 2), 1);
    executor.waitUntilCompleted();
    EXPECT_EQ(output->size(), 1);
    EXPECT_EQ(output->kind(), Data::Kind::VolumeStream);
}

TEST_F(StreamAlgorithmExecutorTest, OutputRequestsActOnTheInput)
{
    PausableImageStream pausable;
    StreamAlgorithmExecutor executor(pausable);
    AlgorithmExecutorStream* output = executor.outputStream();
    ASSERT_TRUE(output->open());
    EXPECT_EQ(pausable.currentState(), Stream::State::Closed);  // opening does not reach the input
    ASSERT_TRUE(pausable.open());
    ASSERT_TRUE(output->start());
    EXPECT_EQ(pausable.currentState(), Stream::State::Running);
    ASSERT_TRUE(output->pause());
    EXPECT_EQ(pausable.currentState(), Stream::State::Paused);
    ASSERT_TRUE(output->resume());
    EXPECT_EQ(pausable.currentState(), Stream::State::Running);
    ASSERT_TRUE(output->stop());
    EXPECT_EQ(pausable.currentState(), Stream::State::Open);
}

TEST_F(StreamAlgorithmExecutorTest, TakenOutputIsForgottenWhenItsOwnerDestroysIt)
{
    StreamAlgorithmExecutor executor(input, std::make_unique<AddProcessor>(1));
    OwningDataList taken = executor.takeOutput();
    ASSERT_EQ(taken.size(), 1u);
    EXPECT_EQ(taken[0], executor.outputStream());
    EXPECT_TRUE(executor.takeOutput().empty());
    taken.clear();
    EXPECT_EQ(executor.outputStream(), nullptr);
    // Frames still arrive; there is nowhere to emit them, and nothing breaks.
    input.emitFrame(kFrame, 1);
    executor.waitUntilCompleted();
}

TEST_F(StreamAlgorithmExecutorTest, CreatorTakesOneImageStreamThatIsNotEncoded)
{
    ManualImageStream other;
    SharedImageSet notAStream;
    std::unique_ptr<Algorithm> made;
    EXPECT_TRUE(StreamAlgorithmExecutor::createCompatible(DataList{&input}, &made));
    EXPECT_NE(dynamic_cast<StreamAlgorithmExecutor*>(made.get()), nullptr);
    EXPECT_FALSE(StreamAlgorithmExecutor::createCompatible(DataList{&input, &other}, nullptr));
    EXPECT_FALSE(StreamAlgorithmExecutor::createCompatible(DataList{&notAStream}, nullptr));
    other.setKind(Data::Kind::EncodedImageStream);
    EXPECT_FALSE(StreamAlgorithmExecutor::createCompatible(DataList{&other}, nullptr));
}

// Frames made on the graphics card by a producer with a context reach the consumer through the fence;
// with "processOnGpu" main-memory frames are uploaded first, so the host smoothing runs its card path.
TEST_F(StreamAlgorithmExecutorTest, HostSmoothingOnTheCardMatchesMainMemory)
{
    if (!GL::ContextManager::get().isAvailable())
        GTEST_SKIP() << "OpenGL is not available: " << GL::ContextManager::get().unavailableReason();
    HostAlgorithmFactory::Registration host;
    StreamAlgorithmExecutor executor(input);
    executor.setStreamAlgorithmName("Host.GaussianSmoothing");
    executor.paramProcessOnGpu = true;
    Properties config;
    config.addSubProperties("algorithmConfig")->setParam("sigma", 1.5);
    executor.configure(&config);
    RecordCollector out(*executor.outputStream());

    const ImageDescriptor desc(ImageDescriptor::kUByte, 17, 9, 1, 3);
    auto frame = ManualImageStream::makeImage(desc, 0);
    auto* bytes = static_cast<std::uint8_t*>(frame->mem()->data());
    for (std::size_t i = 0; i < frame->mem()->byteSize(); ++i)
        bytes[i] = static_cast<std::uint8_t>((i * 37) % 251);
    frame->markChanged(Image::Location::Memory);
    std::thread producer([&] {
        // The producer owns a context, as a stream worker does, and its frame lives on the card.
        auto context = GL::ContextManager::get().createContext();
        auto onCard = std::make_shared<SharedImage>(GlImage::fromMemImage(*frame->mem()));
        input.emitImages({onCard});
    });
    producer.join();
    executor.waitUntilCompleted();
    ASSERT_EQ(out.count(), 1u);
    const auto result = out.records().front()->images().front();
    EXPECT_TRUE(result->hasGl());
    auto reference =
        GaussianSmoothingAlgorithm::smoothMem(*frame->mem(), GaussianSmoothingAlgorithm::kernel(1.5));
    const auto* want = static_cast<const std::uint8_t*>(reference->data());
    const auto* got = static_cast<const std::uint8_t*>(result->mem()->data());
    for (std::size_t i = 0; i < reference->byteSize(); ++i)
        ASSERT_LE(std::abs(int(want[i]) - int(got[i])), 1) << i;
}

}  // namespace
}  // namespace Corvexis
