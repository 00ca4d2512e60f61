#include "Stream/Framework/StreamData.h"

#include <gtest/gtest.h>

#include "Host/Core/Log.h"
#include "Host/Core/TypedImage.h"
#include "Host/Lib/SharedImageSet.h"
#include "Stream/Framework/CompoundStreamData.h"
#include "Stream/Framework/ImageStreamData.h"
#include "Stream/Framework/PolyDataStreamData.h"
#include "Stream/Framework/TestStreams.h"
#include "Stream/Framework/TrackingStreamData.h"

using namespace Corvexis;
namespace T = Corvexis::Test;

namespace {

TrackingInstrument instrument(const std::string& id, const std::string& name, std::uint64_t timestamp)
{
    TrackingInstrument t;
    t.id = TrackerID(id, name);
    t.timestamp = timestamp;
    return t;
}

std::shared_ptr<SharedImage> memoryImage(int width, int height, std::uint8_t fill)
{
    auto mem = MemImage::create(ImageDescriptor(5121, width, height));
    std::memset(mem->data(), fill, mem->byteSize());
    return std::make_shared<SharedImage>(std::move(mem));
}

std::uint8_t firstPixel(const SharedImage& image)
{
    return static_cast<const std::uint8_t*>(image.mem()->data())[0];
}

}  // namespace

