#include "Host/Lib/ImageProcessing/ThresholdAlgorithm.h"

#include <cstdint>

#include "Host/Core/TypedImage.h"
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
    const ImageDescriptor& d = image.descriptor();
    auto out = TypedImage<std::uint8_t>::create(d.width, d.height, d.slices, d.channels, false);
    if (!out)
        return nullptr;
    const double limit = threshold.value();
    PixelTypes::visit(
        d.pixelType,
        [&](auto type) {
            using T = decltype(type);
            const T* src = static_cast<const T*>(in->data());
            std::uint8_t* dst = out->pointer();
            const std::size_t n = out->valueCount();
            for (std::size_t i = 0; i < n; ++i)
                dst[i] = static_cast<double>(src[i]) >= limit ? 1 : 0;
            return true;
        },
        false);
    return wrap(std::move(out), d.spacing);
}

}  // namespace Corvexis
