#include "Host/Core/ImageDescriptor.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "Host/Core/Log.h"
#include "Host/Core/Properties.h"
#include "Host/Core/PropertiesIO.h"

using namespace Corvexis;

TEST(ImageDescriptorTest, SizesOfEveryPixelType)
{
    struct Case
    {
        int type;
        size_t typeSize;
        bool isSigned;
    };
    const Case cases[] = {{5120, 1, true}, {5121, 1, false}, {5122, 2, true}, {5123, 2, false},
                          {5124, 4, true}, {5125, 4, false}, {5126, 4, true}, {5130, 8, true}};
    for (const Case& c : cases) {
        ImageDescriptor d(c.type, 7, 5, 3, 2);
        SCOPED_TRACE(ImageDescriptor::typeName(c.type));
        ASSERT_TRUE(d.isValid());
        EXPECT_EQ(d.typeSize(), c.typeSize);
        EXPECT_EQ(d.pixelSize(), 2 * c.typeSize);
        EXPECT_EQ(d.pixelCount(), 7u * 5u * 3u);
        EXPECT_EQ(d.byteSize(), 7u * 5u * 3u * 2u * c.typeSize);
        EXPECT_EQ(d.isSigned(), c.isSigned);
        EXPECT_EQ(d.isFloat(), c.type == 5126 || c.type == 5130);
        EXPECT_EQ(d.isInteger(), !d.isFloat());
        EXPECT_EQ(d.dimension(), 3);
    }
    EXPECT_EQ(ImageDescriptor::pixelTypeOf<std::uint8_t>(), 5121);
    EXPECT_EQ(ImageDescriptor::pixelTypeOf<std::int16_t>(), 5122);
    EXPECT_EQ(ImageDescriptor::pixelTypeOf<float>(), 5126);
    EXPECT_EQ(ImageDescriptor::pixelTypeOf<double>(), 5130);
    EXPECT_EQ(ImageDescriptor::typeName(5130), "Double");
}

TEST(ImageDescriptorTest, DefaultIsUnsignedBytesWithUnitSpacingButInvalidExtent)
{
    ImageDescriptor d;
    EXPECT_EQ(d.pixelType, 5121);
    EXPECT_EQ(d.slices, 1);
    EXPECT_EQ(d.channels, 1);
    EXPECT_EQ(d.spacing, Eigen::Vector3d::Ones());
    EXPECT_FALSE(d.isValid());
    EXPECT_EQ(d.byteSize(), 0u);
    EXPECT_EQ(d.dimension(), 2);
}

TEST(ImageDescriptorTest, ValidityBoundaries)
{
    EXPECT_TRUE(ImageDescriptor(5121, 1, 1).isValid());
    EXPECT_FALSE(ImageDescriptor(5121, 0, 1).isValid());
    EXPECT_FALSE(ImageDescriptor(5121, 1, -1).isValid());
    EXPECT_FALSE(ImageDescriptor(5121, 1, 1, 0).isValid());
    EXPECT_FALSE(ImageDescriptor(5121, 1, 1, 1, 0).isValid());
    EXPECT_FALSE(ImageDescriptor(5119, 1, 1).isValid());
    EXPECT_FALSE(ImageDescriptor(5127, 1, 1).isValid());
    EXPECT_FALSE(ImageDescriptor(5128, 1, 1).isValid());
    EXPECT_FALSE(ImageDescriptor(5129, 1, 1).isValid());
    EXPECT_TRUE(ImageDescriptor(5130, 1, 1).isValid());
    EXPECT_FALSE(ImageDescriptor(5131, 1, 1).isValid());

    ImageDescriptor d(5121, 4, 4);
    d.spacing = {1.0, 0.0, 1.0};
    EXPECT_FALSE(d.isValid());
    d.spacing = {1.0, std::numeric_limits<double>::quiet_NaN(), 1.0};
    EXPECT_FALSE(d.isValid());
    d.spacing = {1.0, 1.0, -2.0};
    EXPECT_FALSE(d.isValid());
}

TEST(ImageDescriptorTest, HugeExtentsNeitherOverflowNorPassAsValid)
{
    const int big = std::numeric_limits<int>::max();
    // 2^31 * 2^31 * 2^31 * 4 channels * 4 bytes overflows 64 bits.
    ImageDescriptor overflow(5126, big, big, big, 4);
    EXPECT_FALSE(overflow.isValid());
    EXPECT_EQ(overflow.byteSize(), 0u);
    EXPECT_FALSE(overflow.checkedByteSize().has_value());
    EXPECT_EQ(overflow.pixelCount(), 0u);

    // Fits in 64 bits but exceeds the 1 TiB limit.
    ImageDescriptor tooLarge(5121, 1 << 20, 1 << 20, 2);
    EXPECT_FALSE(tooLarge.isValid());
    ImageDescriptor atLimit(5121, 1 << 20, 1 << 20, 1);
    EXPECT_TRUE(atLimit.isValid());
    EXPECT_EQ(atLimit.byteSize(), ImageDescriptor::kMaxByteSize);
}

TEST(ImageDescriptorTest, ApproximateEqualityComparesSpacingWithinTolerance)
{
    ImageDescriptor a(5123, 64, 32, 1, 3);
    ImageDescriptor b = a;
    EXPECT_TRUE(a == b);
    b.spacing.x() += 1e-9;
    EXPECT_FALSE(a == b);
    EXPECT_TRUE(a.isApproximatelyEqual(b));
    b.spacing.x() = 1.5;
    EXPECT_FALSE(a.isApproximatelyEqual(b));
    EXPECT_TRUE(a.isApproximatelyEqual(b, 0.5));

    ImageDescriptor c = a;
    c.channels = 4;
    EXPECT_FALSE(a.isApproximatelyEqual(c, 100.0));
    c = a;
    c.pixelType = 5122;
    EXPECT_FALSE(a.isApproximatelyEqual(c, 100.0));

    ImageDescriptor nan = a;
    nan.spacing.z() = std::numeric_limits<double>::quiet_NaN();
    EXPECT_FALSE(nan.isApproximatelyEqual(nan, 1.0));
}

TEST(ImageDescriptorTest, PropertiesRoundTripThroughText)
{
    ImageDescriptor d(5126, 320, 240, 12, 4);
    d.spacing = {0.1, 1.0 / 3.0, 2.5e-7};
    Properties p("descriptor");
    d.configuration(&p);

    std::unique_ptr<Properties> loaded = PropertiesIO::loadFromString(PropertiesIO::saveToString(p));
    ASSERT_NE(loaded, nullptr);
    ImageDescriptor back;
    back.configure(loaded.get());
    EXPECT_TRUE(back == d) << back.toString();
}

TEST(ImageDescriptorTest, ConfigureKeepsFieldsThatAreMissingOrMalformed)
{
    ImageDescriptor d(5121, 10, 20, 1, 1);
    Properties p;
    p.setParam("width", 64);
    p.setParam("height", "tall");
    p.setParam("spacing", "1 2");
    Log::ScopedCapture capture;
    d.configure(&p);
    EXPECT_EQ(d.width, 64);
    EXPECT_EQ(d.height, 20);
    EXPECT_EQ(d.spacing, Eigen::Vector3d::Ones());
    EXPECT_EQ(d.pixelType, 5121);
    EXPECT_TRUE(capture->containsFragment(Log::Level::Warning, "ImageDescriptor", "'height'"));
    EXPECT_TRUE(capture->containsFragment(Log::Level::Warning, "ImageDescriptor", "'spacing'"));

    d.configure(nullptr);
    EXPECT_EQ(d.width, 64);
}
