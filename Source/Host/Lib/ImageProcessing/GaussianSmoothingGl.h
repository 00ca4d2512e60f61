#pragma once

#include <array>
#include <cstddef>
#include <memory>
#include <vector>

#include "Host/Core/ImageDescriptor.h"

namespace Corvexis {

class GlImage;

namespace GL {
class ComputeProgram;
}

// The graphics-card path of GaussianSmoothingAlgorithm: two compute passes over a texture. The first
// smooths each row into a float buffer; the second smooths the columns of that buffer, converts each
// value as the main-memory path does (clamp, round half up) and packs it into 32-bit words of the
// image's main-memory layout, which then fill the result texture as a pixel-unpack buffer (one path for
// every channel count, three included, which image stores do not offer). Arithmetic is `precise`, in the
// main-memory path's order.
//
// Programs and buffers are made on first use and belong to the context manager's share group. Caller
// synchronises (one thread at a time); uses the calling thread's context or borrows one.
class GaussianSmoothingGl
{
public:
    GaussianSmoothingGl();
    ~GaussianSmoothingGl();
    GaussianSmoothingGl(const GaussianSmoothingGl&) = delete;
    GaussianSmoothingGl& operator=(const GaussianSmoothingGl&) = delete;

    // 2-D images of 8- or 16-bit integers or floats with 1 to 4 channels.
    static bool supports(const ImageDescriptor& descriptor);

    // A new graphics-card image of the same layout holding `image` smoothed with `weights` (2r + 1
    // normalised weights); null (logged) when unsupported, when OpenGL is unavailable or a program does
    // not build.
    std::unique_ptr<GlImage> smooth(const GlImage& image, const std::vector<double>& weights);

private:
    struct Programs;

    bool ensurePrograms(int samplerKind);
    std::unique_ptr<GlImage> smoothWithContext(const GlImage& image, const std::vector<double>& weights);
    static void reserve(unsigned buffer, std::size_t& capacity, std::size_t bytes);

    // Row passes by sampler kind (unsigned, signed, float), and the column pass.
    std::array<std::unique_ptr<GL::ComputeProgram>, 3> rowPrograms_;
    std::unique_ptr<GL::ComputeProgram> columnProgram_;
    bool failed_ = false;
    unsigned rowsBuffer_ = 0;
    unsigned kernelBuffer_ = 0;
    unsigned wordsBuffer_ = 0;
    std::size_t rowsCapacity_ = 0;    // bytes
    std::size_t kernelCapacity_ = 0;  // bytes
    std::size_t wordsCapacity_ = 0;   // bytes
};

}  // namespace Corvexis
