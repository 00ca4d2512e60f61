#include "Stream/Simulated/FakeImageFrame.h"

#include <set>

#include <gtest/gtest.h>

#include "Host/Core/MemImage.h"
#include "Host/Core/Random.h"
#include "Stream/Simulated/FakeImageTestUtil.h"

using namespace Corvexis;
using namespace Corvexis::Test;

TEST(FakeImageFrameTest, ChosenPixelsFollowTheFormula)
{
    // 100 x 100, counter 0: cell size 10, large disc radius 0.33 half diagonals around (50, 50, 0.5).
    const ImageDescriptor d(ImageDescriptor::kFloat, 100, 100, 1, 4);
    auto image = paintCpu(d, 0);
    Random::Generator generator(0);
    const Reference ref(d, 0, 0, generator);
    ASSERT_NEAR(ref.radius[0], 0.33 * std::sqrt(20001.0), 1e-9);

    for (int ch = 0; ch < 4; ++ch) {
        static constexpr double kColour[4] = {155, 80, 50, 100};
        // Centre: background 0 (50 / 10 has no fraction), d2 = 0.25 from the half-slice centre.
        EXPECT_NEAR(valueAt(*image, 50, 50, 0, ch), 0.7 * (100 * 0.25 / (ref.radius[0] * ref.radius[0]) + kColour[ch]),
                    1e-3)
            << ch;
    }
    // Every pixel, every channel, against the double-precision formula.
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 100; ++x)
            for (int ch = 0; ch < 4; ++ch)
                ASSERT_NEAR(valueAt(*image, x, y, 0, ch), ref.value(x, y, 0, ch), 1e-3) << x << "," << y;
}

TEST(FakeImageFrameTest, IntegerPixelsAreTheClampedTruncatedFormula)
{
    for (int type : kAllTypes) {
        const ImageDescriptor d(type, 64, 48, 1, 2);
        auto image = paintCpu(d, 33);
        Random::Generator generator(0);
        const Reference ref(d, 33, 0, generator);
        const double lo = type == ImageDescriptor::kByte ? -128 : 0;
        const double hi = type == ImageDescriptor::kByte ? 127 : type == ImageDescriptor::kUByte ? 255 : 1e30;
        int exact = 0;
        for (int y = 0; y < 48; ++y)
            for (int x = 0; x < 64; ++x)
                for (int ch = 0; ch < 2; ++ch) {
                    double want = std::clamp(ref.value(x, y, 0, ch), lo, hi);
                    if (type != ImageDescriptor::kFloat)
                        want = std::trunc(want);
                    const double got = valueAt(*image, x, y, 0, ch);
                    // Float rounding may cross an integer boundary; nothing else may differ.
                    ASSERT_LE(std::abs(got - want), type == ImageDescriptor::kFloat ? 1e-3 : 1.0) << type;
                    exact += got == want;
                }
        if (type != ImageDescriptor::kFloat) {
            EXPECT_GT(exact, 64 * 48 * 2 * 99 / 100) << type;
        }
    }
}

TEST(FakeImageFrameTest, SignedBytesClampAtTheTopOfTheirRange)
{
    // The large disc's centre reaches 0.7 * 155 = 108.5 over a background of up to 60; at the rim more.
    const ImageDescriptor d(ImageDescriptor::kByte, 100, 100, 1, 1);
    auto image = paintCpu(d, 45);  // largest radius
    int clamped = 0;
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 100; ++x) {
            const double v = valueAt(*image, x, y, 0, 0);
            EXPECT_GE(v, 0);
            clamped += v == 127;
        }
    EXPECT_GT(clamped, 100);
}

