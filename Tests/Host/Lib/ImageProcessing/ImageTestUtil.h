#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <random>
#include <type_traits>

#include "Host/Core/TypedImage.h"
#include "Host/Lib/SequentialImageProcessor.h"
#include "Host/Lib/SharedImage.h"

namespace Corvexis::ImageTest {

// Every channel type the host images offer, for typed test suites.
using AllPixelTypes = ::testing::Types<std::int8_t, std::uint8_t, std::int16_t, std::uint16_t, std::int32_t,
                                       std::uint32_t, float, double>;
// The channel types graphics-card images offer (no doubles there).
using CardPixelTypes = ::testing::Types<std::int8_t, std::uint8_t, std::int16_t, std::uint16_t, std::int32_t,
                                        std::uint32_t, float>;

// A main-memory image with values spread over T's whole range (floats: -1000..1000), for integers the
// extremes included, from a fixed seed.
template <typename T>
std::unique_ptr<SharedImage> randomImage(int w, int h, int slices, int channels, unsigned seed = 7)
{
    auto mem = TypedImage<T>::create(w, h, slices, channels);
    std::mt19937 rng(seed);
    const std::size_t n = mem->valueCount();
    for (std::size_t i = 0; i < n; ++i) {
        if constexpr (std::is_floating_point_v<T>) {
            mem->pointer()[i] = std::uniform_real_distribution<T>(T(-1000), T(1000))(rng);
        } else {
            using Wide = std::conditional_t<std::is_signed_v<T>, std::int64_t, std::uint64_t>;
            std::uniform_int_distribution<Wide> dist(std::numeric_limits<T>::lowest(),
                                                     std::numeric_limits<T>::max());
            mem->pointer()[i] = static_cast<T>(dist(rng));
        }
    }
    if (n > 2 && !std::is_floating_point_v<T>) {
        mem->pointer()[0] = std::numeric_limits<T>::lowest();
        mem->pointer()[1] = std::numeric_limits<T>::max();
    }
    return std::make_unique<SharedImage>(std::move(mem));
}

template <typename T>
const TypedImage<T>& typed(const SharedImage& image)
{
    return dynamic_cast<const TypedImage<T>&>(*image.mem());
}

// What the algorithms promise for integer results: clamp to T, round half up.
template <typename T>
T expectedPixel(double v)
{
    if constexpr (std::is_floating_point_v<T>) {
        return static_cast<T>(v);
    } else {
        const double lo = std::numeric_limits<T>::lowest();
        const double hi = std::numeric_limits<T>::max();
        return static_cast<T>(std::floor(std::clamp(v, lo, hi) + 0.5));
    }
}

// Runs `processor` on `image` and returns the result image (fails the test when there is none).
inline std::unique_ptr<SharedImage> run(SequentialImageProcessor& processor, const SharedImage& image)
{
    auto result = processor.processImage(image, {});
    if (!result)
        return nullptr;
    return std::move(result->image);
}

}  // namespace Corvexis::ImageTest
