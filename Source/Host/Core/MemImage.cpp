#include "Host/Core/MemImage.h"

#include <cmath>
#include <cstring>
#include <new>

#include <fmt/format.h>

#include "Host/Core/Log.h"
#include "Host/Core/TypedImage.h"

namespace Corvexis {

namespace {

constexpr const char* kCategory = "MemImage";

}  // namespace

void MemImage::AlignedDeleter::operator()(std::byte* p) const
{
    ::operator delete (p, std::align_val_t{kAlignment});
}

MemImage::Buffer MemImage::allocate(std::size_t bytes, bool zeroFill)
{
    auto* p = static_cast<std::byte*>(::operator new (bytes, std::align_val_t{kAlignment}, std::nothrow));
    if (!p) {
        Log::log(Log::Level::Error, kCategory,
                 fmt::format("Could not allocate {} bytes of pixel memory", bytes));
        return nullptr;
    }
    if (zeroFill)
        std::memset(p, 0, bytes);
    return Buffer(p);
}

MemImage::MemImage(const ImageDescriptor& descriptor, Buffer owned, void* data)
    : descriptor_(descriptor), byteSize_(descriptor.byteSize()), owned_(std::move(owned)), data_(data)
{
}

MemImage::~MemImage() = default;

namespace {

// Calls f with a value-initialised T of the pixel type's channel type; false for an unknown type.
template <typename F>
bool dispatchPixelType(int pixelType, F&& f)
{
    switch (pixelType) {
        case ImageDescriptor::kByte:
            f(std::int8_t{});
            return true;
        case ImageDescriptor::kUByte:
            f(std::uint8_t{});
            return true;
        case ImageDescriptor::kShort:
            f(std::int16_t{});
            return true;
        case ImageDescriptor::kUShort:
            f(std::uint16_t{});
            return true;
        case ImageDescriptor::kInt:
            f(std::int32_t{});
            return true;
        case ImageDescriptor::kUInt:
            f(std::uint32_t{});
            return true;
        case ImageDescriptor::kFloat:
            f(float{});
            return true;
        case ImageDescriptor::kDouble:
            f(double{});
            return true;
        default:
            return false;
    }
}

}  // namespace

std::unique_ptr<MemImage> MemImage::create(const ImageDescriptor& descriptor, bool zeroFill)
{
    if (!descriptor.isValid()) {
        Log::log(Log::Level::Error, kCategory,
                 "Cannot create image of invalid descriptor " + descriptor.toString());
        return nullptr;
    }
    Buffer buffer = allocate(descriptor.byteSize(), zeroFill);
    if (!buffer)
        return nullptr;
    void* raw = buffer.get();
    std::unique_ptr<MemImage> image;
    dispatchPixelType(descriptor.pixelType, [&](auto tag) {
        using T = decltype(tag);
        image.reset(new TypedImage<T>(descriptor, std::move(buffer), raw));
    });
    return image;
}

std::unique_ptr<MemImage> MemImage::wrap(const ImageDescriptor& descriptor, void* data)
{
    if (!descriptor.isValid() || !data) {
        Log::log(Log::Level::Error, kCategory,
                 "Cannot wrap " + std::string(data ? "" : "null ") + "memory as image of descriptor " +
                     descriptor.toString());
        return nullptr;
    }
    std::unique_ptr<MemImage> image;
    dispatchPixelType(descriptor.pixelType, [&](auto tag) {
        using T = decltype(tag);
        image.reset(new TypedImage<T>(descriptor, nullptr, data));
    });
    return image;
}

bool MemImage::setSpacing(const Eigen::Vector3d& spacing)
{
    for (int axis = 0; axis < 3; ++axis) {
        if (!std::isfinite(spacing[axis]) || spacing[axis] <= 0.0) {
            Log::log(Log::Level::Warning, kCategory,
                     fmt::format("Refusing spacing {} x {} x {}: components must be finite and positive",
                                 spacing.x(), spacing.y(), spacing.z()));
            return false;
        }
    }
    descriptor_.spacing = spacing;
    return true;
}

std::unique_ptr<MemImage> MemImage::clone() const
{
    // Every instance is a TypedImage, which overrides clone(); this is reached only by a subclass of
    // MemImage's own, which gets an untyped copy of the same pixels.
    Buffer buffer = allocate(byteSize_, false);
    if (!buffer)
        return nullptr;
    std::memcpy(buffer.get(), data_, byteSize_);
    void* raw = buffer.get();
    return std::unique_ptr<MemImage>(new MemImage(descriptor_, std::move(buffer), raw));
}

bool MemImage::hasSamePixels(const MemImage& other) const
{
    const ImageDescriptor& a = descriptor_;
    const ImageDescriptor& b = other.descriptor_;
    if (a.pixelType != b.pixelType || a.width != b.width || a.height != b.height || a.slices != b.slices ||
        a.channels != b.channels)
        return false;
    return std::memcmp(data_, other.data_, byteSize_) == 0;
}

void MemImage::clear()
{
    std::memset(data_, 0, byteSize_);
}

}  // namespace Corvexis
