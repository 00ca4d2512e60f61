#include "Stream/Framework/ImageStreamData.h"

#include "Host/Core/Log.h"
#include "Host/Core/MemImage.h"
#include "Host/Lib/SharedImageSet.h"

namespace Corvexis {

namespace {

constexpr std::string_view kCategory = "ImageStreamData";

void logNullImage()
{
    Log::log(Log::Level::Error, kCategory,
             "Input image is nullptr, not adding it to the ImageStreamData container");
}

}  // namespace

ImageStreamData::ImageStreamData(Stream* stream) : StreamData(stream) {}

ImageStreamData::ImageStreamData(Stream* stream, std::unique_ptr<SharedImage>&& image) : StreamData(stream)
{
    if (!image) {
        logNullImage();
        return;
    }
    images_.push_back(std::make_shared<ThreadSafeSharedImage>(std::move(*image)));
    image.reset();
}

ImageStreamData::ImageStreamData(Stream* stream, const std::shared_ptr<SharedImage>& image)
    : StreamData(stream)
{
    addShallowCopy(image.get());
}

ImageStreamData::ImageStreamData(Stream* stream, const std::shared_ptr<const SharedImage>& image)
    : StreamData(stream)
{
    addShallowCopy(image.get());
}

ImageStreamData::ImageStreamData(Stream* stream, MemImage* image) : StreamData(stream)
{
    if (image == nullptr) {
        logNullImage();
        return;
    }
    std::unique_ptr<MemImage> copy = image->clone();
    if (!copy) {
        Log::log(Log::Level::Error, kCategory,
                 "Could not clone input image, not adding it to the ImageStreamData container");
        return;
    }
    images_.push_back(std::make_shared<ThreadSafeSharedImage>(std::move(copy)));
}

ImageStreamData::ImageStreamData(Stream* stream, SharedImageSet&& set)
    : StreamData(stream, std::move(set.components()))
{
    for (const auto& image : set.images())
        addShallowCopy(image.get());
    elementwiseComponents() = set.elementwiseComponents();
}

ImageStreamData::ImageStreamData(const ImageStreamData& other) = default;

ImageStreamData::~ImageStreamData() = default;

std::unique_ptr<StreamData> ImageStreamData::clone() const
{
    return std::make_unique<ImageStreamData>(*this);
}

void ImageStreamData::addShallowCopy(const SharedImage* image)
{
    if (image == nullptr) {
        logNullImage();
        return;
    }
    images_.push_back(std::make_shared<ThreadSafeSharedImage>(*image, Image::CloneOptions::Shallow));
}

void ImageStreamData::setImageSet(const SharedImageSet& set)
{
    images_.clear();
    for (const auto& image : set.images())
        addShallowCopy(image.get());
    components() = set.components();
    elementwiseComponents() = set.elementwiseComponents();
}

void ImageStreamData::setImages(const std::vector<std::shared_ptr<const SharedImage>>& images)
{
    images_.clear();
    for (const auto& image : images)
        addShallowCopy(image.get());
}

std::vector<std::shared_ptr<const SharedImage>> ImageStreamData::images() const
{
    return {images_.begin(), images_.end()};
}

bool ImageStreamData::containsGlImage() const
{
    for (const auto& image : images_)
        if (image->hasGl())
            return true;
    return false;
}

std::shared_ptr<SharedImageSet> ImageStreamData::shallowCloneToSharedImageSet() const
{
    auto set = std::make_shared<SharedImageSet>();
    for (const auto& image : images_)
        set->add(std::shared_ptr<SharedImage>(image->clone(Image::CloneOptions::Shallow)));
    set->components() = components();
    set->elementwiseComponents() = elementwiseComponents();
    return set;
}

}  // namespace Corvexis
