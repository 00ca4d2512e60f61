#pragma once

#include <algorithm>
#include <cassert>
#include <memory>

#include "Host/Core/MemImage.h"

namespace Corvexis {

// A main-memory image with channel type T (std::int8_t, std::uint8_t, std::int16_t, std::uint16_t,
// std::int32_t, std::uint32_t, float or double); the descriptor's pixel type is always pixelTypeOf<T>().
// Caller synchronises.
template <typename T>
class TypedImage : public MemImage
{
public:
    using ValueType = T;
    static constexpr int kPixelType = ImageDescriptor::pixelTypeOf<T>();

    // A zero-filled image; null (logged) when the extents are invalid or memory runs out.
    static std::unique_ptr<TypedImage> create(int width, int height, int slices = 1, int channels = 1,
                                              bool zeroFill = true);
    // The descriptor's pixel type is replaced by T's.
    static std::unique_ptr<TypedImage> create(ImageDescriptor descriptor, bool zeroFill = true);

    T* pointer() { return static_cast<T*>(data()); }
    const T* pointer() const { return static_cast<const T*>(data()); }
    // Number of T values in the buffer (pixels times channels).
    std::size_t valueCount() const { return byteSize() / sizeof(T); }

    // Index of channel c of pixel (x, y, z) in pointer().
    std::size_t index(int x, int y, int z = 0, int c = 0) const
    {
        assert(x >= 0 && x < width() && y >= 0 && y < height() && z >= 0 && z < slices() && c >= 0 &&
               c < channels());
        return ((static_cast<std::size_t>(z) * height() + y) * width() + x) * channels() + c;
    }
    T& at(int x, int y, int z = 0, int c = 0) { return pointer()[index(x, y, z, c)]; }
    const T& at(int x, int y, int z = 0, int c = 0) const { return pointer()[index(x, y, z, c)]; }

    void fill(T value) { std::fill(pointer(), pointer() + valueCount(), value); }

    std::unique_ptr<MemImage> clone() const override { return cloneTyped(); }
    std::unique_ptr<TypedImage> cloneTyped() const;

private:
    friend class MemImage;
    TypedImage(const ImageDescriptor& descriptor, Buffer owned, void* data)
        : MemImage(descriptor, std::move(owned), data)
    {
    }
};

template <typename T>
std::unique_ptr<TypedImage<T>> TypedImage<T>::create(int width, int height, int slices, int channels,
                                                     bool zeroFill)
{
    return create(ImageDescriptor(kPixelType, width, height, slices, channels), zeroFill);
}

template <typename T>
std::unique_ptr<TypedImage<T>> TypedImage<T>::create(ImageDescriptor descriptor, bool zeroFill)
{
    descriptor.pixelType = kPixelType;
    std::unique_ptr<MemImage> image = MemImage::create(descriptor, zeroFill);
    return std::unique_ptr<TypedImage>(static_cast<TypedImage*>(image.release()));
}

template <typename T>
std::unique_ptr<TypedImage<T>> TypedImage<T>::cloneTyped() const
{
    Buffer buffer = allocate(byteSize(), false);
    if (!buffer)
        return nullptr;
    std::copy_n(static_cast<const std::byte*>(data()), byteSize(), buffer.get());
    void* raw = buffer.get();
    return std::unique_ptr<TypedImage>(new TypedImage(descriptor(), std::move(buffer), raw));
}

extern template class TypedImage<std::int8_t>;
extern template class TypedImage<std::uint8_t>;
extern template class TypedImage<std::int16_t>;
extern template class TypedImage<std::uint16_t>;
extern template class TypedImage<std::int32_t>;
extern template class TypedImage<std::uint32_t>;
extern template class TypedImage<float>;

}  // namespace Corvexis
