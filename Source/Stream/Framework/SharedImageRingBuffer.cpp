#include "Stream/Framework/SharedImageRingBuffer.h"

#include <algorithm>
#include <string_view>

#include "Host/Core/Log.h"
#include "Host/GL/ContextManager.h"

namespace Corvexis {

namespace {

constexpr std::string_view kCategory = "SharedImageRingBuffer";

}  // namespace

SharedImageRingBuffer::SharedImageBuffer SharedImageRingBuffer::getBuffer(const ImageDescriptor& desc,
                                                                          Image::Location location)
{
    for (const auto& image : buffers_) {
        if (isFree(image) && image->descriptor() == desc)
            return {image, false};
    }

    auto image = allocate(desc, location);
    if (maxSize_ > 0 && buffers_.size() >= maxSize_) {
        // The evicted image lives on in whoever still holds it.
        buffers_.erase(buffers_.begin(),
                       buffers_.begin() + static_cast<std::ptrdiff_t>(buffers_.size() - maxSize_ + 1));
    }
    if (maxSize_ > 0)
        buffers_.push_back(image);
    return {image, true};
}

std::size_t SharedImageRingBuffer::ensureAllocated(std::size_t n, const ImageDescriptor& desc,
                                                   Image::Location location)
{
    maxSize_ = std::max<std::uint64_t>(maxSize_, n);
    const auto firstOther = std::stable_partition(
        buffers_.begin(), buffers_.end(), [&desc](const auto& image) { return image->descriptor() == desc; });
    const auto found = static_cast<std::size_t>(firstOther - buffers_.begin());
    if (found >= n)
        return 0;

    // found < n <= maxSize_, so the truncation keeps every image of `desc`.
    const std::size_t missing = n - found;
    const auto keep = static_cast<std::size_t>(maxSize_) - missing;
    if (buffers_.size() > keep)
        buffers_.resize(keep);
    for (std::size_t i = 0; i < missing; ++i)
        buffers_.push_back(allocate(desc, location));
    return missing;
}

bool SharedImageRingBuffer::mustAllocate(const ImageDescriptor& desc) const
{
    return std::none_of(buffers_.begin(), buffers_.end(),
                        [&desc](const auto& image) { return isFree(image) && image->descriptor() == desc; });
}

void SharedImageRingBuffer::clearIncompatible(const ImageDescriptor& desc)
{
    std::erase_if(buffers_, [&desc](const auto& image) { return image->descriptor() != desc; });
}

void SharedImageRingBuffer::setMaxSize(std::uint64_t maxSize)
{
    maxSize_ = maxSize;
    if (buffers_.size() > maxSize_)
        buffers_.resize(static_cast<std::size_t>(maxSize_));
}

std::shared_ptr<SharedImage> SharedImageRingBuffer::allocate(const ImageDescriptor& desc,
                                                             Image::Location location)
{
    switch (location) {
        case Image::Location::Memory:
            break;
        case Image::Location::OpenGL: {
            std::shared_ptr<SharedImage> image;
            const bool ran = GL::ContextManager::runWithOpenGL(
                [&] { image = std::make_shared<SharedImage>(desc, Image::Location::OpenGL); });
            if (ran && image && !image->isEmpty())
                return image;
            // A producer writes into the frame it gets, so an empty image would lose frames.
            Log::log(Log::Level::Error, kCategory, "Could not allocate OpenGL image, returning MemImage");
            break;
        }
        case Image::Location::Empty:
            Log::log(Log::Level::Error, kCategory,
                     "Allocating empty image not supported by SharedImageRingBuffer, returning MemImage");
            break;
        case Image::Location::OpenCL:
            Log::log(Log::Level::Error, kCategory,
                     "Allocating OpenCL image not supported by SharedImageRingBuffer, returning MemImage");
            break;
        case Image::Location::Custom:
            Log::log(Log::Level::Error, kCategory,
                     "Allocating Custom image not supported by SharedImageRingBuffer, returning MemImage");
            break;
        default:
            Log::log(Log::Level::Error, kCategory, "Invalid memory location");
            break;
    }
    return std::make_shared<SharedImage>(desc, Image::Location::Memory);
}

}  // namespace Corvexis
