#include "Host/Core/MemImage.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "Host/Core/Log.h"
#include "Host/Core/TypedImage.h"

using namespace Corvexis;

namespace {

bool allZero(const MemImage& image)
{
    const auto* p = static_cast<const std::uint8_t*>(image.data());
    for (size_t i = 0; i < image.byteSize(); ++i) {
        if (p[i] != 0)
            return false;
    }
    return true;
}

}  // namespace

TEST(MemImageTest, CreateGivesZeroedAlignedTypedImageOfEveryPixelType)
{
    const int types[] = {5120, 5121, 5122, 5123, 5124, 5125, 5126, 5130};
    for (int type : types) {
        SCOPED_TRACE(type);
        ImageDescriptor d(type, 13, 7, 3, 3);  // odd sizes: the buffer is not a multiple of 64
        auto image = MemImage::create(d);
        ASSERT_NE(image, nullptr);
        EXPECT_EQ(image->descriptor(), d);
        EXPECT_EQ(image->byteSize(), d.byteSize());
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(image->data()) % 64, 0u);
        EXPECT_TRUE(image->ownsData());
        EXPECT_TRUE(allZero(*image));
    }
    EXPECT_NE(dynamic_cast<TypedImage<std::int8_t>*>(MemImage::create({5120, 2, 2}).get()), nullptr);
    EXPECT_NE(dynamic_cast<TypedImage<std::uint16_t>*>(MemImage::create({5123, 2, 2}).get()), nullptr);
    EXPECT_NE(dynamic_cast<TypedImage<std::uint32_t>*>(MemImage::create({5125, 2, 2}).get()), nullptr);
    EXPECT_NE(dynamic_cast<TypedImage<float>*>(MemImage::create({5126, 2, 2}).get()), nullptr);
    EXPECT_NE(dynamic_cast<TypedImage<double>*>(MemImage::create({5130, 2, 2}).get()), nullptr);
    EXPECT_EQ(dynamic_cast<TypedImage<float>*>(MemImage::create({5124, 2, 2}).get()), nullptr);
}

TEST(MemImageTest, InvalidDescriptorsGiveNullWithAnError)
{
    Log::ScopedCapture capture;
    EXPECT_EQ(MemImage::create(ImageDescriptor(5121, 0, 4)), nullptr);
    EXPECT_EQ(MemImage::create(ImageDescriptor(1234, 4, 4)), nullptr);
    const int big = std::numeric_limits<int>::max();
    EXPECT_EQ(MemImage::create(ImageDescriptor(5126, big, big, big, big)), nullptr);
    EXPECT_EQ(capture->records().size(), 3u);
    EXPECT_TRUE(capture->containsFragment(Log::Level::Error, "MemImage", "invalid descriptor"));

    std::vector<std::uint8_t> bytes(16);
    EXPECT_EQ(MemImage::wrap(ImageDescriptor(5121, 4, 4), nullptr), nullptr);
    EXPECT_EQ(MemImage::wrap(ImageDescriptor(5121, -4, 4), bytes.data()), nullptr);
}

TEST(MemImageTest, CloneIsDeepAndKeepsTypeAndSpacing)
{
    auto image = TypedImage<std::uint16_t>::create(5, 4, 2, 2);
    ASSERT_NE(image, nullptr);
    for (size_t i = 0; i < image->valueCount(); ++i)
        image->pointer()[i] = static_cast<std::uint16_t>(i * 7);
    ASSERT_TRUE(image->setSpacing({0.5, 0.25, 2.0}));

    std::unique_ptr<MemImage> copy = image->clone();
    ASSERT_NE(copy, nullptr);
    auto* typed = dynamic_cast<TypedImage<std::uint16_t>*>(copy.get());
    ASSERT_NE(typed, nullptr);
    EXPECT_EQ(copy->descriptor(), image->descriptor());
    EXPECT_NE(copy->data(), image->data());
    EXPECT_TRUE(copy->hasSamePixels(*image));

    typed->at(1, 1, 1, 1) = 9999;
    EXPECT_FALSE(copy->hasSamePixels(*image));
    EXPECT_NE(image->at(1, 1, 1, 1), 9999);
}

TEST(MemImageTest, WrapBorrowsCallerMemoryAndCloneDetachesFromIt)
{
    std::vector<float> pixels = {1.f, 2.f, 3.f, 4.f, 5.f, 6.f};
    auto wrapped = MemImage::wrap(ImageDescriptor(5126, 3, 2), pixels.data());
    ASSERT_NE(wrapped, nullptr);
    EXPECT_FALSE(wrapped->ownsData());
    EXPECT_EQ(wrapped->data(), pixels.data());
    auto* typed = dynamic_cast<TypedImage<float>*>(wrapped.get());
    ASSERT_NE(typed, nullptr);
    EXPECT_EQ(typed->at(2, 1), 6.f);

    std::unique_ptr<MemImage> copy = wrapped->clone();
    ASSERT_NE(copy, nullptr);
    EXPECT_TRUE(copy->ownsData());
    pixels[5] = -1.f;
    EXPECT_EQ(typed->at(2, 1), -1.f);
    EXPECT_EQ(dynamic_cast<TypedImage<float>&>(*copy).at(2, 1), 6.f);
    wrapped.reset();
    EXPECT_EQ(pixels[0], 1.f);  // destroying a wrapping image leaves the memory alone
}

TEST(MemImageTest, SpacingChangesInPlaceOnlyWhenValid)
{
    auto image = MemImage::create(ImageDescriptor(5121, 2, 2));
    ASSERT_NE(image, nullptr);
    Log::ScopedCapture capture;
    EXPECT_FALSE(image->setSpacing({1.0, -1.0, 1.0}));
    EXPECT_FALSE(image->setSpacing({1.0, 1.0, std::numeric_limits<double>::infinity()}));
    EXPECT_EQ(image->spacing(), Eigen::Vector3d::Ones());
    EXPECT_EQ(capture->records().size(), 2u);
    EXPECT_TRUE(image->setSpacing({0.3, 0.3, 1.0}));
    EXPECT_EQ(image->descriptor().spacing, Eigen::Vector3d(0.3, 0.3, 1.0));
}

TEST(MemImageTest, SamePixelsIgnoresSpacingButNotShape)
{
    auto a = TypedImage<std::uint8_t>::create(4, 2);
    auto b = TypedImage<std::uint8_t>::create(2, 4);  // same byte count, other shape
    auto c = TypedImage<std::int8_t>::create(4, 2);   // same bytes, other type
    ASSERT_TRUE(a && b && c);
    EXPECT_FALSE(a->hasSamePixels(*b));
    EXPECT_FALSE(a->hasSamePixels(*c));
    auto d = a->cloneTyped();
    d->setSpacing({2.0, 2.0, 2.0});
    EXPECT_TRUE(a->hasSamePixels(*d));
    d->fill(3);
    EXPECT_FALSE(a->hasSamePixels(*d));
    d->clear();
    EXPECT_TRUE(a->hasSamePixels(*d));
}
