#include "Host/Lib/ImageProcessing/ImageAlgorithm.h"

#include <utility>

#include "Host/Core/Log.h"
#include "Host/Core/MemImage.h"
#include "Host/Lib/SharedImage.h"
#include "Host/Lib/SharedImageSet.h"

namespace Corvexis {

ImageAlgorithm::ImageAlgorithm(std::string name, SharedImageSet* input)
    : name_(std::move(name)), input_(input)
{
}

ImageAlgorithm::~ImageAlgorithm() = default;

SharedImageSet* ImageAlgorithm::singleSet(const DataList& inputs)
{
    if (inputs.size() != 1)
        return nullptr;
    return dynamic_cast<SharedImageSet*>(inputs[0]);
}

bool ImageAlgorithm::acceptsSet(const SharedImageSet& set, const ImageAlgorithm* probe)
{
    for (const auto& frame : set.images()) {
        if (!frame || !probe->accepts(frame->descriptor()))
            return false;
    }
    return true;
}

void ImageAlgorithm::compute()
{
    output_.reset();
    if (input_ == nullptr || input_->empty()) {
        Log::log(Log::Level::Error, name_, "No input images");
        setStatus(Status::InvalidInput);
        return;
    }
    auto output = std::make_unique<SharedImageSet>(input_->name());
    output->setModality(input_->modality());
    const auto& componentsPerFrame = input_->elementwiseComponents();
    for (int i = 0; i < input_->size(); ++i) {
        const DataComponentList* components = componentsPerFrame.at(i);
        const DataComponentList none;
        auto result = processImage(*input_->get(i), components != nullptr ? *components : none);
        if (!result || !result->image) {
            setStatus(Status::InvalidInput);
            return;
        }
        output->add(std::shared_ptr<SharedImage>(std::move(result->image)), input_->timestamp(i));
        if (DataComponentList* target = output->elementwiseComponents().at(i))
            *target = std::move(result->components);
    }
    output_ = std::move(output);
    setStatus(Status::Success);
}

OwningDataList ImageAlgorithm::takeOutput()
{
    if (!output_)
        return {};
    return OwningDataList(std::move(output_));
}

std::optional<SequentialImageProcessor::Result> ImageAlgorithm::processImage(
    const SharedImage& image, const DataComponentList& components)
{
    std::string why;
    if (image.isEmpty() || !accepts(image.descriptor(), &why)) {
        Log::log(Log::Level::Error, name_,
                 "Cannot process " +
                     (image.isEmpty() ? std::string("an empty image") : image.descriptor().toString()) +
                     (why.empty() ? "" : ": " + why));
        return std::nullopt;
    }
    std::unique_ptr<SharedImage> out = processAccepted(image);
    if (!out || out->isEmpty())
        return std::nullopt;
    out->setModality(resultModality(image));
    out->setMatrix(image.matrix());
    out->setSpacing(out->spacing(), image.isMetric());
    Result result;
    result.image = std::move(out);
    result.components = components;
    return result;
}

bool ImageAlgorithm::acceptIf(bool accepted, const char* reason, std::string* why)
{
    if (!accepted && why != nullptr)
        *why = reason;
    return accepted;
}

Data::Modality ImageAlgorithm::resultModality(const SharedImage& image) const
{
    return image.modality();
}

std::unique_ptr<SharedImage> ImageAlgorithm::wrap(std::unique_ptr<MemImage> pixels,
                                                  const Eigen::Vector3d& spacing)
{
    if (!pixels) {
        Log::log(Log::Level::Error, "ImageAlgorithm", "Out of memory for the result image");
        return nullptr;
    }
    pixels->setSpacing(spacing);
    return std::make_unique<SharedImage>(std::move(pixels));
}

}  // namespace Corvexis
