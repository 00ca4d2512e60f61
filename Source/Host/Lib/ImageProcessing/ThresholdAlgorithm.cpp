#include "Host/Lib/ImageProcessing/ThresholdAlgorithm.h"

#include <cstdint>

#include "Host/Lib/ImageProcessing/PixelTypes.h"
#include "Host/Lib/SharedImage.h"

namespace Corvexis {

ThresholdAlgorithm::ThresholdAlgorithm(SharedImageSet* input) : ImageAlgorithm("Threshold", input)
{
    threshold.setLabel("Threshold");
}

ThresholdAlgorithm::~ThresholdAlgorithm() = default;

bool ThresholdAlgorithm::accepts(const ImageDescriptor& descriptor, std::string* why) const
{
    return acceptIf(descriptor.isValid() && descriptor.channels >= 1 && descriptor.channels <= 4,
                    "needs a known pixel type and 1 to 4 channels", why);
}

Data::Modality ThresholdAlgorithm::resultModality(const SharedImage&) const
{
    return Data::Modality::Label;
}

std::unique_ptr<SharedImage> ThresholdAlgorithm::processAccepted(const SharedImage& image)
{
    const MemImage* in = image.mem();
    if (in == nullptr)
        return nullptr;
    const double limit = threshold.value();
    auto out = PixelTypes::mapToUByte(*in, [limit](double v) -> std::uint8_t { return v >= limit ? 1 : 0; });
    if (!out)
        return nullptr;
    return wrap(std::move(out), image.descriptor().spacing);
}

}  // namespace Corvexis
