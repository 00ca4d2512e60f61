#pragma once

#include <cstddef>
#include <memory>

#include "Host/Core/ImageDescriptor.h"

namespace Corvexis {

// An image whose pixels live in main memory: channels interleaved, x fastest, then y, then slice, rows
// packed without padding. The buffer is 64-byte aligned. Instances made by create() are always the
// TypedImage<T> of their pixel type, so a dynamic_cast to that TypedImage succeeds.
//
// Ownership: create() and clone() own their buffer; wrap() borrows one that the caller keeps alive for
// the image's lifetime. Caller synchronises.
class MemImage
{
public:
    // A zero-filled image (uninitialised when `zeroFill` is false) of the descriptor, as the TypedImage
    // of its pixel type; null with an error under "MemImage" when the descriptor is invalid (unknown
    // type, non-positive extent, overflowing or too large size) or memory runs out.
    static std::unique_ptr<MemImage> create(const ImageDescriptor& descriptor, bool zeroFill = true);
    // An image over `data`, which must hold descriptor.byteSize() bytes and outlive the image (for
    // example a network message's buffer); clone() it to keep the pixels. Null for an invalid
    // descriptor or null data.
    static std::unique_ptr<MemImage> wrap(const ImageDescriptor& descriptor, void* data);

    virtual ~MemImage();
    MemImage(const MemImage&) = delete;
    MemImage& operator=(const MemImage&) = delete;

    const ImageDescriptor& descriptor() const { return descriptor_; }
    int width() const { return descriptor_.width; }
    int height() const { return descriptor_.height; }
    int slices() const { return descriptor_.slices; }
    int channels() const { return descriptor_.channels; }
    int pixelType() const { return descriptor_.pixelType; }
    const Eigen::Vector3d& spacing() const { return descriptor_.spacing; }
    // Spacing does not change the layout, so it may change in place; a non-finite or non-positive
    // component is refused (false, with a warning).
    bool setSpacing(const Eigen::Vector3d& spacing);

    void* data() { return data_; }
    const void* data() const { return data_; }
    std::size_t byteSize() const { return byteSize_; }
    // True when the image owns its buffer (not made by wrap()).
    bool ownsData() const { return owned_ != nullptr; }

    // A deep copy that owns its pixels, of the same TypedImage type; null when memory runs out.
    virtual std::unique_ptr<MemImage> clone() const;

    // Same pixel type, extents, channels and bytes; spacing is not compared.
    bool hasSamePixels(const MemImage& other) const;
    // Sets every byte of the buffer to 0.
    void clear();

protected:
    struct AlignedDeleter
    {
        void operator()(std::byte* p) const;
    };
    using Buffer = std::unique_ptr<std::byte, AlignedDeleter>;

    static constexpr std::size_t kAlignment = 64;
    // A 64-byte aligned buffer of `bytes` bytes, zero-filled if asked; null when memory runs out.
    static Buffer allocate(std::size_t bytes, bool zeroFill);

    // `descriptor` is valid and `data` holds its byte size; `owned` is null for borrowed memory.
    MemImage(const ImageDescriptor& descriptor, Buffer owned, void* data);

private:
    ImageDescriptor descriptor_;
    std::size_t byteSize_ = 0;
    Buffer owned_;
    void* data_ = nullptr;
};

}  // namespace Corvexis
