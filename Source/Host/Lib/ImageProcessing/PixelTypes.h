#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>
#include <type_traits>

#include "Host/Core/ImageDescriptor.h"

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

}  // namespace Corvexis::PixelTypes