TEST(StreamDataTest, ArrivalTimePointsAreTruncatedMilliseconds)
{
    T::PlainRecord record(nullptr);
    using Ticks = std::chrono::duration<std::int64_t, std::ratio<1, 10'000'000>>;
    record.setTimestampArrival(std::chrono::system_clock::time_point(Ticks(15'999)));
    EXPECT_EQ(record.timestampArrival(), 1u);
    record.setTimestampArrival(std::chrono::system_clock::time_point(Ticks(-9'999)));
    EXPECT_EQ(record.timestampArrival(), 0u) << "toward zero, not toward minus infinity";
    record.setTimestampArrival(std::uint64_t{1234});
    EXPECT_EQ(record.timestampArrival(), 1234u);
    EXPECT_EQ(record.timestampDevice(), 0u) << "device time is not set by arrival time";
}

TEST(StreamDataTest, TrackingLookupsAndDeviceTime)
{
    TrackingStreamData record(nullptr, {instrument("a", "Probe", 500), instrument("a", "Second", 500),
                                        instrument("b", "Needle", 0)});
    EXPECT_EQ(record.timestampDevice(), 500u) << "device time comes from the first instrument";
    EXPECT_FALSE(record.instrument("").has_value());
    ASSERT_TRUE(record.instrument("a").has_value());
    EXPECT_EQ(record.instrument("a")->id.name(), "Probe") << "the first of two equal identifiers";
    EXPECT_FALSE(record.instrument("A").has_value()) << "exact comparison";
    ASSERT_TRUE(record.instrumentByName("Needle").has_value());
    EXPECT_EQ(record.instrumentByName("Needle")->id.ID(), "b");
    EXPECT_TRUE(record.consistentDeviceTimestamps());

    TrackingStreamData other(nullptr, {instrument("c", "C", 700), instrument("d", "D", 701)});
    EXPECT_FALSE(other.consistentDeviceTimestamps());
    record.update(&other);
    EXPECT_EQ(record.instruments().size(), 2u);
    EXPECT_EQ(record.timestampDevice(), 700u);
    record.update(&record);
    EXPECT_EQ(record.instruments().size(), 2u);

    TrackingStreamData empty(nullptr, {});
    EXPECT_TRUE(empty.consistentDeviceTimestamps());
    EXPECT_EQ(empty.timestampDevice(), 0u);
}

TEST(StreamDataTest, CloneKeepsStreamTimestampsAndValues)
{
    T::ScriptedStream stream("owner", Stream::ThreadingMode::NoWorkerThread);
    TrackingStreamData record(&stream, {instrument("a", "A", 10)});
    record.setTimestampArrival(std::uint64_t{20});
    auto copy = record.clone();
    EXPECT_EQ(copy->stream(), &stream);
    EXPECT_EQ(copy->timestampArrival(), 20u);
    EXPECT_EQ(copy->timestampDevice(), 10u);
    auto* tracking = dynamic_cast<TrackingStreamData*>(copy.get());
    ASSERT_NE(tracking, nullptr);
    EXPECT_EQ(tracking->instruments()[0].id.ID(), "a");

    PolyDataStreamData poly(&stream);
    poly.setName("surface");
    poly.setTimestampDevice(5);
    auto polyCopy = poly.clone();
    EXPECT_EQ(dynamic_cast<PolyDataStreamData&>(*polyCopy).name(), "surface");
    EXPECT_EQ(polyCopy->timestampDevice(), 5u);

    auto proxy = std::shared_ptr<const StreamData>(record.clone());
    CompoundStreamData compound(proxy, {proxy, nullptr});
    EXPECT_EQ(compound.proxyStreamData(), proxy);
    EXPECT_EQ(compound.substreamsStreamData().size(), 2u);
}

TEST(StreamDataTest, ImageRecordClonesShareImagesButSetImagesCopies)
{
    auto source = memoryImage(4, 3, 7);
    ImageStreamData record(nullptr, source);
    ASSERT_EQ(record.size(), 1u);
    EXPECT_NE(record.images()[0].get(), source.get()) << "the record stores its own (shallow) copy";
    EXPECT_EQ(firstPixel(*record.images()[0]), 7);

    auto clone = record.clone();
    auto& cloned = dynamic_cast<ImageStreamData&>(*clone);
    EXPECT_EQ(cloned.images()[0].get(), record.images()[0].get()) << "a clone shares the very same image";
    auto* pixels = static_cast<std::uint8_t*>(const_cast<SharedImage&>(*record.images()[0]).mem()->data());
    pixels[0] = 99;
    EXPECT_EQ(firstPixel(*cloned.images()[0]), 99);

    std::vector<std::shared_ptr<const SharedImage>> given{memoryImage(2, 2, 1), memoryImage(2, 2, 2)};
    record.setImages(given);
    ASSERT_EQ(record.size(), 2u);
    EXPECT_NE(record.images()[0].get(), given[0].get());
    EXPECT_EQ(firstPixel(*record.images()[1]), 2);
    EXPECT_FALSE(record.containsGlImage());
}

TEST(StreamDataTest, ImageRecordFromNullOrMemImageOrSet)
{
    Log::ScopedCapture capture;
    ImageStreamData fromNull(nullptr, static_cast<MemImage*>(nullptr));
    EXPECT_EQ(fromNull.size(), 0u);
    EXPECT_TRUE(capture->contains(Log::Level::Error, "ImageStreamData",
                                  "Input image is nullptr, not adding it to the ImageStreamData container"));
    ImageStreamData fromNullShared(nullptr, std::shared_ptr<SharedImage>());
    EXPECT_EQ(fromNullShared.size(), 0u);

    auto mem = MemImage::create(ImageDescriptor(5123, 5, 5));
    static_cast<std::uint16_t*>(mem->data())[0] = 4000;
    ImageStreamData fromMem(nullptr, mem.get());
    ASSERT_EQ(fromMem.size(), 1u);
    static_cast<std::uint16_t*>(mem->data())[0] = 1;
    EXPECT_EQ(static_cast<const std::uint16_t*>(fromMem.images()[0]->mem()->data())[0], 4000)
        << "a deep copy";

    SharedImageSet set;
    set.add(memoryImage(3, 3, 3), 10.0);
    set.add(memoryImage(3, 3, 4), 20.0);
    ImageStreamData fromSet(nullptr, std::move(set));
    ASSERT_EQ(fromSet.size(), 2u);
    EXPECT_EQ(fromSet.elementwiseComponents().size(), 2u);
    auto back = fromSet.shallowCloneToSharedImageSet();
    ASSERT_EQ(back->size(), 2);
    EXPECT_EQ(firstPixel(*back->get(1)), 4);
}

TEST(StreamDataTest, ByReferenceSignalClonesIntoTheSharedSignal)
{
    T::ScriptedStream stream("ref", Stream::ThreadingMode::NoWorkerThread);
    std::uint64_t seenByRef = 0;
    std::shared_ptr<const StreamData> seenShared;
    auto byRef =
        stream.signalStreamDataRef.connect([&](const StreamData& d) { seenByRef = d.timestampArrival(); });
    auto shared =
        stream.signalStreamData.connect([&](std::shared_ptr<const StreamData> d) { seenShared = d; });
    T::PlainRecord record(&stream);
    record.setTimestampArrival(std::uint64_t{77});
    stream.signalStreamDataRef.emitSignal(record);
    EXPECT_EQ(seenByRef, 77u);
    ASSERT_TRUE(seenShared);
    EXPECT_NE(seenShared.get(), &record) << "emitting by reference sends a clone";
    byRef.disconnect();
    shared.disconnect();
}