TEST(FakeImageFrameTest, TwoDimensionalBackgroundNeverReachesNinety)
{
    for (const ImageDescriptor& d : {ImageDescriptor(ImageDescriptor::kFloat, 100, 100, 1, 1),
                                     ImageDescriptor(ImageDescriptor::kFloat, 97, 33, 1, 1)}) {
        auto image = paintCpu(d, 0);
        Random::Generator generator(0);
        const Reference ref(d, 0, 0, generator);
        std::set<double> backgrounds;
        for (int y = 0; y < d.height; ++y)
            for (int x = 0; x < d.width; ++x)
                if (!ref.insideAnyDisc(x, y, 0))
                    backgrounds.insert(valueAt(*image, x, y, 0, 0));
        EXPECT_EQ(backgrounds, (std::set<double>{0.0, 30.0, 60.0}));
    }
    // A volume does have cells with all three axes in their upper half.
    const FakeImageFrame volume = frameOf(ImageDescriptor(ImageDescriptor::kFloat, 40, 40, 40, 1), 0);
    int ninety = 0;
    for (int z = 0; z < 40; ++z)
        for (int y = 0; y < 40; ++y)
            for (int x = 0; x < 40; ++x)
                ninety += volume.value(x, y, z, 0) == 90.0f;
    EXPECT_GT(ninety, 0);
}

TEST(FakeImageFrameTest, SmallDiscsStayPutAndImagesOfOneRecordDiffer)
{
    const ImageDescriptor d(ImageDescriptor::kUByte, 100, 80, 1, 1);
    const FakeImageFrame a = frameOf(d, 0);
    const FakeImageFrame b = frameOf(d, 17);
    for (int i = 1; i < FakeImageFrame::kDiscCount; ++i) {
        for (int axis = 0; axis < 3; ++axis)
            EXPECT_EQ(a.discs()[i].centre[axis], b.discs()[i].centre[axis]);
        EXPECT_GE(a.discs()[i].centre[0], 0.0);
        EXPECT_LT(a.discs()[i].centre[0], 100.0);
        EXPECT_LT(a.discs()[i].centre[1], 80.0);
        EXPECT_LT(a.discs()[i].centre[2], 1.0);
    }
    EXPECT_NE(a.discs()[1].radius, b.discs()[1].radius);
    EXPECT_NEAR(a.discs()[1].radius, 7.8, 1e-12);  // cos(0) = 1: the largest small radius

    const FakeImageFrame second = frameOf(d, 0, 1);
    EXPECT_NE(a.discs()[1].centre[0], second.discs()[1].centre[0]);
    // The large disc of the second image is shifted along the diagonal by 0.2 * min(w, h).
    EXPECT_DOUBLE_EQ(second.discs()[0].centre[0], 50.0 + 16.0);
    EXPECT_DOUBLE_EQ(second.discs()[0].centre[1], 40.0 + 16.0);
    auto first = paintCpu(d, 0, 0);
    auto other = paintCpu(d, 0, 1);
    EXPECT_FALSE(first->hasSamePixels(*other));
}

TEST(FakeImageFrameTest, AnimationRepeatsAfter360Frames)
{
    const ImageDescriptor d(ImageDescriptor::kUShort, 90, 70, 1, 3);
    auto start = paintCpu(d, 0);
    auto later = paintCpu(d, 360);
    auto middle = paintCpu(d, 90);
    EXPECT_TRUE(start->hasSamePixels(*later));
    EXPECT_FALSE(start->hasSamePixels(*middle));
    // Radii: large disc period 180 frames, small discs 120 frames.
    EXPECT_NEAR(frameOf(d, 180).discs()[0].radius, frameOf(d, 0).discs()[0].radius, 1e-9);
    EXPECT_NEAR(frameOf(d, 120).discs()[1].radius, frameOf(d, 0).discs()[1].radius, 1e-9);
}

TEST(FakeImageFrameTest, CellSizeUsesSlicesOnlyAboveFive)
{
    EXPECT_DOUBLE_EQ(FakeImageFrame::cellSize(ImageDescriptor(5121, 100, 200, 1)), 10.0);
    EXPECT_DOUBLE_EQ(FakeImageFrame::cellSize(ImageDescriptor(5121, 30, 30, 1)), 4.0);
    EXPECT_DOUBLE_EQ(FakeImageFrame::cellSize(ImageDescriptor(5121, 100, 100, 5)), 10.0);
    EXPECT_DOUBLE_EQ(FakeImageFrame::cellSize(ImageDescriptor(5121, 100, 100, 60)), 6.0);
}
