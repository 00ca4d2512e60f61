#include "Stream/Processing/ImageStreamSpacingAttacher.h"

#include "Host/Core/Log.h"
#include "Stream/Processing/SpacingAttachedImageStream.h"

namespace Corvexis {

ImageStreamSpacingAttacher::ImageStreamSpacingAttacher(ImageStream* input)
    : input_(input), output_(std::make_unique<SpacingAttachedImageStream>(input))
{
}

ImageStreamSpacingAttacher::~ImageStreamSpacingAttacher()
{
    disconnectAll();
}

bool ImageStreamSpacingAttacher::createCompatible(const DataList& inputs,
                                                  std::unique_ptr<Algorithm>* algorithm)
{
    if (inputs.size() != 1)
        return false;
    auto* stream = dynamic_cast<ImageStream*>(inputs[0]);
    if (stream == nullptr)
        return false;
    if (algorithm != nullptr)
        *algorithm = std::make_unique<ImageStreamSpacingAttacher>(stream);
    return true;
}

void ImageStreamSpacingAttacher::compute()
{
    if (input_ == nullptr) {
        Log::log(Log::Level::Error, "ImageStreamSpacingAttacher", "Input stream is not available");
        setStatus(Status::IncompleteInput);
        return;
    }
    setStatus(Status::Success);
}

void ImageStreamSpacingAttacher::configure(const Properties* properties)
{
    Algorithm::configure(properties);
    if (output_)
        output_->configure(properties);
}

void ImageStreamSpacingAttacher::configuration(Properties* properties) const
{
    Algorithm::configuration(properties);
    if (output_)
        output_->configuration(properties);
}

void ImageStreamSpacingAttacher::describeSettings(Properties* schema) const
{
    Algorithm::describeSettings(schema);
    if (output_)
        output_->describeSettings(schema);
}

OwningDataList ImageStreamSpacingAttacher::takeOutput()
{
    if (!output_)
        return {};
    return OwningDataList(std::move(output_));
}

}  // namespace Corvexis
