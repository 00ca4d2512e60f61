#include "Stream/Simulated/FakeImageStream.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Host/Core/Log.h"
#include "Host/Core/MemImage.h"
#include "Host/Core/Properties.h"
#include "Host/Core/VitalsDataComponent.h"
#include "Host/GL/ContextManager.h"
#include "Host/GL/RequireOpenGL.h"
#include "Host/Lib/SharedImage.h"
#include "Host/Lib/SharedImageSet.h"
#include "Stream/Framework/ImageStreamData.h"
#include "Stream/Simulated/FakeImageCpuPainter.h"
#include "Stream/Simulated/FakeImageFrame.h"
#include "Stream/Simulated/FakeImageTestUtil.h"
#include "Support/TestUtil.h"

using namespace Corvexis;
namespace T = Corvexis::Test;

namespace {

using Representation = FakeImageStream::EmittedImageRepresentation;

// Runs doWork on the test thread and keeps every record emitted.
class DrivenFakeImageStream : public FakeImageStream
{
public:
    using FakeImageStream::doWork;

    DrivenFakeImageStream(int width, int height, int slices, int channels)
        : FakeImageStream(width, height, slices, channels)
    {
        connection_ = signalStreamData.connect([this](const std::shared_ptr<const StreamData>& data) {
            std::lock_guard lock(mutex_);
            records_.push_back(std::dynamic_pointer_cast<const ImageStreamData>(data));
        });
    }

