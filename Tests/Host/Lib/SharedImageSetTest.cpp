#include "Host/Lib/SharedImageSet.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>

#include "Host/Core/Log.h"
#include "Host/Core/MemImage.h"
#include "Host/Core/TimestampDataComponent.h"
#include "Host/Core/TypedImage.h"

namespace Corvexis {
namespace {

// A main-memory frame whose first pixel is `value`.
std::shared_ptr<SharedImage> frame(std::uint8_t value, int slices = 1)
{
    auto image = TypedImage<std::uint8_t>::create(ImageDescriptor(ImageDescriptor::kUByte, 4, 3, slices, 1));
    image->at(0, 0) = value;
    return std::make_shared<SharedImage>(std::unique_ptr<MemImage>(std::move(image)));
}

std::uint8_t firstPixel(const SharedImage& image)
{
    return *static_cast<const std::uint8_t*>(image.mem()->data());
}

// Frames, timestamps and per-frame components stay index-aligned through every edit.
TEST(SharedImageSet, EditsKeepTimestampsAndElementwiseComponentsAligned)
{
    SharedImageSet set("frames");
    set.reserve(4);
    ASSERT_TRUE(set.add(frame(10), 100.0));
    ASSERT_TRUE(set.add(frame(20)));
    ASSERT_TRUE(set.add(frame(30), 300.0));
    ASSERT_EQ(set.elementwiseComponents().size(), 3u);
    set.elementwiseComponents()[2].emplace<TimestampDataComponent>(3u, 30u);

    ASSERT_TRUE(set.insert(1, frame(15), 150.0));
    EXPECT_EQ(set.size(), 4);
    EXPECT_EQ(firstPixel(*set.get(1)), 15);
    EXPECT_EQ(set.timestamp(1), 150.0);
    EXPECT_EQ(set.timestamp(2), std::nullopt);
    EXPECT_EQ(set.timestamp(3), 300.0);
    ASSERT_EQ(set.elementwiseComponents().size(), 4u);
    EXPECT_NE(set.elementwiseComponents()[3].get<TimestampDataComponent>(), nullptr);

    ASSERT_TRUE(set.remove(0));
    EXPECT_EQ(firstPixel(*set.get(0)), 15);
    EXPECT_EQ(set.timestamp(0), 150.0);
    EXPECT_NE(set.elementwiseComponents()[2].get<TimestampDataComponent>(), nullptr);
    EXPECT_FALSE(set.remove(3));
    EXPECT_FALSE(set.remove(-1));

    ASSERT_TRUE(set.replace(1, frame(21)));
    EXPECT_EQ(firstPixel(*set.get(1)), 21);
    EXPECT_FALSE(set.replace(3, frame(1)));

    set.clear();
    EXPECT_TRUE(set.empty());
    EXPECT_EQ(set.elementwiseComponents().size(), 0u);
    EXPECT_EQ(set.timestamp(0), std::nullopt);
}

TEST(SharedImageSet, RefusesNullFramesAndBadIndices)
{
    Log::ScopedCapture capture;
    SharedImageSet set;
    EXPECT_FALSE(set.add(nullptr));
    EXPECT_FALSE(set.insert(-1, frame(1)));
    EXPECT_TRUE(set.insert(99, frame(1)));  // past the end appends
    EXPECT_EQ(set.size(), 1);
    EXPECT_FALSE(set.setTimestamp(1, 5.0));
    EXPECT_TRUE(capture->containsFragment(Log::Level::Error, "SharedImageSet", "null image"));
}

TEST(SharedImageSet, TimestampsAreCompleteOnlyWhenEveryFrameHasOne)
{
    SharedImageSet set;
    EXPECT_FALSE(set.hasTimestamps());
    set.add(frame(1), 0.0);
    set.add(frame(2));
    EXPECT_FALSE(set.hasTimestamps());
    EXPECT_TRUE(set.setTimestamp(1, 33.3));
    EXPECT_TRUE(set.hasTimestamps());
    EXPECT_TRUE(set.clearTimestamp(0));
    EXPECT_FALSE(set.hasTimestamps());
}

TEST(SharedImageSet, FocusSelectsTheDefaultFrame)
{
    SharedImageSet set;
    EXPECT_EQ(set.get(), nullptr);
    set.add(frame(1));
    set.add(frame(2));
    EXPECT_EQ(firstPixel(*set.get()), 1);
    set.setFocus(1);
    EXPECT_EQ(firstPixel(*set.get()), 2);
    set.setFocus(5);
    EXPECT_EQ(set.get(), nullptr);
    set.setFrameSelection(Selection::fromFirstLastSkip(0, 1));
    EXPECT_EQ(set.frameSelection().count(), 2);
}

TEST(SharedImageSet, KindFollowsFrameCountAndDimension)
{
    SharedImageSet set;
    EXPECT_EQ(set.kind(), Data::Kind::ImageSet);
    set.add(frame(1));
    EXPECT_EQ(set.kind(), Data::Kind::Image);
    set.add(frame(2));
    EXPECT_EQ(set.kind(), Data::Kind::ImageSet);
    SharedImageSet volumes;
    volumes.add(frame(1, 5));
    EXPECT_EQ(volumes.kind(), Data::Kind::Volume);
    volumes.add(frame(2, 5));
    EXPECT_EQ(volumes.kind(), Data::Kind::VolumeSet);
    EXPECT_EQ(volumes.byteSize(), 2u * 4 * 3 * 5);
}

TEST(SharedImageSet, ShallowCloneSharesPixelsDeepCloneDoesNot)
{
    SharedImageSet set("recording");
    set.add(frame(1), 10.0);
    set.add(frame(2), 20.0);
    set.setModality(Data::Modality::Ultrasound);
    set.properties().setParam("topDown", true);
    set.components().emplace<TimestampDataComponent>(1u, 2u);
    set.elementwiseComponents()[1].emplace<TimestampDataComponent>(5u, 6u);
    set.setFocus(1);
    set.setSelection({0});

    auto shallow = set.clone(Image::CloneOptions::Shallow);
    auto deep = set.clone();
    for (const auto* copy : {shallow.get(), deep.get()}) {
        EXPECT_EQ(copy->name(), "recording");
        EXPECT_EQ(copy->size(), 2);
        EXPECT_EQ(copy->timestamp(1), 20.0);
        EXPECT_EQ(copy->modality(), Data::Modality::Ultrasound);
        EXPECT_TRUE(copy->properties().param("topDown", false));
        EXPECT_NE(copy->components().get<TimestampDataComponent>(), nullptr);
        EXPECT_NE(copy->elementwiseComponents()[1].get<TimestampDataComponent>(), nullptr);
        EXPECT_EQ(copy->focus(), 1);
        EXPECT_EQ(copy->selection(), std::vector<int>{0});
        // Frames are new objects either way.
        EXPECT_NE(copy->get(0), set.get(0));
    }
    static_cast<std::uint8_t*>(set.get(0)->mem()->data())[0] = 99;
    EXPECT_EQ(firstPixel(*shallow->get(0)), 99);
    EXPECT_EQ(firstPixel(*deep->get(0)), 1);
}

TEST(SharedImageSet, MoveTakesFramesAndMetadata)
{
    SharedImageSet set("source");
    set.add(frame(7), 1.0);
    set.components().emplace<TimestampDataComponent>(1u, 2u);
    set.properties().setParam("liveRecordingPath", std::string("/tmp/x.bin"));
    SharedImageSet moved(std::move(set));
    EXPECT_EQ(moved.name(), "source");
    EXPECT_EQ(moved.size(), 1);
    EXPECT_EQ(moved.timestamp(0), 1.0);
    EXPECT_NE(moved.components().get<TimestampDataComponent>(), nullptr);
    EXPECT_EQ(moved.properties().param("liveRecordingPath", std::string()), "/tmp/x.bin");
    EXPECT_EQ(set.size(), 0);  // NOLINT(bugprone-use-after-move): the moved-from state is specified
    EXPECT_EQ(set.elementwiseComponents().size(), 0u);
}

}  // namespace
}  // namespace Corvexis
