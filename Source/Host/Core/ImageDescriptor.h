#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <type_traits>

#include <Eigen/Core>

namespace Corvexis {

class Properties;

// Shape and pixel format of an image: pixel type as an OpenGL type code, extent in pixels, interleaved
// channel count and pixel spacing in millimetres. A plain value; caller synchronises.
class ImageDescriptor
{
public:
    // OpenGL type codes of the supported pixel types.
    static constexpr int kByte = 5120;
    static constexpr int kUByte = 5121;
    static constexpr int kShort = 5122;
    static constexpr int kUShort = 5123;
    static constexpr int kInt = 5124;
    static constexpr int kUInt = 5125;
    static constexpr int kFloat = 5126;
    static constexpr int kDouble = 5130;  // main memory only: the graphics card has no such texture

    // Largest pixel buffer a valid descriptor may describe (1 TiB); larger requests are input errors,
    // not allocation attempts.
    static constexpr std::size_t kMaxByteSize = std::size_t{1} << 40;

    int pixelType = kUByte;
    int width = 0;
    int height = 0;
    int slices = 1;
    int channels = 1;
    Eigen::Vector3d spacing = Eigen::Vector3d::Ones();  // mm per pixel along x, y, z

    ImageDescriptor() = default;
    ImageDescriptor(int pixelType, int width, int height, int slices = 1, int channels = 1);

    // Known pixel type, positive extents and channels, finite positive spacing, and a byte size that
    // neither overflows nor exceeds kMaxByteSize.
    bool isValid() const;

    // Bytes of one channel value; 0 for an unknown pixel type.
    std::size_t typeSize() const { return typeSize(pixelType); }
    // Bytes of one pixel with all its channels.
    std::size_t pixelSize() const;
    // width * height * slices, or 0 when that overflows or an extent is not positive.
    std::size_t pixelCount() const;
    // Bytes of the whole pixel buffer, or 0 when the descriptor is not valid.
    std::size_t byteSize() const;
    // The byte size computed with overflow checks; empty when invalid or too large.
    std::optional<std::size_t> checkedByteSize() const;

    // 3 for volumes (more than one slice), otherwise 2.
    int dimension() const { return slices > 1 ? 3 : 2; }
    bool isSigned() const { return isSignedType(pixelType); }
    bool isFloat() const { return isFloatType(pixelType); }
    bool isInteger() const { return isKnownType(pixelType) && !isFloatType(pixelType); }

    // Same pixel type, extents and channels; spacing equal within `spacingTolerance` (mm) per axis.
    bool isApproximatelyEqual(const ImageDescriptor& other, double spacingTolerance = 1e-6) const;
    // Every field equal, spacing exactly.
    bool operator==(const ImageDescriptor& other) const;
    bool operator!=(const ImageDescriptor& other) const { return !(*this == other); }

    // "128 x 64 x 1, 3 channels, UByte, spacing 0.5 x 0.5 x 1 mm", for log lines.
    std::string toString() const;

    // Reads the keys written by configuration(); missing keys keep their current values, a malformed
    // value keeps the old one and logs a warning under "ImageDescriptor". Null does nothing.
    void configure(const Properties* p);
    // Writes "pixelType", "width", "height", "slices", "channels", "spacing". Null does nothing.
    void configuration(Properties* p) const;

    static bool isKnownType(int pixelType)
    {
        return (pixelType >= kByte && pixelType <= kFloat) || pixelType == kDouble;
    }
    static bool isFloatType(int pixelType) { return pixelType == kFloat || pixelType == kDouble; }
    static bool isSignedType(int pixelType);
    static std::size_t typeSize(int pixelType);
    // "Byte", "UByte", "Short", "UShort", "Int", "UInt", "Float", "Double"; "Unknown" otherwise.
    static std::string typeName(int pixelType);

    // The type code of a C++ channel type, for example pixelTypeOf<std::uint8_t>() == kUByte.
    template <typename T>
    static constexpr int pixelTypeOf();
};

template <typename T>
constexpr int ImageDescriptor::pixelTypeOf()
{
    if constexpr (std::is_same_v<T, std::int8_t>)
        return kByte;
    else if constexpr (std::is_same_v<T, std::uint8_t>)
        return kUByte;
    else if constexpr (std::is_same_v<T, std::int16_t>)
        return kShort;
    else if constexpr (std::is_same_v<T, std::uint16_t>)
        return kUShort;
    else if constexpr (std::is_same_v<T, std::int32_t>)
        return kInt;
    else if constexpr (std::is_same_v<T, std::uint32_t>)
        return kUInt;
    else if constexpr (std::is_same_v<T, float>)
        return kFloat;
    else if constexpr (std::is_same_v<T, double>)
        return kDouble;
    else
        static_assert(sizeof(T) == 0, "no OpenGL pixel type for this channel type");
}

}  // namespace Corvexis
