#include "Host/GL/GlImage.h"

#include <string>

#include "Host/Core/Log.h"
#include "Host/Core/MemImage.h"

namespace Corvexis {

namespace {

constexpr std::string_view kCategory = "GlImage";

}  // namespace

GlImage::GlImage(const ImageDescriptor& descriptor) : descriptor_(descriptor)
{
    if (!descriptor.isValid()) {
        Log::log(Log::Level::Error, kCategory,
                 "Cannot create a GlImage of an invalid descriptor " + descriptor.toString());
        return;
    }
    texture_ = GL::Texture::create(descriptor.pixelType, descriptor.channels, descriptor.width,
                                   descriptor.height, descriptor.slices);
}

GlImage::~GlImage() = default;

std::unique_ptr<GlImage> GlImage::create(const ImageDescriptor& descriptor)
{
    auto image = std::make_unique<GlImage>(descriptor);
    if (!image->isValid())
        return nullptr;
    return image;
}

std::unique_ptr<GlImage> GlImage::fromMemImage(const MemImage& image)
{
    auto result = create(image.descriptor());
    if (!result || !result->upload(image))
        return nullptr;
    return result;
}

bool GlImage::setSpacing(const Eigen::Vector3d& spacing)
{
    if (!spacing.allFinite() || (spacing.array() <= 0.0).any()) {
        Log::log(Log::Level::Warning, kCategory, "Refusing a spacing that is not finite and positive");
        return false;
    }
    descriptor_.spacing = spacing;
    return true;
}

unsigned GlImage::texture() const
{
    return texture_ ? texture_->id() : 0;
}

unsigned GlImage::target() const
{
    return texture_ ? texture_->target() : 0;
}

bool GlImage::matches(const ImageDescriptor& other, const char* what) const
{
    if (!texture_) {
        Log::log(Log::Level::Error, kCategory, std::string(what) + " on a GlImage without texture");
        return false;
    }
    if (other.pixelType != descriptor_.pixelType || other.width != descriptor_.width ||
        other.height != descriptor_.height || other.slices != descriptor_.slices ||
        other.channels != descriptor_.channels) {
        Log::log(Log::Level::Error, kCategory,
                 std::string(what) + " between different layouts: " + descriptor_.toString() + " and " +
                     other.toString());
        return false;
    }
    return true;
}

bool GlImage::upload(const MemImage& image)
{
    return matches(image.descriptor(), "Upload") && texture_->upload(image.data(), image.byteSize());
}

bool GlImage::download(MemImage& image) const
{
    return matches(image.descriptor(), "Download") && texture_->download(image.data(), image.byteSize());
}

std::unique_ptr<MemImage> GlImage::download() const
{
    if (!texture_) {
        Log::log(Log::Level::Error, kCategory, "Download of a GlImage without texture");
        return nullptr;
    }
    auto image = MemImage::create(descriptor_, false);
    if (!image || !download(*image))
        return nullptr;
    return image;
}

bool GlImage::copyFrom(const GlImage& source)
{
    return source.isValid() && matches(source.descriptor_, "Copy") && texture_->copyFrom(*source.texture_);
}

}  // namespace Corvexis
