#include "Stream/Simulated/FakeImageCpuPainter.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "Host/Core/Log.h"
#include "Host/Core/MemImage.h"
#include "Stream/Simulated/FakeImageFrame.h"
#include "Stream/Simulated/FakeImageTestUtil.h"

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

// Compares every channel of pixel (x, y, z) with the reference; false (and a failure) at the first
// difference.
bool pixelMatches(const MemImage& image, const FakeImageFrame& frame, int x, int y, int z)
{
    for (int ch = 0; ch < frame.descriptor().channels; ++ch) {
        const double want = storedReference(frame, x, y, z, ch);
        const double got = valueAt(image, x, y, z, ch);
        if (got != want) {
            ADD_FAILURE() << frame.descriptor().toString() << " counter " << frame.counter() << " at " << x
                          << "," << y << "," << z << " channel " << ch << ": " << got << " instead of "
                          << want;
            return false;
        }
    }
    return true;
}

std::unique_ptr<MemImage> paintOverCanvas(const FakeImageFrame& frame)
{
    auto image = MemImage::create(frame.descriptor());
    std::memset(image->data(), 0x5A, image->byteSize());
    EXPECT_TRUE(FakeImageCpuPainter::paint(*image, frame));
    return image;
}

// Paints `frame` over a canvas of 0x5A bytes and compares every channel value of every `stride`-th row
// with the reference.
void expectMatchesReference(const FakeImageFrame& frame, int stride = 1)
{
    const ImageDescriptor& d = frame.descriptor();
    auto image = paintOverCanvas(frame);
    for (int z = 0; z < d.slices; ++z)
        for (int y = 0; y < d.height; y += stride)
            for (int x = 0; x < d.width; ++x)
                ASSERT_TRUE(pixelMatches(*image, frame, x, y, z));
}

// Compares, in every row of a large 2D frame: the two pixels at each end, the pixels within two of each
// disc's rim (where the exact inside test decides), and the whole row for every 37th row.
void expectRimsAndBordersMatch(const FakeImageFrame& frame)
{
    const ImageDescriptor& d = frame.descriptor();
    auto image = paintOverCanvas(frame);
    for (int y = 0; y < d.height; ++y) {
        std::vector<int> xs = {0, 1, d.width - 2, d.width - 1};
        if (y % 37 == 0 || y == d.height - 1)
            for (int x = 0; x < d.width; ++x)
                xs.push_back(x);
        for (const FakeImageFrame::Disc& disc : frame.discs()) {
            const double dy = y - disc.centre[1];
            const double dz = 0 - disc.centre[2];
            const double rest = disc.radius * disc.radius - dy * dy - dz * dz;
            if (rest < 0.0)
                continue;
            for (const double rim : {disc.centre[0] - std::sqrt(rest), disc.centre[0] + std::sqrt(rest)})
                for (int x = static_cast<int>(std::floor(rim)) - 2;
                     x <= static_cast<int>(std::floor(rim)) + 2; ++x)
                    if (x >= 0 && x < d.width)
                        xs.push_back(x);
        }
        for (int x : xs)
            ASSERT_TRUE(pixelMatches(*image, frame, x, y, 0)) << "row " << y;
    }
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
    // Doubles hold the painter's single-precision values exactly (main memory only).
    for (int counter : {0, 45, 135})
        expectMatchesReference(frameOf(ImageDescriptor(ImageDescriptor::kDouble, 53, 41, 1, 3), counter));
}

TEST(FakeImageCpuPainterTest, VolumesEqualTheReference)
{
    const ImageDescriptor d(ImageDescriptor::kFloat, 60, 40, 9, 3);
    for (int counter : {20, 200})
        for (int imageIndex : {0, 2})
            expectMatchesReference(frameOf(d, counter, imageIndex));
}

TEST(FakeImageCpuPainterTest, LargeSharedFramesEqualTheReference)
{
    // Large enough to be shared with the helper thread; every fifth row of the volume is checked.
    const ImageDescriptor d(ImageDescriptor::kUByte, 256, 256, 65, 2);
    ASSERT_GE(static_cast<std::size_t>(d.width) * d.height * d.slices * d.channels, std::size_t{8} << 20);
    expectMatchesReference(frameOf(d, 77, 1), 5);
}

