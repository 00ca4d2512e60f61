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
    const float c = 1.164f * (static_cast<float>(y) - 16.0f);
    const float d = static_cast<float>(u) - 128.0f;
    const float e = static_cast<float>(v) - 128.0f;
    rgba[0] = toByte(c + 1.596f * e);
    rgba[1] = toByte(c - 0.813f * e - 0.391f * d);
    rgba[2] = toByte(c + 2.018f * d);
    rgba[3] = 255;
}

void ColorConverter::nv12ToRgba(const std::uint8_t* luma, int lumaPitch, const std::uint8_t* chroma,
                                int chromaPitch, int width, int height, std::uint8_t* rgba, int rgbaPitch)
{
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* lumaRow = luma + static_cast<std::ptrdiff_t>(y) * lumaPitch;
        const std::uint8_t* chromaRow = chroma + static_cast<std::ptrdiff_t>(y / 2) * chromaPitch;
        std::uint8_t* out = rgba + static_cast<std::ptrdiff_t>(y) * rgbaPitch;
        // Written as one flat loop so that the compiler vectorises it.
        for (int x = 0; x < width; ++x) {
            const int cx = x & ~1;
            const float c = 1.164f * (static_cast<float>(lumaRow[x]) - 16.0f);
            const float d = static_cast<float>(chromaRow[cx]) - 128.0f;
            const float e = static_cast<float>(chromaRow[cx + 1]) - 128.0f;
            out[4 * x + 0] = toByte(c + 1.596f * e);
            out[4 * x + 1] = toByte(c - 0.813f * e - 0.391f * d);
            out[4 * x + 2] = toByte(c + 2.018f * d);
            out[4 * x + 3] = 255;
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
