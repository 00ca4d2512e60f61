#include "Host/Lib/ImageProcessing/GaussianSmoothingAlgorithm.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "Host/GL/GlImage.h"
#include "Host/GL/RequireOpenGL.h"
#include "Host/Lib/ImageProcessing/ImageTestUtil.h"

namespace Corvexis {
namespace {

using ImageTest::AllPixelTypes;
using ImageTest::CardPixelTypes;

// The 2-D convolution written directly, in double: sum over the whole window of w[j] * w[k] times the
// pixel at the clamped position.
template <typename T>
double reference(const TypedImage<T>& in, const std::vector<double>& w, int x, int y, int z, int c)
{
    const int r = static_cast<int>(w.size() / 2);
    double sum = 0.0;
    for (int j = -r; j <= r; ++j) {
        for (int k = -r; k <= r; ++k) {
            const int sx = std::clamp(x + k, 0, in.width() - 1);
            const int sy = std::clamp(y + j, 0, in.height() - 1);
            sum +=
                w[static_cast<std::size_t>(j + r)] * w[static_cast<std::size_t>(k + r)] * in.at(sx, sy, z, c);
        }
    }
    return sum;
}

// Largest difference between two images of T, in T's units.
template <typename T>
double maxDifference(const SharedImage& a, const SharedImage& b)
{
    const auto& ta = ImageTest::typed<T>(a);
    const auto& tb = ImageTest::typed<T>(b);
    double worst = 0.0;
    for (std::size_t i = 0; i < ta.valueCount(); ++i)
        worst = std::max(
            worst, std::abs(static_cast<double>(ta.pointer()[i]) - static_cast<double>(tb.pointer()[i])));
    return worst;
}

template <typename T>
class GaussianSmoothingTypedTest : public ::testing::Test
{
};
TYPED_TEST_SUITE(GaussianSmoothingTypedTest, AllPixelTypes);

TYPED_TEST(GaussianSmoothingTypedTest, MatchesTheDirectConvolutionAtBordersAndOddSizes)
{
    using T = TypeParam;
    struct Case
    {
        int w, h, slices, channels;
        double sigma;
    };
    // A single pixel, a row narrower than the kernel, odd sizes with 1 to 4 channels, and a volume.
    const Case cases[] = {{1, 1, 1, 1, 1.0}, {2, 9, 1, 2, 1.5}, {7, 5, 1, 1, 1.0},
                          {9, 4, 1, 3, 0.6}, {5, 6, 1, 4, 2.0}, {5, 4, 2, 2, 0.8}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.w << "x" << c.h << "x" << c.slices << " c" << c.channels << " s" << c.sigma);
        auto image = ImageTest::randomImage<T>(c.w, c.h, c.slices, c.channels);
        GaussianSmoothingAlgorithm smoothing;
        smoothing.sigma = c.sigma;
        auto out = ImageTest::run(smoothing, *image);
        ASSERT_TRUE(out);
        ASSERT_EQ(out->descriptor(), image->descriptor());
        const auto& in = ImageTest::typed<T>(*image);
        const auto& res = ImageTest::typed<T>(*out);
        const auto w = GaussianSmoothingAlgorithm::kernel(c.sigma);
        for (int z = 0; z < c.slices; ++z)
            for (int y = 0; y < c.h; ++y)
                for (int x = 0; x < c.w; ++x)
                    for (int ch = 0; ch < c.channels; ++ch) {
                        const double want = reference(in, w, x, y, z, ch);
                        const double got = res.at(x, y, z, ch);
                        if constexpr (std::is_same_v<T, double>)  // combined in double precision
                            ASSERT_NEAR(got, want, 1e-9) << x << "," << y;
                        else if constexpr (std::is_floating_point_v<T>)
                            ASSERT_NEAR(got, want, 1e-3) << x << "," << y;
                        else  // single-precision sums may land on the other side of a rounding edge
                            ASSERT_NEAR(got, static_cast<double>(ImageTest::expectedPixel<T>(want)), 1.0)
                                << x << "," << y;
                    }
    }
}

TYPED_TEST(GaussianSmoothingTypedTest, ConstantImagesStayConstant)
{
    using T = TypeParam;
    // The largest value of integer types (where rounding would overflow), a plain value for floats.
    const T value = std::is_floating_point_v<T> ? T(1000.5) : std::numeric_limits<T>::max();
    auto mem = TypedImage<T>::create(11, 3, 1, 1);
    mem->fill(value);
    SharedImage image(std::move(mem));
    GaussianSmoothingAlgorithm smoothing;
    smoothing.sigma = 3.0;
    auto out = ImageTest::run(smoothing, image);
    ASSERT_TRUE(out);
    const auto& res = ImageTest::typed<T>(*out);
    for (std::size_t i = 0; i < res.valueCount(); ++i)
        ASSERT_NEAR(static_cast<double>(res.pointer()[i]), static_cast<double>(value),
                    std::is_floating_point_v<T> ? 1e-3 : 0.0);
}

template <typename T>
class GaussianSmoothingGlTest : public Test::OpenGLTest
{
};
TYPED_TEST_SUITE(GaussianSmoothingGlTest, CardPixelTypes);

// Images only on the graphics card are smoothed there and stay there; the values agree with the
// main-memory path (one unit for integers, 1e-5 relative for floats). 32-bit integers, which the card
// would combine in single precision, are smoothed in main memory and agree exactly.
TYPED_TEST(GaussianSmoothingGlTest, CardAndMainMemoryPathsAgree)
{
    using T = TypeParam;
    for (int channels = 1; channels <= 4; ++channels) {
        SCOPED_TRACE(channels);
        auto memImage = ImageTest::randomImage<T>(13, 7, 1, channels, 11 + channels);
        SharedImage cardImage(GlImage::fromMemImage(*memImage->mem()));
        ASSERT_TRUE(cardImage.isUpToDate(Image::Location::OpenGL));
        ASSERT_FALSE(cardImage.hasMem());

        GaussianSmoothingAlgorithm smoothing;
        smoothing.sigma = 1.3;
        auto cpu = ImageTest::run(smoothing, *memImage);
        auto gpu = ImageTest::run(smoothing, cardImage);
        ASSERT_TRUE(cpu && gpu);
        const bool cardPath = sizeof(T) < 4 || std::is_floating_point_v<T>;
        EXPECT_EQ(gpu->isUpToDate(Image::Location::OpenGL), cardPath);
        EXPECT_EQ(gpu->isUpToDate(Image::Location::Memory), !cardPath);
        ASSERT_EQ(gpu->descriptor(), cpu->descriptor());
        if constexpr (std::is_floating_point_v<T>) {
            const auto& a = ImageTest::typed<T>(*cpu);
            const auto& b = ImageTest::typed<T>(*gpu);
            for (std::size_t i = 0; i < a.valueCount(); ++i)
                ASSERT_NEAR(a.pointer()[i], b.pointer()[i], 1e-5 * std::max(1.0f, std::abs(a.pointer()[i])));
        } else {
            EXPECT_LE(maxDifference<T>(*cpu, *gpu), cardPath ? 1.0 : 0.0);
        }
    }
}

TEST(GaussianSmoothingTest, RefusesSigmaOutOfRangeAndTooManyChannels)
{
    auto image = ImageTest::randomImage<std::uint8_t>(4, 4, 1, 1);
    GaussianSmoothingAlgorithm smoothing;
    smoothing.sigma = 0.0;
    EXPECT_FALSE(smoothing.processImage(*image, {}));
    smoothing.sigma = 65.0;
    EXPECT_FALSE(smoothing.processImage(*image, {}));
    smoothing.sigma = 64.0;
    EXPECT_TRUE(smoothing.processImage(*image, {}));

    std::string why;
    EXPECT_FALSE(smoothing.accepts(ImageDescriptor(ImageDescriptor::kUByte, 4, 4, 1, 5), &why));
    EXPECT_EQ(why, "needs a known pixel type and 1 to 4 channels");
    why = "untouched";
    EXPECT_TRUE(smoothing.accepts(ImageDescriptor(ImageDescriptor::kFloat, 4, 4, 3, 4), &why));
    EXPECT_EQ(why, "untouched");
}

TEST(GaussianSmoothingTest, KernelIsNormalisedSymmetricAndThreeSigmaWide)
{
    for (double sigma : {0.1, 0.5, 1.0, 2.0, 5.5}) {
        const auto w = GaussianSmoothingAlgorithm::kernel(sigma);
        const int r = static_cast<int>(w.size() / 2);
        EXPECT_EQ(r, std::max(1, static_cast<int>(std::ceil(3.0 * sigma))));
        double sum = 0.0;
        for (int k = 0; k <= 2 * r; ++k) {
            sum += w[static_cast<std::size_t>(k)];
            EXPECT_DOUBLE_EQ(w[static_cast<std::size_t>(k)], w[static_cast<std::size_t>(2 * r - k)]);
        }
        EXPECT_NEAR(sum, 1.0, 1e-12);
    }
}

}  // namespace
}  // namespace Corvexis