TEST(FakeImageCpuPainterTest, FullHdRimsAndBordersEqualTheReference)
{
    // The stream's large frames: the large disc centred (counter 135: well inside), crossing the top and
    // bottom edges (0), reaching exactly into the corners (45), and moved off centre by a later image of
    // the record; small discs cut by the borders wherever the seed puts them.
    for (int counter : {0, 45, 135})
        expectRimsAndBordersMatch(
            frameOf(ImageDescriptor(ImageDescriptor::kUByte, 1920, 1080, 1, 1), counter));
    expectRimsAndBordersMatch(frameOf(ImageDescriptor(ImageDescriptor::kFloat, 1920, 1080, 1, 3), 45, 1));
    expectRimsAndBordersMatch(frameOf(ImageDescriptor(ImageDescriptor::kShort, 1919, 1081, 1, 2), 300, 2));
}

TEST(FakeImageCpuPainterTest, RowsAtTheLimitOfExactSingleArithmeticEqualTheReference)
{
    // With the large disc's centre on whole or half pixels, a row's squared distances can be summed in any
    // order while they stay below 2^24 in half-pixel units: up to 4094 pixels wide here, and no longer at
    // 4100, where the sums round. Both sides of the limit equal the reference (in floats, where a
    // difference in the last place of d2 shows).
    for (int width : {4094, 4100})
        for (int counter : {45, 200})
            expectMatchesReference(
                frameOf(ImageDescriptor(ImageDescriptor::kFloat, width, 3, 1, 1), counter));
}

TEST(FakeImageCpuPainterTest, ChangingTheShapeBetweenFramesRepaintsCorrectly)
{
    // One thread, one shape after another: the painter's per-thread rows of background and colour must
    // follow the pixel type, channel count and grid of each frame.
    const ImageDescriptor shapes[] = {ImageDescriptor(ImageDescriptor::kUByte, 64, 48, 1, 1),
                                      ImageDescriptor(ImageDescriptor::kUShort, 64, 48, 1, 1),
                                      ImageDescriptor(ImageDescriptor::kUByte, 64, 48, 1, 3),
                                      ImageDescriptor(ImageDescriptor::kUByte, 64, 20, 1, 3),
                                      ImageDescriptor(ImageDescriptor::kByte, 64, 48, 1, 1),
                                      ImageDescriptor(ImageDescriptor::kUByte, 700, 500, 1, 1),
                                      ImageDescriptor(ImageDescriptor::kUByte, 64, 48, 1, 1)};
    int counter = 0;
    for (const ImageDescriptor& d : shapes)
        expectMatchesReference(frameOf(d, counter += 50));
}

TEST(FakeImageCpuPainterTest, ConcurrentCallersEachPaintTheirOwnFrame)
{
    // Three threads paint large frames at once: one at a time shares its frame with the helper thread, the
    // others paint alone, and the helper moves from one caller's frame to the next.
    const ImageDescriptor shapes[] = {ImageDescriptor(ImageDescriptor::kUByte, 700, 500, 1, 1),
                                      ImageDescriptor(ImageDescriptor::kFloat, 640, 480, 1, 1),
                                      ImageDescriptor(ImageDescriptor::kUShort, 512, 300, 1, 2)};
    std::vector<std::thread> threads;
    std::vector<std::string> failures(std::size(shapes));
    for (std::size_t t = 0; t < std::size(shapes); ++t)
        threads.emplace_back([&, t] {
            auto image = MemImage::create(shapes[t]);
            for (int frame = 0; frame < 8 && failures[t].empty(); ++frame) {
                const FakeImageFrame f = frameOf(shapes[t], frame * 29 + static_cast<int>(t));
                if (!FakeImageCpuPainter::paint(*image, f)) {
                    failures[t] = "paint failed";
                    break;
                }
                for (int y = frame % 3; y < shapes[t].height && failures[t].empty(); y += 3)
                    for (int x = 0; x < shapes[t].width && failures[t].empty(); ++x)
                        for (int ch = 0; ch < shapes[t].channels; ++ch)
                            if (valueAt(*image, x, y, 0, ch) != storedReference(f, x, y, 0, ch)) {
                                failures[t] = shapes[t].toString() + " frame " + std::to_string(frame) +
                                              " at " + std::to_string(x) + "," + std::to_string(y);
                                break;
                            }
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    for (const std::string& failure : failures)
        EXPECT_TRUE(failure.empty()) << failure;
}
