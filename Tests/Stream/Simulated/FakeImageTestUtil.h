#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <numbers>

#include <gtest/gtest.h>

#include "Host/Core/ImageDescriptor.h"
#include "Host/Core/MemImage.h"
#include "Host/Core/Random.h"
#include "Stream/Simulated/FakeImageCpuPainter.h"
#include "Stream/Simulated/FakeImageFrame.h"

// Helpers shared by the tests of the simulated image picture and its painters.
namespace Corvexis::Test {

// The picture's formula written out directly in double precision, independent of FakeImageFrame:
// grid background 0.3 * 100 * N, then five discs adding 0.7 * (100 * d2 / r^2 + colour[ch]).
struct Reference
{
    ImageDescriptor d;
    double centre[5][3];
    double radius[5];

    Reference(const ImageDescriptor& descriptor, int counter, int imageIndex, Random::Generator& generator)
        : d(descriptor)
    {
        const double w = d.width, h = d.height, s = d.slices;
        int m = std::min(d.width, d.height);
        if (d.slices > 5)
            m = std::min(m, d.slices);
        const double a = counter * std::numbers::pi / 180.0;
        radius[0] = (0.66 + 0.34 * std::sin(2 * a)) * 0.5 * std::sqrt(w * w + h * h + s * s);
        const double o = 0.2 * m * imageIndex;
        centre[0][0] = std::fmod(w / 2 + o, w);
        centre[0][1] = std::fmod(h / 2 + o, h);
        centre[0][2] = std::fmod(o + s / 2, s);
        for (int i = 1; i < 5; ++i) {
            radius[i] = (1.0 + 0.3 * std::cos(3 * counter * std::numbers::pi / 180.0)) * 6.0;
            centre[i][0] = generator.uniformDouble(0, w);
            centre[i][1] = generator.uniformDouble(0, h);
            centre[i][2] = generator.uniformDouble(0, s);
        }
    }

    double background(int x, int y, int z) const
    {
        int m = std::min(d.width, d.height);
        if (d.slices > 5)
            m = std::min(m, d.slices);
        const double cell = std::max(4.0, 0.1 * m);
        int n = 0;
        for (int p : {x, y, z}) {
            const double q = p / cell;
            if (q - std::floor(q) > 0.5)
                ++n;
        }
        return 0.3 * (100.0 * n);
    }

    double value(int x, int y, int z, int ch) const
    {
        static constexpr double kColour[4] = {155, 80, 50, 100};
        double v = background(x, y, z);
        for (int i = 0; i < 5; ++i) {
            const double dx = x - centre[i][0], dy = y - centre[i][1], dz = z - centre[i][2];
            const double d2 = dx * dx + dy * dy + dz * dz;
            if (d2 < radius[i] * radius[i])
                v += 0.7 * (100.0 * d2 / (radius[i] * radius[i]) + kColour[ch]);
        }
        return v;
    }

    bool insideAnyDisc(int x, int y, int z) const
    {
        for (int i = 0; i < 5; ++i) {
            const double dx = x - centre[i][0], dy = y - centre[i][1], dz = z - centre[i][2];
            if (dx * dx + dy * dy + dz * dz < (radius[i] + 1) * (radius[i] + 1))
                return true;
        }
        return false;
    }
};

inline FakeImageFrame frameOf(const ImageDescriptor& d, int counter, int imageIndex = 0)
{
    Random::Generator generator(0);
    FakeImageFrame frame;
    for (int k = 0; k <= imageIndex; ++k)
        frame = FakeImageFrame::compute(d, counter, k, generator);
    return frame;
}

inline std::unique_ptr<MemImage> paintCpu(const ImageDescriptor& d, int counter, int imageIndex = 0)
{
    auto image = MemImage::create(d);
    EXPECT_TRUE(FakeImageCpuPainter::paint(*image, frameOf(d, counter, imageIndex)));
    return image;
}

// Channel value of a main-memory image as a double, whatever its pixel type.
inline double valueAt(const MemImage& image, int x, int y, int z, int ch)
{
    const ImageDescriptor& d = image.descriptor();
    const std::size_t index =
        ((static_cast<std::size_t>(z) * d.height + y) * d.width + x) * d.channels + ch;
    const auto* bytes = static_cast<const std::uint8_t*>(image.data()) + index * d.typeSize();
    switch (d.pixelType) {
    case ImageDescriptor::kByte: return *reinterpret_cast<const std::int8_t*>(bytes);
    case ImageDescriptor::kUByte: return *bytes;
    case ImageDescriptor::kShort: return *reinterpret_cast<const std::int16_t*>(bytes);
    case ImageDescriptor::kUShort: return *reinterpret_cast<const std::uint16_t*>(bytes);
    case ImageDescriptor::kInt: return *reinterpret_cast<const std::int32_t*>(bytes);
    case ImageDescriptor::kUInt: return *reinterpret_cast<const std::uint32_t*>(bytes);
    case ImageDescriptor::kDouble: return *reinterpret_cast<const double*>(bytes);
    default: return *reinterpret_cast<const float*>(bytes);
    }
}

inline constexpr int kAllTypes[] = {ImageDescriptor::kUByte, ImageDescriptor::kByte,  ImageDescriptor::kUShort,
                         ImageDescriptor::kShort, ImageDescriptor::kUInt,  ImageDescriptor::kInt,
                         ImageDescriptor::kFloat};

}  // namespace Corvexis::Test
