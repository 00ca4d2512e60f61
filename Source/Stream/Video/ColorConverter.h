#pragma once

#include <cstdint>
#include <string>

namespace Corvexis {

// Conversion of NV12 pictures (a luma plane and one interleaved U/V plane at half resolution) to RGBA
// with the BT.601 limited-range matrix:
//   R = 1.164 (Y - 16) + 1.596 (V - 128)
//   G = 1.164 (Y - 16) - 0.813 (V - 128) - 0.391 (U - 128)
//   B = 1.164 (Y - 16) + 2.018 (U - 128)
// each clamped to 0 ... 255 and rounded to the nearest integer, alpha 255. The graphics-card kernel
// and the main-memory implementation compute exactly this, in single precision.
//
// All operations are thread-safe (they share no state besides the CUDA runtime's own).
class ColorConverter
{
public:
    // One pixel of the formula above, written to rgba[0..3].
    static void convertPixel(std::uint8_t y, std::uint8_t u, std::uint8_t v, std::uint8_t* rgba);

    // Converts a main-memory NV12 picture into `rgba` (rgbaPitch bytes per row). Pitches are in bytes.
    static void nv12ToRgba(const std::uint8_t* luma, int lumaPitch, const std::uint8_t* chroma,
                           int chromaPitch, int width, int height, std::uint8_t* rgba, int rgbaPitch);

    // True when the library was built with the CUDA kernel.
    static bool gpuKernelAvailable();

    // Converts an NV12 picture in graphics-card memory (CUDA device pointers) into the RGBA8 2-D GL
    // texture `texture` of the same size, on the calling thread, which must have a current GL context
    // sharing that texture. Empty on success, else the reason (also when built without CUDA).
    static std::string nv12ToGlTexture(unsigned texture, const std::uint8_t* lumaDevice, int lumaPitch,
                                       const std::uint8_t* chromaDevice, int chromaPitch, int width,
                                       int height);
};

}  // namespace Corvexis