    std::vector<std::shared_ptr<const ImageStreamData>> records() const
    {
        std::lock_guard lock(mutex_);
        return records_;
    }
    std::shared_ptr<const ImageStreamData> last() const
    {
        std::lock_guard lock(mutex_);
        return records_.empty() ? nullptr : records_.back();
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<const ImageStreamData>> records_;
    SignalConnection connection_;
};

// A main-memory copy of the first image of a record (records share pixel storage with the stream).
std::unique_ptr<MemImage> pixelsOf(const ImageStreamData& record, int index = 0)
{
    return record.images().at(static_cast<std::size_t>(index))->mem()->clone();
}

const VitalsDataComponent::TimeSeries* ecgOf(const ImageStreamData& record)
{
    const auto* vitals = record.components().get<VitalsDataComponent>();
    return vitals != nullptr ? vitals->timeSeries(VitalsDataComponent::VitalsKind::Ecg) : nullptr;
}

}  // namespace

TEST(FakeImageStreamTest, DefaultsAreOneHundredSquareUnsignedBytesAtThirtyFps)
{
    FakeImageStream stream;
    EXPECT_EQ(stream.name(), "Fake Image Stream");
    EXPECT_EQ(stream.descriptor(), ImageDescriptor(ImageDescriptor::kUByte, 100, 100, 1, 1));
    EXPECT_EQ(stream.width(), 100);
    EXPECT_EQ(stream.height(), 100);
    EXPECT_EQ(stream.fps.value(), 30.0);
    EXPECT_EQ(stream.numImages(), 1);
    EXPECT_EQ(stream.emittedImageRepresentation(), Representation::GlImage);
    EXPECT_FALSE(stream.getEmitVitalsData());
    EXPECT_EQ(stream.frameCounter(), 0);
    EXPECT_EQ(stream.kind(), Data::Kind::ImageStream);
    EXPECT_TRUE(stream.supportsPausing());
    EXPECT_GE(stream.vitalsPhase(), 0.0);
    EXPECT_LT(stream.vitalsPhase(), 1.0);
}

TEST(FakeImageStreamTest, ImageConstructorTakesTheDescriptorAndHasNoPhase)
{
    auto image = MemImage::create(ImageDescriptor(ImageDescriptor::kUShort, 20, 10, 1, 2));
    FakeImageStream stream(std::move(image));
    EXPECT_EQ(stream.descriptor(), ImageDescriptor(ImageDescriptor::kUShort, 20, 10, 1, 2));
    EXPECT_EQ(stream.numImages(), 1);
    EXPECT_EQ(stream.vitalsPhase(), 0.0);
}

TEST(FakeImageStreamTest, FramePeriodIsTruncatedToWholeMicroseconds)
{
    EXPECT_EQ(FakeImageStream::framePeriod(30.0), Stream::Ticks(333330));
    EXPECT_EQ(FakeImageStream::framePeriod(60.0), Stream::Ticks(166660));  // 16666 us, not 16667
    EXPECT_EQ(FakeImageStream::framePeriod(1.0), Stream::Ticks(10'000'000));
    EXPECT_FALSE(FakeImageStream::framePeriod(0.0));
    EXPECT_FALSE(FakeImageStream::framePeriod(-5.0));
    EXPECT_FALSE(FakeImageStream::framePeriod(std::nan("")));
}

TEST(FakeImageStreamTest, DueTimeIsOnePeriodAfterTheCycleBegan)
{
    DrivenFakeImageStream stream(16, 16, 1, 1);
    stream.setEmittedImageRepresentation(Representation::MemImage);
    for (double rate : {30.0, 60.0}) {
        stream.fps = rate;
        const auto before = std::chrono::time_point_cast<Stream::Ticks>(std::chrono::system_clock::now());
        const auto answer = stream.doWork();
        const auto after = std::chrono::time_point_cast<Stream::Ticks>(std::chrono::system_clock::now());
        ASSERT_TRUE(answer && answer->nextCall);
        const Stream::Ticks period = *FakeImageStream::framePeriod(rate);
        EXPECT_GE(*answer->nextCall - period, before);
        EXPECT_LE(*answer->nextCall - period, after);
    }
    // Both cycles emitted a record with equal device and arrival times.
    ASSERT_EQ(stream.records().size(), 2u);
    for (const auto& record : stream.records()) {
        ASSERT_NE(record, nullptr);
        EXPECT_NE(record->timestampArrival(), 0u);
        EXPECT_EQ(record->timestampDevice(), record->timestampArrival());
        EXPECT_EQ(record->stream(), &stream);
    }
}

TEST(FakeImageStreamTest, CounterWrapsAfter360FramesAndTheAnimationRepeats)
{
    DrivenFakeImageStream stream(24, 20, 1, 1);
    stream.setEmittedImageRepresentation(Representation::MemImage);
    stream.doWork();
    auto first = pixelsOf(*stream.last());
    auto second = std::unique_ptr<MemImage>();
    for (int i = 1; i < 360; ++i) {
        stream.doWork();
        if (i == 1)
            second = pixelsOf(*stream.last());
    }
    EXPECT_EQ(stream.frameCounter(), 0);
    stream.doWork();
    EXPECT_EQ(stream.frameCounter(), 1);
    EXPECT_TRUE(pixelsOf(*stream.last())->hasSamePixels(*first));
    EXPECT_FALSE(second->hasSamePixels(*first));
}

TEST(FakeImageStreamTest, RecordPixelsMatchThePictureOfTheirFrame)
{
    DrivenFakeImageStream stream(40, 30, 1, 3);
    stream.setEmittedImageRepresentation(Representation::MemImage);
    stream.setNumImages(2);
    stream.doWork();
    stream.doWork();  // counter 1
    const auto record = stream.last();
    ASSERT_EQ(record->size(), 2u);
    for (int k = 0; k < 2; ++k) {
        auto expected = MemImage::create(stream.descriptor());
        ASSERT_TRUE(FakeImageCpuPainter::paint(*expected, T::frameOf(stream.descriptor(), 1, k)));
        EXPECT_TRUE(pixelsOf(*record, k)->hasSamePixels(*expected)) << k;
    }
    // Two images of one record differ (their own small discs and diagonal offset).
    EXPECT_FALSE(pixelsOf(*record, 0)->hasSamePixels(*pixelsOf(*record, 1)));
    // Main memory only.
    EXPECT_FALSE(record->images().at(0)->hasGl());
}

// Consumers that keep a frame past its emission (an executor's queue keeps shallow clones) must never
// see it repainted with a later picture.
TEST(FakeImageStreamTest, FramesKeptByAConsumerAreNeverRepaintedInPlace)
{
    DrivenFakeImageStream stream(64, 48, 1, 1);
    stream.setEmittedImageRepresentation(Representation::MemImage);
    stream.doWork();
    const auto kept = stream.last()->shallowCloneToSharedImageSet();
    auto frame0 = MemImage::create(stream.descriptor());
    ASSERT_TRUE(FakeImageCpuPainter::paint(*frame0, T::frameOf(stream.descriptor(), 0)));
    for (int i = 0; i < 3; ++i)
        stream.doWork();
    ASSERT_NE(kept, nullptr);
    ASSERT_EQ(kept->size(), 1u);
    const MemImage* pixels = kept->get(0)->mem();
    ASSERT_NE(pixels, nullptr);
    EXPECT_TRUE(pixels->hasSamePixels(*frame0));
    EXPECT_FALSE(pixelsOf(*stream.last())->hasSamePixels(*frame0));
}

TEST(FakeImageStreamTest, VitalsStartWithOneSampleAndRestartWhenSwitchedOffAndOn)
{
    DrivenFakeImageStream stream(8, 8, 1, 1);
    stream.setEmittedImageRepresentation(Representation::MemImage);
    stream.setEmitVitalsData(true);
    stream.doWork();
    const auto first = stream.last();
    const auto* firstSeries = ecgOf(*first);
    ASSERT_NE(firstSeries, nullptr);
    ASSERT_EQ(firstSeries->samples.size(), 1u);
    const std::int64_t firstTicks = static_cast<std::int64_t>(first->timestampArrival()) * 10000;
    EXPECT_EQ(firstSeries->samples[0].time.time_since_epoch().count(), firstTicks);
    EXPECT_DOUBLE_EQ(firstSeries->samples[0].value,
                     FakeImageStream::ecg(firstTicks / 1e7 + stream.vitalsPhase()));

    // Wait for at least 10 ms to pass, then the next record carries the samples in between, 1/300 s apart.
    ASSERT_TRUE(T::waitUntil([&] {
        return std::chrono::system_clock::now().time_since_epoch() >
               std::chrono::milliseconds(first->timestampArrival() + 12);
    }));
    stream.doWork();
    const auto second = stream.last();
    const auto* series = ecgOf(*second);
    ASSERT_NE(series, nullptr);
    ASSERT_GE(series->samples.size(), 3u);
    const std::int64_t secondTicks = static_cast<std::int64_t>(second->timestampArrival()) * 10000;
    std::int64_t previous = firstTicks;
    for (const auto& sample : series->samples) {
        const std::int64_t t = sample.time.time_since_epoch().count();
        EXPECT_NEAR(static_cast<double>(t - previous), 1e7 / 300.0, 1.0);
        EXPECT_LT(t, secondTicks);
        previous = t;
    }
    EXPECT_GE(previous + 33334, secondTicks);  // no sample missing before the record time

    stream.setEmitVitalsData(false);
    stream.doWork();
    EXPECT_EQ(ecgOf(*stream.last()), nullptr);
    stream.setEmitVitalsData(true);
    stream.doWork();
    const auto restarted = stream.last();
    ASSERT_NE(ecgOf(*restarted), nullptr);
    ASSERT_EQ(ecgOf(*restarted)->samples.size(), 1u);
    EXPECT_EQ(ecgOf(*restarted)->samples[0].time.time_since_epoch().count(),
              static_cast<std::int64_t>(restarted->timestampArrival()) * 10000);
}

TEST(FakeImageStreamTest, EcgHasOneBeatPerSecondWithItsPeakAtTheRWave)
{
    // The R wave, pulled down a little by the Q and S waves beside it.
    EXPECT_GT(FakeImageStream::ecg(0.22), 0.8);
    EXPECT_GT(FakeImageStream::ecg(0.22), FakeImageStream::ecg(0.21));
    EXPECT_GT(FakeImageStream::ecg(0.22), FakeImageStream::ecg(0.23));
    EXPECT_NEAR(FakeImageStream::ecg(3.22), FakeImageStream::ecg(0.22), 1e-9);
    EXPECT_LT(FakeImageStream::ecg(0.24), 0.0);  // S wave
    EXPECT_NEAR(FakeImageStream::ecg(0.7), 0.0, 1e-3);
}

TEST(FakeImageStreamTest, LegacyFlatConfigurationIsRead)
{
    FakeImageStream stream;
    Properties p;
    p.setParam("width", 64);
    p.setParam("height", 32);
    stream.configure(&p);
    EXPECT_EQ(stream.descriptor(), ImageDescriptor(ImageDescriptor::kUByte, 64, 32, 1, 1));
    // Keys that are missing leave the rest as they were.
    EXPECT_EQ(stream.emittedImageRepresentation(), Representation::GlImage);
    EXPECT_EQ(stream.numImages(), 1);

    Properties q;
    q.setParam("width", 10);
    q.setParam("height", 12);
    q.setParam("slices", 3);
    q.setParam("channels", 2);
    q.setParam("spacing", Eigen::Vector3d(0.5, 0.25, 2.0));
    q.setParam("emittedImageRepresentation", 0);
    stream.configure(&q);
    ImageDescriptor expected(ImageDescriptor::kUByte, 10, 12, 3, 2);
    expected.spacing = Eigen::Vector3d(0.5, 0.25, 2.0);
    EXPECT_EQ(stream.descriptor(), expected);
    EXPECT_EQ(stream.kind(), Data::Kind::VolumeStream);
    EXPECT_EQ(stream.emittedImageRepresentation(), Representation::MemImage);
}

TEST(FakeImageStreamTest, ConfigurationRoundTrips)
{
    FakeImageStream source(50, 40, 1, 3);
    source.fps = 12.5;
    ImageDescriptor d(ImageDescriptor::kShort, 50, 40, 4, 3);
    d.spacing = Eigen::Vector3d(0.1, 0.2, 0.3);
    source.setDescriptor(d);
    source.setNumImages(3);
    source.setEmittedImageRepresentation(Representation::MemAndGlImage);
    source.setEmitVitalsData(true);
    Properties p;
    source.configuration(&p);
    ASSERT_NE(p.subProperties("descriptor"), nullptr);
    EXPECT_EQ(p.param("numImages", 0), 3);
    EXPECT_EQ(p.param("emittedImageRepresentation", -1), 2);

    FakeImageStream target;
    target.configure(&p);
    EXPECT_EQ(target.fps.value(), 12.5);
    EXPECT_EQ(target.descriptor(), d);
    EXPECT_EQ(target.numImages(), 3);
    EXPECT_EQ(target.emittedImageRepresentation(), Representation::MemAndGlImage);
    EXPECT_TRUE(target.getEmitVitalsData());
    EXPECT_EQ(target.kind(), Data::Kind::VolumeStream);
}

TEST(FakeImageStreamTest, ShapeSettersUpdateKindAndLimitChannels)
{
    Log::ScopedCapture capture;
    FakeImageStream stream(10, 10, 1, 1);
    std::vector<Data::Kind> kinds;
    auto connection = stream.signalKindChanged.connect([&](Data::Kind k) { kinds.push_back(k); });
    stream.setImageSize(10, 10, 6, 7);
    EXPECT_EQ(stream.descriptor().channels, 4);
    EXPECT_EQ(stream.descriptor().slices, 6);
    EXPECT_TRUE(capture->containsFragment(Log::Level::Warning, "FakeImageStream", "at most 4 channels"));
    stream.setImageSize(10, 10, 6, 2);  // still a volume: no signal
    stream.setImageSize(12, 10, 1, 2);
    EXPECT_EQ(kinds, (std::vector<Data::Kind>{Data::Kind::VolumeStream, Data::Kind::ImageStream}));

    stream.setSpacing(Eigen::Vector3d(0.5, 0.5, 1.0));
    EXPECT_EQ(stream.descriptor().spacing, Eigen::Vector3d(0.5, 0.5, 1.0));
    stream.setSpacing(Eigen::Vector3d(-1.0, 0.5, 1.0));
    EXPECT_EQ(stream.descriptor().spacing, Eigen::Vector3d(0.5, 0.5, 1.0));
}

TEST(FakeImageStreamTest, EveryPixelTypeIsPaintedInMainMemory)
{
    for (int type : T::kAllTypes) {
        DrivenFakeImageStream stream(12, 9, 1, 2);
        stream.setEmittedImageRepresentation(Representation::MemImage);
        stream.setDescriptor(ImageDescriptor(type, 12, 9, 1, 2));
        stream.doWork();
        auto expected = MemImage::create(stream.descriptor());
        ASSERT_TRUE(FakeImageCpuPainter::paint(*expected, T::frameOf(stream.descriptor(), 0)));
        EXPECT_TRUE(pixelsOf(*stream.last())->hasSamePixels(*expected)) << type;
    }
}

class FakeImageStreamGlTest : public T::OpenGLTest
{
};

// Both paths of graphics-card painting (the compute shader, and main memory plus an upload) give the
// main-memory painter's pixels, in both graphics-card representations.
TEST_F(FakeImageStreamGlTest, GraphicsCardFramesEqualMainMemoryFramesOnEveryPath)
{
    using Path = FakeImageStream::GlPaintPath;
    for (Path path : {Path::ComputeShader, Path::CpuUpload}) {
        for (Representation representation : {Representation::GlImage, Representation::MemAndGlImage}) {
            SCOPED_TRACE(static_cast<int>(path) * 10 + static_cast<int>(representation));
            DrivenFakeImageStream stream(33, 17, 1, 3);
            stream.setDescriptor(ImageDescriptor(ImageDescriptor::kUShort, 33, 17, 1, 3));
            stream.setEmittedImageRepresentation(representation);
            stream.setGlPaintPath(path);
            stream.setNumImages(2);
            stream.doWork();
            stream.doWork();
            EXPECT_EQ(stream.glPaintPathInUse(), path);
            const auto record = stream.last();
            ASSERT_EQ(record->size(), 2u);
            const auto images = record->images();
            for (int k = 0; k < 2; ++k) {
                const auto& image = images[static_cast<std::size_t>(k)];
                EXPECT_TRUE(image->isUpToDate(Image::Location::OpenGL));
                EXPECT_EQ(image->isUpToDate(Image::Location::Memory),
                          representation == Representation::MemAndGlImage);
                auto expected = MemImage::create(stream.descriptor());
                ASSERT_TRUE(FakeImageCpuPainter::paint(*expected, T::frameOf(stream.descriptor(), 1, k)));
                EXPECT_TRUE(pixelsOf(*record, k)->hasSamePixels(*expected)) << k;
            }
        }
    }
}

// The texture painted by the shader and the one uploaded from main memory hold the same bytes, for
// every pixel type and channel count the picture has.
TEST_F(FakeImageStreamGlTest, UploadedFramesEqualShaderFramesForEveryPixelType)
{
    using Path = FakeImageStream::GlPaintPath;
    for (int type :
         {ImageDescriptor::kUByte, ImageDescriptor::kByte, ImageDescriptor::kUShort, ImageDescriptor::kShort,
          ImageDescriptor::kUInt, ImageDescriptor::kInt, ImageDescriptor::kFloat}) {
        for (int channels : {1, 3, 4}) {
            SCOPED_TRACE(std::to_string(type) + " x " + std::to_string(channels));
            const ImageDescriptor d(type, 21, 13, 1, channels);
            std::unique_ptr<MemImage> pixels[2];
            for (Path path : {Path::ComputeShader, Path::CpuUpload}) {
                DrivenFakeImageStream stream(21, 13, 1, channels);
                stream.setDescriptor(d);
                stream.setGlPaintPath(path);
                for (int i = 0; i < 7; ++i)
                    stream.doWork();
                pixels[path == Path::CpuUpload] = pixelsOf(*stream.last());
            }
            ASSERT_TRUE(pixels[0] && pixels[1]);
            EXPECT_TRUE(pixels[0]->hasSamePixels(*pixels[1]));
        }
    }
}

// Automatic takes main memory plus an upload on a software rasteriser (the test machines' llvmpipe) and
// the shader on a graphics card, and says which once.
TEST_F(FakeImageStreamGlTest, AutomaticPathFollowsTheGraphicsDevice)
{
    Log::ScopedCapture capture;
    DrivenFakeImageStream stream(16, 16, 1, 1);
    EXPECT_EQ(stream.glPaintPath(), FakeImageStream::GlPaintPath::Automatic);
    EXPECT_EQ(stream.glPaintPathInUse(), FakeImageStream::GlPaintPath::Automatic);
    stream.doWork();
    stream.doWork();
    const bool software = GL::ContextManager::get().isSoftwareRenderer();
    EXPECT_EQ(stream.glPaintPathInUse(), software ? FakeImageStream::GlPaintPath::CpuUpload
                                                  : FakeImageStream::GlPaintPath::ComputeShader);
    EXPECT_EQ(capture->count(Log::Level::Info, "FakeImageStream",
                             (software ? "Painting graphics-card images in main memory and uploading them "
                                         "(graphics device: "
                                       : "Painting graphics-card images with the compute shader (graphics "
                                         "device: ") +
                                 GL::ContextManager::get().renderer() + ")"),
              1u);
}

TEST_F(FakeImageStreamGlTest, RunningStreamEmitsOnItsWorker)
{
    FakeImageStream stream(32, 32, 1, 1);
    stream.fps = 200.0;
    std::mutex mutex;
    std::vector<std::shared_ptr<const ImageStreamData>> records;
    auto connection = stream.signalStreamData.connect([&](const std::shared_ptr<const StreamData>& data) {
        std::lock_guard lock(mutex);
        records.push_back(std::dynamic_pointer_cast<const ImageStreamData>(data));
    });
    ASSERT_TRUE(stream.start());
    EXPECT_TRUE(T::waitUntil([&] {
        std::lock_guard lock(mutex);
        return records.size() >= 5;
    }));
    EXPECT_TRUE(stream.pause());
    EXPECT_TRUE(stream.resume());
    EXPECT_TRUE(stream.close());
    std::lock_guard lock(mutex);
    ASSERT_GE(records.size(), 5u);
    EXPECT_TRUE(records[0]->containsGlImage());
    EXPECT_EQ(stream.ImageStream::descriptor(), stream.descriptor());
}
