// Threshold, window/level and RGB-to-grey: value by value against the formulas, for every pixel type.
#include <gtest/gtest.h>

#include <string>

#include "Host/Lib/ImageProcessing/ImageTestUtil.h"
#include "Host/Lib/ImageProcessing/RgbToGreyAlgorithm.h"
#include "Host/Lib/ImageProcessing/ThresholdAlgorithm.h"
#include "Host/Lib/ImageProcessing/WindowLevelAlgorithm.h"

namespace Corvexis {
namespace {

template <typename T>
class PointwiseTest : public ::testing::Test
{
};
TYPED_TEST_SUITE(PointwiseTest, ImageTest::AllPixelTypes);

TYPED_TEST(PointwiseTest, ThresholdMarksValuesAtOrAboveTheLimit)
{
    using T = TypeParam;
    auto image = ImageTest::randomImage<T>(5, 3, 2, 2);
    image->setModality(Data::Modality::Ultrasound);
    const auto& in = ImageTest::typed<T>(*image);
    // The limit is one of the image's own values, so "at" the limit is exercised.
    const double limit = static_cast<double>(in.pointer()[5]);
    ThresholdAlgorithm threshold;
    threshold.threshold = limit;
    auto out = ImageTest::run(threshold, *image);
    ASSERT_TRUE(out);
    EXPECT_EQ(out->pixelType(), ImageDescriptor::kUByte);
    EXPECT_EQ(out->channels(), 2);
    EXPECT_EQ(out->slices(), 2);
    EXPECT_EQ(out->modality(), Data::Modality::Label);
    const auto& mask = ImageTest::typed<std::uint8_t>(*out);
    int ones = 0;
    for (std::size_t i = 0; i < in.valueCount(); ++i) {
        ASSERT_EQ(mask.pointer()[i], static_cast<double>(in.pointer()[i]) >= limit ? 1 : 0) << i;
        ones += mask.pointer()[i];
    }
    EXPECT_GT(ones, 0);
}

TYPED_TEST(PointwiseTest, WindowLevelMapsTheWindowOntoBytes)
{
    using T = TypeParam;
    auto image = ImageTest::randomImage<T>(7, 3, 1, 3);
    const auto& in = ImageTest::typed<T>(*image);
    // A window around the middle of the values, so that both clamps and the ramp are hit.
    const double lo = static_cast<double>(std::numeric_limits<T>::lowest()) / 4 +
                      (std::is_floating_point_v<T> ? -250.0 : 0.0);
    const double hi =
        static_cast<double>(std::numeric_limits<T>::max()) / 4 + (std::is_floating_point_v<T> ? 250.0 : 0.0);
    const double window = std::is_floating_point_v<T> ? 500.0 : hi - lo;
    const double level = std::is_floating_point_v<T> ? 0.0 : (hi + lo) / 2;
    WindowLevelAlgorithm wl;
    wl.window = window;
    wl.level = level;
    auto out = ImageTest::run(wl, *image);
    ASSERT_TRUE(out);
    EXPECT_EQ(out->pixelType(), ImageDescriptor::kUByte);
    const auto& res = ImageTest::typed<std::uint8_t>(*out);
    for (std::size_t i = 0; i < in.valueCount(); ++i) {
        const double v = (static_cast<double>(in.pointer()[i]) - (level - window / 2)) * 255.0 / window;
        ASSERT_EQ(res.pointer()[i], ImageTest::expectedPixel<std::uint8_t>(v))
            << i << " value " << +in.pointer()[i];
    }
    wl.window = 0.0;
    EXPECT_FALSE(wl.processImage(*image, {}));
}

TYPED_TEST(PointwiseTest, GreyWeighsRedGreenAndBlueAndIgnoresAlpha)
{
    using T = TypeParam;
    for (int channels : {3, 4}) {
        auto image = ImageTest::randomImage<T>(3, 5, 1, channels);
        const auto& in = ImageTest::typed<T>(*image);
        RgbToGreyAlgorithm grey;
        auto out = ImageTest::run(grey, *image);
        ASSERT_TRUE(out);
        EXPECT_EQ(out->channels(), 1);
        EXPECT_EQ(out->pixelType(), image->pixelType());
        const auto& res = ImageTest::typed<T>(*out);
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 3; ++x) {
                const double v =
                    0.299 * in.at(x, y, 0, 0) + 0.587 * in.at(x, y, 0, 1) + 0.114 * in.at(x, y, 0, 2);
                ASSERT_EQ(res.at(x, y), ImageTest::expectedPixel<T>(v));
            }
    }
    RgbToGreyAlgorithm grey;
    std::string why;
    EXPECT_FALSE(grey.accepts(ImageDescriptor(ImageDescriptor::kUByte, 3, 3, 1, 1), &why));
    EXPECT_EQ(why, "needs 3 (RGB) or 4 (RGBA) channels");
    EXPECT_FALSE(grey.processImage(*ImageTest::randomImage<T>(3, 3, 1, 2), {}));
}

}  // namespace
}  // namespace Corvexis
