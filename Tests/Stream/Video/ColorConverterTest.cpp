#include "Stream/Video/ColorConverter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace Corvexis {
namespace {

// The conversion written out in double precision, independent of the implementation.
std::array<int, 3> reference(int y, int u, int v)
{
    const double c = 1.164 * (y - 16);
    const double rgb[3] = {c + 1.596 * (v - 128), c - 0.813 * (v - 128) - 0.391 * (u - 128),
                           c + 2.018 * (u - 128)};
    std::array<int, 3> out{};
    for (int i = 0; i < 3; ++i)
        out[i] = static_cast<int>(std::lround(std::clamp(rgb[i], 0.0, 255.0)));
    return out;
}

TEST(ColorConverterTest, ClampsAtBothEndsOfEveryChannel)
{
    struct Case
    {
        int y, u, v;
        std::array<int, 3> rgb;
    };
    // Extremes where each channel leaves 0 ... 255 on one side or the other.
    const Case cases[] = {
        {0, 0, 0, {0, 135, 0}},            // R and B far below 0; G = -18.6 + 104.1 + 50.0
        {255, 255, 255, {255, 125, 255}},  // R and B far above 255
        {16, 128, 128, {0, 0, 0}},         // black of limited range
        {235, 128, 128, {255, 255, 255}},  // white of limited range (254.9 rounds up)
        {0, 255, 0, {0, 36, 238}},        {255, 0, 255, {255, 225, 20}},
    };
    for (const Case& c : cases) {
        std::uint8_t rgba[4] = {1, 2, 3, 4};
        ColorConverter::convertPixel(static_cast<std::uint8_t>(c.y), static_cast<std::uint8_t>(c.u),
                                     static_cast<std::uint8_t>(c.v), rgba);
        const auto expected = reference(c.y, c.u, c.v);
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(rgba[i], expected[i]) << "YUV " << c.y << "," << c.u << "," << c.v << " channel " << i;
            EXPECT_EQ(rgba[i], c.rgb[i]) << "YUV " << c.y << "," << c.u << "," << c.v << " channel " << i;
        }
        EXPECT_EQ(rgba[3], 255);
    }
}

TEST(ColorConverterTest, EveryInputIsWithinOneLevelOfTheFormula)
{
    // Single precision may round the other way right at a half; never by more.
    for (int y = 0; y < 256; y += 5)
        for (int u = 0; u < 256; u += 3)
            for (int v = 0; v < 256; v += 7) {
                std::uint8_t rgba[4];
                ColorConverter::convertPixel(static_cast<std::uint8_t>(y), static_cast<std::uint8_t>(u),
                                             static_cast<std::uint8_t>(v), rgba);
                const auto expected = reference(y, u, v);
                for (int i = 0; i < 3; ++i)
                    ASSERT_LE(std::abs(rgba[i] - expected[i]), 1) << y << "," << u << "," << v;
            }
}

TEST(ColorConverterTest, PictureUsesTheChromaPairOfEachTwoByTwoBlockAndHonoursPitches)
{
    constexpr int kWidth = 6, kHeight = 4, kLumaPitch = 8, kChromaPitch = 10, kRgbaPitch = 4 * kWidth + 4;
    std::vector<std::uint8_t> luma(kLumaPitch * kHeight, 0xCD);
    std::vector<std::uint8_t> chroma(kChromaPitch * kHeight / 2, 0xCD);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            luma[y * kLumaPitch + x] = static_cast<std::uint8_t>(20 + 30 * x + 7 * y);
    for (int y = 0; y < kHeight / 2; ++y)
        for (int x = 0; x < kWidth / 2; ++x) {
            chroma[y * kChromaPitch + 2 * x] = static_cast<std::uint8_t>(60 + 40 * x + 50 * y);       // U
            chroma[y * kChromaPitch + 2 * x + 1] = static_cast<std::uint8_t>(200 - 30 * x - 60 * y);  // V
        }
    std::vector<std::uint8_t> rgba(kRgbaPitch * kHeight, 0x11);
    ColorConverter::nv12ToRgba(luma.data(), kLumaPitch, chroma.data(), kChromaPitch, kWidth, kHeight,
                               rgba.data(), kRgbaPitch);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            std::uint8_t expected[4];
            ColorConverter::convertPixel(luma[y * kLumaPitch + x], chroma[(y / 2) * kChromaPitch + (x & ~1)],
                                         chroma[(y / 2) * kChromaPitch + (x & ~1) + 1], expected);
            for (int c = 0; c < 4; ++c)
                ASSERT_EQ(rgba[y * kRgbaPitch + 4 * x + c], expected[c]) << x << "," << y << " channel " << c;
        }
        for (int pad = 4 * kWidth; pad < kRgbaPitch; ++pad)
            EXPECT_EQ(rgba[y * kRgbaPitch + pad], 0x11) << "row padding must stay untouched";
    }
}

}  // namespace
}  // namespace Corvexis
