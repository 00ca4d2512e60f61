// Flip/rotate, crop and downsampling: positions and values against direct computations, for every pixel
// type, odd sizes and partial blocks included.
#include <gtest/gtest.h>

#include "Host/Lib/ImageProcessing/CropAlgorithm.h"
#include "Host/Lib/ImageProcessing/DownsampleAlgorithm.h"
#include "Host/Lib/ImageProcessing/FlipRotateAlgorithm.h"
#include "Host/Lib/ImageProcessing/ImageTestUtil.h"

namespace Corvexis {
namespace {

template <typename T>
class GeometricTest : public ::testing::Test
{
};
TYPED_TEST_SUITE(GeometricTest, ImageTest::AllPixelTypes);

// Where output pixel (x, y) of a w x h slice comes from, by flipping and then turning clockwise in
// quarter turns, one quarter turn at a time.
std::pair<int, int> sourceOf(int x, int y, int w, int h, bool flipX, bool flipY, int quarters)
{
    // Undo the quarter turns one by one: a clockwise quarter turn of an image A gives B, b pixels wide,
    // with B(x, y) = A(y, b - 1 - x).
    int cw = quarters % 2 == 0 ? w : h;  // width and height of the current (turned) image
    int ch = quarters % 2 == 0 ? h : w;
    for (int q = 0; q < quarters; ++q) {
        const int px = y;
        const int py = cw - 1 - x;
        x = px;
        y = py;
        std::swap(cw, ch);
    }
    if (flipX)
        x = w - 1 - x;
    if (flipY)
        y = h - 1 - y;
    return {x, y};
}

TYPED_TEST(GeometricTest, FlipsAndQuarterTurnsMoveWholePixels)
{
    using T = TypeParam;
    auto image = ImageTest::randomImage<T>(5, 3, 2, 3);
    image->setSpacing(Eigen::Vector3d(0.5, 2.0, 3.0));
    const auto& in = ImageTest::typed<T>(*image);
    for (int quarters = 0; quarters < 4; ++quarters)
        for (int flips = 0; flips < 4; ++flips) {
            const bool fx = (flips & 1) != 0;
            const bool fy = (flips & 2) != 0;
            SCOPED_TRACE(testing::Message() << quarters * 90 << " deg, flipX " << fx << ", flipY " << fy);
            FlipRotateAlgorithm algorithm;
            algorithm.flipX = fx;
            algorithm.flipY = fy;
            algorithm.rotation = quarters * 90;
            auto out = ImageTest::run(algorithm, *image);
            ASSERT_TRUE(out);
            const bool swapped = quarters % 2 == 1;
            ASSERT_EQ(out->width(), swapped ? 3 : 5);
            ASSERT_EQ(out->height(), swapped ? 5 : 3);
            EXPECT_EQ(out->spacing(),
                      swapped ? Eigen::Vector3d(2.0, 0.5, 3.0) : Eigen::Vector3d(0.5, 2.0, 3.0));
            const auto& res = ImageTest::typed<T>(*out);
            for (int z = 0; z < 2; ++z)
                for (int y = 0; y < out->height(); ++y)
                    for (int x = 0; x < out->width(); ++x) {
                        const auto [sx, sy] = sourceOf(x, y, 5, 3, fx, fy, quarters);
                        for (int c = 0; c < 3; ++c)
                            ASSERT_EQ(res.at(x, y, z, c), in.at(sx, sy, z, c)) << x << "," << y;
                    }
        }
}

TEST(FlipRotateTest, QuarterTurnIsClockwiseAsShown)
{
    // 3 x 2, row 0 on top:   1 2 3      turned clockwise:  4 1
    //                        4 5 6                         5 2
    //                                                      6 3
    auto mem = TypedImage<std::uint8_t>::create(3, 2);
    for (int i = 0; i < 6; ++i)
        mem->pointer()[i] = static_cast<std::uint8_t>(i + 1);
    SharedImage image(std::move(mem));
    FlipRotateAlgorithm algorithm;
    algorithm.rotation = 90;
    auto out = ImageTest::run(algorithm, image);
    ASSERT_TRUE(out);
    const auto& res = ImageTest::typed<std::uint8_t>(*out);
    const std::uint8_t want[6] = {4, 1, 5, 2, 6, 3};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(res.pointer()[i], want[i]) << i;
    algorithm.rotation = 45;
    EXPECT_FALSE(algorithm.processImage(image, {}));
}

TYPED_TEST(GeometricTest, CropKeepsTheRegionClippedToTheImage)
{
    using T = TypeParam;
    auto image = ImageTest::randomImage<T>(7, 5, 2, 2);
    const auto& in = ImageTest::typed<T>(*image);
    struct Case
    {
        Eigen::Vector2i offset, size, wantOrigin, wantSize;
    };
    const Case cases[] = {
        {{1, 2}, {3, 2}, {1, 2}, {3, 2}},    // inside
        {{4, 3}, {10, 10}, {4, 3}, {3, 2}},  // clipped at the far edges
        {{-2, -1}, {4, 3}, {0, 0}, {2, 2}},  // clipped at the near edges
        {{2, 1}, {0, -1}, {2, 1}, {5, 4}},   // "to the edge"
    };
    for (const Case& c : cases) {
        CropAlgorithm crop;
        crop.offset = c.offset;
        crop.size = c.size;
        auto out = ImageTest::run(crop, *image);
        ASSERT_TRUE(out);
        ASSERT_EQ(out->width(), c.wantSize.x());
        ASSERT_EQ(out->height(), c.wantSize.y());
        ASSERT_EQ(out->slices(), 2);
        const auto& res = ImageTest::typed<T>(*out);
        for (int z = 0; z < 2; ++z)
            for (int y = 0; y < out->height(); ++y)
                for (int x = 0; x < out->width(); ++x)
                    for (int ch = 0; ch < 2; ++ch)
                        ASSERT_EQ(res.at(x, y, z, ch),
                                  in.at(x + c.wantOrigin.x(), y + c.wantOrigin.y(), z, ch));
    }
    CropAlgorithm outside;
    outside.offset = Eigen::Vector2i(7, 0);
    EXPECT_FALSE(outside.processImage(*image, {}));
}

TYPED_TEST(GeometricTest, DownsamplingAveragesBlocksIncludingPartialOnes)
{
    using T = TypeParam;
    auto image = ImageTest::randomImage<T>(7, 5, 1, 2);
    const auto& in = ImageTest::typed<T>(*image);
    for (int f : {1, 2, 3, 8}) {
        DownsampleAlgorithm down;
        down.factor = f;
        auto out = ImageTest::run(down, *image);
        ASSERT_TRUE(out);
        ASSERT_EQ(out->width(), (7 + f - 1) / f);
        ASSERT_EQ(out->height(), (5 + f - 1) / f);
        EXPECT_EQ(out->spacing(), Eigen::Vector3d(f, f, 1.0));
        const auto& res = ImageTest::typed<T>(*out);
        for (int y = 0; y < out->height(); ++y)
            for (int x = 0; x < out->width(); ++x)
                for (int c = 0; c < 2; ++c) {
                    double sum = 0.0;
                    int count = 0;
                    for (int sy = y * f; sy < std::min(5, (y + 1) * f); ++sy)
                        for (int sx = x * f; sx < std::min(7, (x + 1) * f); ++sx, ++count)
                            sum += in.at(sx, sy, 0, c);
                    const T want = ImageTest::expectedPixel<T>(sum / count);
                    if constexpr (std::is_floating_point_v<T>)
                        ASSERT_NEAR(res.at(x, y, 0, c), want, 1e-3);
                    else
                        ASSERT_EQ(res.at(x, y, 0, c), want) << "factor " << f << " at " << x << "," << y;
                }
    }
    DownsampleAlgorithm bad;
    bad.factor = 0;
    EXPECT_FALSE(bad.processImage(*image, {}));
}

}  // namespace
}  // namespace Corvexis
