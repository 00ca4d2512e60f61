#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "Host/Core/ImageDescriptor.h"
#include "Host/Lib/Image.h"
#include "Host/Lib/SharedImage.h"

namespace Corvexis {

// A small pool of reusable frame images for a producer, so that it does not allocate an image per frame
// while consumers still hold earlier ones. The ring holds at most maxSize() images, oldest first; an
// image is free when the ring holds the only reference to it (use count 1), that is when every consumer
// released it. A producer that keeps at most maxSize() frames in flight stops allocating after warm-up.
//
// Images leaving the ring (eviction, clear, setMaxSize) stay alive as long as a consumer holds them.
// Value type. No lock: caller synchronises (it belongs to one producer thread).
class SharedImageRingBuffer
{
public:
    struct SharedImageBuffer
    {
        std::shared_ptr<SharedImage> image;
        // True when the image was just created and holds no frame yet (zeroed in main memory,
        // undefined on the graphics card).
        bool newlyAllocated = false;
    };

    SharedImageRingBuffer() = default;
    explicit SharedImageRingBuffer(std::uint64_t maxSize) : maxSize_(maxSize) {}

    // The first free image (oldest first) of exactly `desc`, or a new one of `desc` at `location`
    // appended as the newest, evicting the oldest when the ring is full. Locations other than Memory and
    // OpenGL are refused with an error line and give a main-memory image.
    SharedImageBuffer getBuffer(const ImageDescriptor& desc, Image::Location location);

    // Makes sure the ring holds `n` images of `desc` (free or not): raises maxSize() to at least `n`,
    // moves the images of `desc` to the front, and allocates the missing ones, dropping other images to
    // make room. Returns the number of images allocated (0 when there were enough).
    std::size_t ensureAllocated(std::size_t n, const ImageDescriptor& desc, Image::Location location);

    // True when getBuffer(desc, ...) would allocate: no free image of `desc` (true for an empty ring).
    bool mustAllocate(const ImageDescriptor& desc) const;

    // Drops every image whose descriptor differs from `desc`; the order of the rest may change.
    void clearIncompatible(const ImageDescriptor& desc);
    void clear() { buffers_.clear(); }

    std::size_t size() const { return buffers_.size(); }
    std::uint64_t maxSize() const { return maxSize_; }
    // A smaller maximum drops the newest images beyond it.
    void setMaxSize(std::uint64_t maxSize);

private:
    static bool isFree(const std::shared_ptr<SharedImage>& image) { return image.use_count() == 1; }
    static std::shared_ptr<SharedImage> allocate(const ImageDescriptor& desc, Image::Location location);

    std::uint64_t maxSize_ = 2;
    std::vector<std::shared_ptr<SharedImage>> buffers_;  // oldest first
};

}  // namespace Corvexis
