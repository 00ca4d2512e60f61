#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <type_traits>

#include "Host/Core/ImageDescriptor.h"
#include "Host/Core/MemImage.h"
#include "Host/Core/TypedImage.h"

namespace Corvexis::PixelTypes {

// Calls f(T{}) with the channel type T of `pixelType` and returns its result; `otherwise` (a value of
// the same result type) for an unknown type. Lets one template serve every pixel type.
template <typename F, typename R>
R visit(int pixelType, F&& f, R otherwise)
{
    switch (pixelType) {
        case ImageDescriptor::kByte:
            return f(std::int8_t{});
        case ImageDescriptor::kUByte:
            return f(std::uint8_t{});
        case ImageDescriptor::kShort:
            return f(std::int16_t{});
        case ImageDescriptor::kUShort:
            return f(std::uint16_t{});
        case ImageDescriptor::kInt:
            return f(std::int32_t{});
        case ImageDescriptor::kUInt:
            return f(std::uint32_t{});
        case ImageDescriptor::kFloat:
            return f(float{});
        case ImageDescriptor::kDouble:
            return f(double{});
        default:
            return otherwise;
    }
}

// The arithmetic type in which values of T are combined: float keeps 8- and 16-bit integers and floats
// exact enough; 32-bit integers and doubles need double.
template <typename T>
using Accumulator = std::conditional_t<sizeof(T) >= 4 && !std::is_same_v<T, float>, double, float>;

// `v` as a T: floats pass unchanged; integers are clamped to T's range and rounded half up. Rounding is
// done as a truncation of a non-negative value (v - lowest + 0.5), which vectorises and which the compute
// shaders reproduce operation for operation.
template <typename T, typename A>
inline T toPixel(A v)
{
    if constexpr (std::is_floating_point_v<T>) {
        return static_cast<T>(v);
    } else {
        constexpr A lo = static_cast<A>(std::numeric_limits<T>::lowest());
        constexpr A hi = static_cast<A>(std::numeric_limits<T>::max());
        const A c = std::min(std::max(v, lo), hi);
        return static_cast<T>(static_cast<std::int64_t>(c - lo + A(0.5)) + static_cast<std::int64_t>(lo));
    }
}

// A new 8-bit image of the shape of `in` holding f(v) for every value v of `in` (as double); f returns
// std::uint8_t. Null when the image cannot be made or the pixel type is unknown.
template <typename F>
std::unique_ptr<TypedImage<std::uint8_t>> mapToUByte(const MemImage& in, F f)
{
    const ImageDescriptor& d = in.descriptor();
    auto out = TypedImage<std::uint8_t>::create(d.width, d.height, d.slices, d.channels, false);
    if (!out)
        return nullptr;
    const bool known = visit(
        d.pixelType,
        [&](auto type) {
            using T = decltype(type);
            const T* src = static_cast<const T*>(in.data());
            std::uint8_t* dst = out->pointer();
            const std::size_t n = out->valueCount();
            for (std::size_t i = 0; i < n; ++i)
                dst[i] = f(static_cast<double>(src[i]));
            return true;
        },
        false);
    return known ? std::move(out) : nullptr;
}

}  // namespace Corvexis::PixelTypes
