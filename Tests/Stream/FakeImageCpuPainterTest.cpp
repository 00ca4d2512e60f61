#include "Stream/FakeImageCpuPainter.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include <gtest/gtest.h>

#include "Host/Core/Log.h"
#include "Host/Core/MemImage.h"
#include "Stream/FakeImageFrame.h"
#include "Stream/FakeImageTestUtil.h"

using namespace Corvexis;
using namespace Corvexis::Test;

TEST(FakeImageCpuPainterTest, RefusesAMismatchedImage)
{
    Log::ScopedCapture capture;
    auto image = MemImage::create(ImageDescriptor(ImageDescriptor::kUByte, 10, 10, 1, 1));
    std::memset(image->data(), 7, image->byteSize());
    EXPECT_FALSE(
        FakeImageCpuPainter::paint(*image, frameOf(ImageDescriptor(ImageDescriptor::kUByte, 10, 11), 0)));
    EXPECT_FALSE(
        FakeImageCpuPainter::paint(*image, frameOf(ImageDescriptor(ImageDescriptor::kUShort, 10, 10), 0)));
    auto wide = MemImage::create(ImageDescriptor(ImageDescriptor::kUByte, 10, 10, 1, 5));
    EXPECT_FALSE(FakeImageCpuPainter::paint(*wide, frameOf(wide->descriptor(), 0)));
    EXPECT_EQ(static_cast<const std::uint8_t*>(image->data())[0], 7);
    EXPECT_TRUE(capture->containsFragment(Log::Level::Error, "FakeImagePainter", "Cannot paint"));
}

namespace {

// The reference value of one channel as the pixel type stores it: clamped, then truncated.
double storedReference(const FakeImageFrame& frame, int x, int y, int z, int ch)
{
    const int type = frame.descriptor().pixelType;
    const float v = std::min(std::max(frame.value(x, y, z, ch), FakeImageFrame::lowest(type)),
                             FakeImageFrame::highest(type));
    switch (type) {
        case ImageDescriptor::kByte:
            return static_cast<std::int8_t>(v);
        case ImageDescriptor::kUByte:
            return static_cast<std::uint8_t>(v);
        case ImageDescriptor::kShort:
            return static_cast<std::int16_t>(v);
        case ImageDescriptor::kUShort:
            return static_cast<std::uint16_t>(v);
        case ImageDescriptor::kInt:
            return static_cast<std::int32_t>(v);
        case ImageDescriptor::kUInt:
            return static_cast<std::uint32_t>(v);
        default:
            return v;
    }
}

// Paints `frame` over a canvas of 0x5A bytes and compares every channel value with the reference.
void expectMatchesReference(const FakeImageFrame& frame, int stride = 1)
{
    const ImageDescriptor& d = frame.descriptor();
    auto image = MemImage::create(d);
    std::memset(image->data(), 0x5A, image->byteSize());
    ASSERT_TRUE(FakeImageCpuPainter::paint(*image, frame));
    for (int z = 0; z < d.slices; ++z)
        for (int y = 0; y < d.height; y += stride)
            for (int x = 0; x < d.width; ++x)
                for (int ch = 0; ch < d.channels; ++ch)
                    ASSERT_EQ(valueAt(*image, x, y, z, ch), storedReference(frame, x, y, z, ch))
                        << d.toString() << " counter " << frame.counter() << " at " << x << "," << y << ","
                        << z << " channel " << ch;
}

}  // namespace

TEST(FakeImageCpuPainterTest, CopiedBackgroundRowsAndDiscSpansEqualTheReference)
{
    // Rows outside every disc are copied from one converted background row per grid phase; rows inside
    // are split at the disc spans. Across the animation the large disc grows past the image, shrinks
    // inside it and the small ones cross it, so every kind of segment (background, one disc, two or more
    // overlapping discs, spans clipped at either edge) occurs, for every pixel type and channel count.
    for (int type : kAllTypes)
        for (int channels = 1; channels <= 4; ++channels)
            for (int counter : {0, 45, 100, 135, 300})
                expectMatchesReference(frameOf(ImageDescriptor(type, 53, 41, 1, channels), counter));
}

TEST(FakeImageCpuPainterTest, CrowdedSmallImagesAndLaterImagesOfARecordEqualTheReference)
{
    // On a tiny image the small discs (radius 4.2 to 7.8) overlap each other and both edges; later
    // images of a record move the large disc's centre, so it is no longer on a half pixel.
    for (int counter = 0; counter < 360; counter += 7)
        for (int imageIndex : {0, 1, 3})
            expectMatchesReference(
                frameOf(ImageDescriptor(ImageDescriptor::kUByte, 12, 9, 1, 2), counter, imageIndex));
    expectMatchesReference(frameOf(ImageDescriptor(ImageDescriptor::kShort, 1, 1, 1, 1), 10));
    expectMatchesReference(frameOf(ImageDescriptor(ImageDescriptor::kFloat, 1, 37, 1, 3), 10));
}

TEST(FakeImageCpuPainterTest, VolumesEqualTheReference)
{
    const ImageDescriptor d(ImageDescriptor::kFloat, 60, 40, 9, 3);
    for (int counter : {20, 200})
        for (int imageIndex : {0, 2})
            expectMatchesReference(frameOf(d, counter, imageIndex));
}

TEST(FakeImageCpuPainterTest, LargeParallelFramesEqualTheReference)
{
    // Large enough for a team of threads where the process waits passively (run the tests with
    // OMP_WAIT_POLICY=passive to cover that path); every fifth row of the volume is checked.
    const ImageDescriptor d(ImageDescriptor::kUByte, 256, 256, 65, 2);
    ASSERT_GE(static_cast<std::size_t>(d.width) * d.height * d.slices * d.channels, std::size_t{8} << 20);
    expectMatchesReference(frameOf(d, 77, 1), 5);
}
