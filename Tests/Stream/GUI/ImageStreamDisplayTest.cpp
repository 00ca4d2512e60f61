#include "Stream/GUI/ImageStreamDisplay.h"

#include <cstdint>
#include <cstring>

#include <QImage>

#include <gtest/gtest.h>

#include "Host/Core/MemImage.h"

namespace Corvexis {
namespace {

template <typename T>
std::unique_ptr<MemImage> imageOf(int pixelType, int width, int height, int slices, int channels,
                                  const std::vector<T>& values)
{
    auto image = MemImage::create(ImageDescriptor(pixelType, width, height, slices, channels));
    std::memcpy(image->data(), values.data(), values.size() * sizeof(T));
    return image;
}

TEST(ImageStreamDisplayTest, UnsignedBytesStayAsTheyAre)
{
    const auto grey = imageOf<std::uint8_t>(ImageDescriptor::kUByte, 3, 2, 1, 1, {0, 7, 255, 9, 128, 1});
    const QImage picture = ImageStreamDisplay::toQImage(*grey);
    ASSERT_EQ(picture.format(), QImage::Format_Grayscale8);
    ASSERT_EQ(picture.size(), QSize(3, 2));
    EXPECT_EQ(picture.scanLine(0)[1], 7);
    EXPECT_EQ(picture.scanLine(1)[1], 128);

    const auto rgb = imageOf<std::uint8_t>(ImageDescriptor::kUByte, 2, 1, 1, 3, {1, 2, 3, 4, 5, 6});
    const QImage colour = ImageStreamDisplay::toQImage(*rgb);
    ASSERT_EQ(colour.format(), QImage::Format_RGB888);
    EXPECT_EQ(colour.pixel(1, 0), qRgb(4, 5, 6));

    // Two channels: the first as grey.
    const auto two = imageOf<std::uint8_t>(ImageDescriptor::kUByte, 2, 1, 1, 2, {10, 99, 20, 99});
    const QImage first = ImageStreamDisplay::toQImage(*two);
    EXPECT_EQ(first.scanLine(0)[0], 10);
    EXPECT_EQ(first.scanLine(0)[1], 20);
}

TEST(ImageStreamDisplayTest, OtherTypesAreWindowedOverTheFirstSlice)
{
    // Second slice holds values far outside the first one's range: they must not widen the window.
    const auto shorts =
        imageOf<std::uint16_t>(ImageDescriptor::kUShort, 3, 1, 2, 1, {1000, 1500, 2000, 0, 0, 65535});
    const QImage picture = ImageStreamDisplay::toQImage(*shorts);
    ASSERT_EQ(picture.size(), QSize(3, 1));
    EXPECT_EQ(picture.scanLine(0)[0], 0);
    EXPECT_EQ(picture.scanLine(0)[1], 128);  // 127.5 rounded
    EXPECT_EQ(picture.scanLine(0)[2], 255);

    const auto floats = imageOf<float>(ImageDescriptor::kFloat, 3, 1, 1, 1, {-1.0f, 0.0f, 3.0f});
    const QImage windowed = ImageStreamDisplay::toQImage(*floats);
    EXPECT_EQ(windowed.scanLine(0)[0], 0);
    EXPECT_EQ(windowed.scanLine(0)[1], 64);  // 63.75 rounded
    EXPECT_EQ(windowed.scanLine(0)[2], 255);

    const auto flat = imageOf<std::int16_t>(ImageDescriptor::kShort, 2, 1, 1, 1, {-7, -7});
    const QImage constant = ImageStreamDisplay::toQImage(*flat);
    EXPECT_EQ(constant.scanLine(0)[0], 0);
    EXPECT_EQ(constant.scanLine(0)[1], 0);
}

}  // namespace
}  // namespace Corvexis
