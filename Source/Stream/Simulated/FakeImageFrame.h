#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "Host/Core/ImageDescriptor.h"

namespace Corvexis {

namespace Random {
class Generator;
}

// The per-image parameters of one simulated test picture: a grid background and five additive discs
// (one large one centred on the image and animated by the frame counter, four small ones at seeded
// random places). Both painters (FakeImageCpuPainter in main memory, FakeImageGlPainter on the graphics
// card) evaluate exactly the same single-precision arithmetic from these values, in the same order,
// so that their images are bit-identical:
//
//   v  = background[cellX[x] + cellY[y] + cellZ[z]]
//   for disc i = 0..4, in order:
//     d2 = (x - cx)^2 + (y - cy)^2 + (z - cz)^2      (float, summed left to right)
//     v  = v + (d2 < r2 ? d2 * gain + colourTerm[ch] : 0)
//   stored = the pixel type's conversion of clamp(v, lowest, highest), truncating toward zero
//
// with p = (x, y, z) the integer pixel index. Everything that involves a division or a transcendental
// function (the grid cells, radii, gains) is computed here once per image in double precision, because
// the graphics card does not divide with correct rounding. gain = 70 / r^2 and colourTerm = 0.7 * colour
// implement the contribution 0.7 * (100 * d2 / r^2 + colour[ch]).
//
// A plain value; caller synchronises.
class FakeImageFrame
{
public:
    static constexpr int kDiscCount = 5;
    static constexpr int kMaxChannels = 4;
    // The animation repeats after this many frames (the counter is an angle in degrees).
    static constexpr int kCounterPeriod = 360;
    // Disc colour per channel, before the 0.7 weight.
    static constexpr std::array<double, kMaxChannels> kColour{155.0, 80.0, 50.0, 100.0};

    struct Disc
    {
        float cx = 0.0f;  // centre, pixels
        float cy = 0.0f;
        float cz = 0.0f;
        float r2 = 0.0f;    // squared radius, pixels^2
        float gain = 0.0f;  // 70 / r^2
        // Centre and radius in double precision, as drawn and computed (for tests and bounds).
        double centre[3] = {0.0, 0.0, 0.0};
        double radius = 0.0;
    };

    // The parameters of image `imageIndex` of a record painted at frame `counter` (degrees, any value;
    // only counter mod 360 matters to the animation). `generator` supplies the small discs' centres: it
    // is advanced by 12 draws (x, y, z of discs 1 to 4, in that order), so painting the images of one
    // record from one generator gives each image its own small-disc positions. The descriptor must have
    // positive extents; channels beyond kMaxChannels are not described (see channels()).
    static FakeImageFrame compute(const ImageDescriptor& descriptor, int counter, int imageIndex,
                                  Random::Generator& generator);

    // Grid cell size in pixels: max(4, 0.1 * m) with m the smallest extent (slices counted only above 5).
    static double cellSize(const ImageDescriptor& descriptor);

    const ImageDescriptor& descriptor() const { return descriptor_; }
    int width() const { return descriptor_.width; }
    int height() const { return descriptor_.height; }
    int slices() const { return descriptor_.slices; }
    // Channels painted: the descriptor's, at most kMaxChannels.
    int channels() const;
    int counter() const { return counter_; }

    // 0 or 1 per pixel index along each axis: whether the fractional part of index / cellSize is above 0.5.
    const std::vector<std::uint8_t>& cellX() const { return cellX_; }
    const std::vector<std::uint8_t>& cellY() const { return cellY_; }
    const std::vector<std::uint8_t>& cellZ() const { return cellZ_; }
    // Background value by the number of axes in an upper half cell: 0, 30, 60, 90.
    const std::array<float, 4>& background() const { return background_; }
    const std::array<float, kMaxChannels>& colourTerm() const { return colourTerm_; }
    const std::array<Disc, kDiscCount>& discs() const { return discs_; }

    // The unclamped value of channel `channel` at pixel (x, y, z), by the formula above. The painters'
    // reference; slow.
    float value(int x, int y, int z, int channel) const;

    // Clamp limits of a pixel type as floats that convert exactly (the largest float below 2^31 and
    // 2^32 for the 32-bit integer types), so that both painters clamp and convert identically.
    static float lowest(int pixelType);
    static float highest(int pixelType);

private:
    ImageDescriptor descriptor_;
    int counter_ = 0;
    std::vector<std::uint8_t> cellX_;
    std::vector<std::uint8_t> cellY_;
    std::vector<std::uint8_t> cellZ_;
    std::array<float, 4> background_{};
    std::array<float, kMaxChannels> colourTerm_{};
    std::array<Disc, kDiscCount> discs_{};
};

}  // namespace Corvexis
