#include "Stream/Framework/ImageStream.h"

#include <memory>
#include <utility>

#include "Host/Core/StringUtils.h"
#include "Stream/Framework/ImageStreamData.h"

namespace Corvexis {

ImageStream::ImageStream(const std::string& name) : Stream(name)
{
    frameHandler_ =
        signalStreamData.connect([this](std::shared_ptr<const StreamData> data) { onStreamData(data); });
}

ImageStream::~ImageStream()
{
    signalDeleted.emitSignal();
    // Waits for a frame handler running on another thread, while descriptorMutex_ still exists.
    frameHandler_.disconnect();
}

std::optional<ImageDescriptor> ImageStream::descriptor() const
{
    std::lock_guard lock(descriptorMutex_);
    return lastDescriptor_;
}

void ImageStream::setKind(Kind kind)
{
    // exchange: of two threads racing to the same new kind, only one sees the change and emits.
    if (kind_.exchange(kind) != kind)
        signalKindChanged.emitSignal(kind);
}

void ImageStream::onStreamData(const std::shared_ptr<const StreamData>& data)
{
    const auto* record = dynamic_cast<const ImageStreamData*>(data.get());
    if (!record)
        return;
    const int index = describedImageIndex();
    if (index < 0 || static_cast<size_t>(index) >= record->size())
        return;
    const auto image = record->images()[static_cast<size_t>(index)];
    if (!image)
        return;
    const ImageDescriptor desc = image->descriptor();
    {
        std::lock_guard lock(descriptorMutex_);
        lastDescriptor_ = desc;
    }
    if (image->modality() != Modality::None && image->modality() != modality())
        setModality(image->modality());

    const Kind current = kind();
    if (desc.slices > 1 && current == Kind::ImageStream)
        setKind(Kind::VolumeStream);
    else if (desc.slices == 1 && current == Kind::VolumeStream)
        setKind(Kind::ImageStream);
}

std::string ImageStream::describe() const
{
    const auto desc = descriptor();
    if (!desc || !desc->isValid())
        return Stream::describe();

    const bool volume = desc->slices > 1;
    std::string text = Data::modalityString(modality());
    if (text.empty())
        text = volume ? "Volume with " : "Image with ";
    else
        text += volume ? " volume with " : " image with ";

    text += "resolution " + std::to_string(desc->width) + " x " + std::to_string(desc->height);
    if (volume)
        text += " x " + std::to_string(desc->slices);

    text +=
        ", spacing " + String::fromDouble(desc->spacing.x()) + " x " + String::fromDouble(desc->spacing.y());
    if (volume)
        text += " x " + String::fromDouble(desc->spacing.z());
    text += " mm";

    text += ", " + std::to_string(desc->channels) + (desc->channels == 1 ? " channel" : " channels");

    const std::size_t bits = desc->typeSize() * 8;
    text += ", " + std::to_string(bits) + " bit ";
    if (desc->isInteger())
        text += desc->isSigned() ? "signed integer" : "unsigned integer";
    else
        text += "float";

    return text + " | " + Stream::describe();
}

}  // namespace Corvexis
