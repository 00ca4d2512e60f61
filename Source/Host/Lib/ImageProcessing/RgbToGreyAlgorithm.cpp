#include "Host/Lib/ImageProcessing/RgbToGreyAlgorithm.h"

#include "Host/Core/MemImage.h"
#include "Host/Lib/ImageProcessing/PixelTypes.h"
#include "Host/Lib/SharedImage.h"

namespace Corvexis {

RgbToGreyAlgorithm::RgbToGreyAlgorithm(SharedImageSet* input) : ImageAlgorithm("RgbToGrey", input) {}

RgbToGreyAlgorithm::~RgbToGreyAlgorithm() = default;

bool RgbToGreyAlgorithm::accepts(const ImageDescriptor& descriptor, std::string* why) const
{
    return acceptIf(descriptor.isValid() && (descriptor.channels == 3 || descriptor.channels == 4),
                    "needs 3 (RGB) or 4 (RGBA) channels", why);
}

std::unique_ptr<SharedImage> RgbToGreyAlgorithm::processAccepted(const SharedImage& image)
{
    const MemImage* in = image.mem();
    if (in == nullptr)
        return nullptr;
    const ImageDescriptor& d = image.descriptor();
    ImageDescriptor grey(d.pixelType, d.width, d.height, d.slices, 1);
    auto out = MemImage::create(grey, false);
    if (!out)
        return nullptr;
    PixelTypes::visit(
        d.pixelType,
        [&](auto type) {
            using T = decltype(type);
            const T* src = static_cast<const T*>(in->data());
            T* dst = static_cast<T*>(out->data());
            const std::size_t pixels = d.pixelCount();
            const std::size_t c = static_cast<std::size_t>(d.channels);
            for (std::size_t i = 0; i < pixels; ++i) {
                const T* p = src + i * c;
                const double v = 0.299 * static_cast<double>(p[0]) + 0.587 * static_cast<double>(p[1]) +
                                 0.114 * static_cast<double>(p[2]);
                dst[i] = PixelTypes::toPixel<T>(v);
            }
            return true;
        },
        false);
    return wrap(std::move(out), d.spacing);
}

}  // namespace Corvexis
