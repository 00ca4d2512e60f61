#include "Host/Lib/SharedImageSet.h"

#include <utility>

#include "Host/Core/Log.h"

namespace Corvexis {

namespace {

constexpr std::string_view kCategory = "SharedImageSet";

}  // namespace

SharedImageSet::SharedImageSet(std::string name) : Data(std::move(name)) {}

SharedImageSet::SharedImageSet(SharedImageSet&& other) noexcept
    : Data(other.name()),
      Selectable(other),
      ElementwiseDataComponentData(std::move(other)),
      modality_(other.modality_),
      images_(std::move(other.images_)),
      timestampsMs_(std::move(other.timestampsMs_)),
      properties_(std::move(other.properties_))
{
    components() = std::move(other.components());
    setMatrixToWorld(other.matrixToWorld());
    other.images_.clear();
    other.timestampsMs_.clear();
    other.elementwiseComponents().clear();
}

SharedImageSet::~SharedImageSet() = default;

std::unique_ptr<SharedImageSet> SharedImageSet::clone(Image::CloneOptions options) const
{
    auto result = std::make_unique<SharedImageSet>(name());
    result->modality_ = modality_;
    result->setMatrixToWorld(matrixToWorld());
    result->components() = components();
    result->elementwiseComponents() = elementwiseComponents();
    result->properties_ = properties_;
    result->images_.reserve(images_.size());
    for (const auto& image : images_)
        result->images_.push_back(image->clone(options));
    result->timestampsMs_ = timestampsMs_;
    result->setFocus(focus());
    result->setSelection(selection());
    return result;
}

Data::Kind SharedImageSet::kind() const
{
    const bool volume = !images_.empty() && images_.front()->slices() > 1;
    if (images_.size() == 1)
        return volume ? Kind::Volume : Kind::Image;
    return volume ? Kind::VolumeSet : Kind::ImageSet;
}

void SharedImageSet::reserve(std::size_t frames)
{
    images_.reserve(frames);
    timestampsMs_.reserve(frames);
}

bool SharedImageSet::add(std::shared_ptr<SharedImage> image, std::optional<double> timestampMs)
{
    return insert(size(), std::move(image), timestampMs);
}

bool SharedImageSet::insert(int index, std::shared_ptr<SharedImage> image, std::optional<double> timestampMs)
{
    if (!image || index < 0) {
        Log::log(Log::Level::Error, kCategory,
                 !image ? "Refusing to add a null image" : "Negative frame index");
        return false;
    }
    const auto at = static_cast<std::size_t>(std::min(index, size()));
    images_.insert(images_.begin() + static_cast<std::ptrdiff_t>(at), std::move(image));
    timestampsMs_.insert(timestampsMs_.begin() + static_cast<std::ptrdiff_t>(at), timestampMs);
    // Sets built before any frame had components may hold fewer lists than frames.
    if (elementwiseComponents().size() < images_.size() - 1)
        elementwiseComponents().resize(images_.size() - 1);
    elementwiseComponents().insert(at);
    return true;
}

bool SharedImageSet::replace(int index, std::shared_ptr<SharedImage> image)
{
    if (!image || index < 0 || index >= size())
        return false;
    images_[static_cast<std::size_t>(index)] = std::move(image);
    return true;
}

bool SharedImageSet::remove(int index)
{
    if (index < 0 || index >= size())
        return false;
    images_.erase(images_.begin() + index);
    timestampsMs_.erase(timestampsMs_.begin() + index);
    elementwiseComponents().erase(static_cast<std::size_t>(index));
    return true;
}

void SharedImageSet::clear()
{
    images_.clear();
    timestampsMs_.clear();
    elementwiseComponents().clear();
}

std::shared_ptr<SharedImage> SharedImageSet::get(int index) const
{
    if (index == -1)
        index = focus();
    if (index < 0 || index >= size())
        return nullptr;
    return images_[static_cast<std::size_t>(index)];
}

std::optional<double> SharedImageSet::timestamp(int index) const
{
    if (index < 0 || index >= size())
        return std::nullopt;
    return timestampsMs_[static_cast<std::size_t>(index)];
}

bool SharedImageSet::setTimestamp(int index, double timestampMs)
{
    if (index < 0 || index >= size())
        return false;
    timestampsMs_[static_cast<std::size_t>(index)] = timestampMs;
    return true;
}

bool SharedImageSet::clearTimestamp(int index)
{
    if (index < 0 || index >= size())
        return false;
    timestampsMs_[static_cast<std::size_t>(index)].reset();
    return true;
}

bool SharedImageSet::hasTimestamps() const
{
    if (timestampsMs_.empty())
        return false;
    for (const auto& t : timestampsMs_)
        if (!t)
            return false;
    return true;
}

void SharedImageSet::syncMem() const
{
    for (const auto& image : images_)
        image->syncMem();
}

void SharedImageSet::syncGl() const
{
    for (const auto& image : images_)
        image->syncGl();
}

std::size_t SharedImageSet::byteSize() const
{
    std::size_t bytes = 0;
    for (const auto& image : images_)
        bytes += image->descriptor().byteSize();
    return bytes;
}

}  // namespace Corvexis
