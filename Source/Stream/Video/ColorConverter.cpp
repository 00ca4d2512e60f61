#include "Stream/Video/ColorConverter.h"

#include <algorithm>

#include "Stream/Video/ColorConverterKernel.h"

namespace Corvexis {

namespace {

inline std::uint8_t toByte(float value)
{
    return static_cast<std::uint8_t>(std::clamp(value, 0.0f, 255.0f) + 0.5f);
}

}  // namespace

void ColorConverter::convertPixel(std::uint8_t y, std::uint8_t u, std::uint8_t v, std::uint8_t* rgba)
{
    // The same operations in the same order as nv12ToRgba and the kernel, so all give identical bytes.
    const float d = static_cast<float>(u) - 128.0f;
    const float e = static_cast<float>(v) - 128.0f;
    const float c = 1.164f * (static_cast<float>(y) - 16.0f);
    rgba[0] = toByte(c + 1.596f * e);
    rgba[1] = toByte(c + (-0.813f * e - 0.391f * d));
    rgba[2] = toByte(c + 2.018f * d);
    rgba[3] = 255;
}

void ColorConverter::nv12ToRgba(const std::uint8_t* luma, int lumaPitch, const std::uint8_t* chroma,
                                int chromaPitch, int width, int height, std::uint8_t* rgba, int rgbaPitch)
{
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* __restrict lumaRow = luma + static_cast<std::ptrdiff_t>(y) * lumaPitch;
        const std::uint8_t* __restrict chromaRow = chroma + static_cast<std::ptrdiff_t>(y / 2) * chromaPitch;
        std::uint8_t* __restrict out = rgba + static_cast<std::ptrdiff_t>(y) * rgbaPitch;
        // Pixel pairs share one U/V pair: the chroma terms are computed once per pair. The loop is kept
        // flat (no early exits, no shared state) so that the compiler vectorises it.
        const int pairs = width / 2;
        for (int i = 0; i < pairs; ++i) {
            const float d = static_cast<float>(chromaRow[2 * i]) - 128.0f;
            const float e = static_cast<float>(chromaRow[2 * i + 1]) - 128.0f;
            const float r = 1.596f * e;
            const float g = -0.813f * e - 0.391f * d;
            const float b = 2.018f * d;
            const float c0 = 1.164f * (static_cast<float>(lumaRow[2 * i]) - 16.0f);
            const float c1 = 1.164f * (static_cast<float>(lumaRow[2 * i + 1]) - 16.0f);
            out[8 * i + 0] = toByte(c0 + r);
            out[8 * i + 1] = toByte(c0 + g);
            out[8 * i + 2] = toByte(c0 + b);
            out[8 * i + 3] = 255;
            out[8 * i + 4] = toByte(c1 + r);
            out[8 * i + 5] = toByte(c1 + g);
            out[8 * i + 6] = toByte(c1 + b);
            out[8 * i + 7] = 255;
        }
        if (width % 2 != 0) {
            const int x = width - 1;
            convertPixel(lumaRow[x], chromaRow[x & ~1], chromaRow[(x & ~1) + 1], out + 4 * x);
        }
    }
}

bool ColorConverter::gpuKernelAvailable()
{
#ifdef CORVEXIS_HAVE_CUDA
    return true;
#else
    return false;
#endif
}

std::string ColorConverter::nv12ToGlTexture(unsigned texture, const std::uint8_t* lumaDevice, int lumaPitch,
                                            const std::uint8_t* chromaDevice, int chromaPitch, int width,
                                            int height)
{
#ifdef CORVEXIS_HAVE_CUDA
    const char* error =
        corvexisNv12ToGlTexture(texture, lumaDevice, lumaPitch, chromaDevice, chromaPitch, width, height);
    return error == nullptr ? std::string() : std::string(error);
#else
    (void)texture;
    (void)lumaDevice;
    (void)lumaPitch;
    (void)chromaDevice;
    (void)chromaPitch;
    (void)width;
    (void)height;
    return "built without CUDA";
#endif
}

}  // namespace Corvexis
