#include "Host/Core/TypedImage.h"

#include <gtest/gtest.h>

#include <cstdint>

using namespace Corvexis;

TEST(TypedImageTest, LayoutIsInterleavedChannelsThenXThenYThenSlice)
{
    const int w = 4, h = 3, s = 2, c = 3;
    auto image = TypedImage<std::int32_t>::create(w, h, s, c);
    ASSERT_NE(image, nullptr);
    for (int z = 0; z < s; ++z)
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                for (int ch = 0; ch < c; ++ch)
                    image->at(x, y, z, ch) = ch + 10 * x + 100 * y + 1000 * z;

    const std::int32_t* p = image->pointer();
    EXPECT_EQ(p[0], 0);
    EXPECT_EQ(p[1], 1);             // next channel
    EXPECT_EQ(p[c], 10);            // next x
    EXPECT_EQ(p[w * c], 100);       // next row
    EXPECT_EQ(p[w * h * c], 1000);  // next slice
    EXPECT_EQ(p[image->valueCount() - 1], 2 + 30 + 200 + 1000);
    EXPECT_EQ(image->valueCount(), static_cast<size_t>(w * h * s * c));
}

TEST(TypedImageTest, CreateForcesItsOwnPixelType)
{
    ImageDescriptor d(5121, 8, 8, 1, 2);
    d.spacing = {0.5, 0.5, 1.0};
    auto image = TypedImage<float>::create(d);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->pixelType(), 5126);
    EXPECT_EQ(image->byteSize(), 8u * 8u * 2u * 4u);
    EXPECT_EQ(image->spacing(), d.spacing);
    EXPECT_EQ(TypedImage<float>::create(0, 8), nullptr);
}

TEST(TypedImageTest, FillAndTypedCloneAreIndependent)
{
    auto image = TypedImage<std::int16_t>::create(3, 3);
    ASSERT_NE(image, nullptr);
    image->fill(-5);
    auto copy = image->cloneTyped();
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->at(2, 2), -5);
    copy->at(0, 0) = 7;
    EXPECT_EQ(image->at(0, 0), -5);
    EXPECT_EQ(TypedImage<std::int16_t>::kPixelType, 5122);
}
