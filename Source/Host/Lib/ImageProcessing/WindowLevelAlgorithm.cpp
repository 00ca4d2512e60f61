#include "Host/Lib/ImageProcessing/WindowLevelAlgorithm.h"

#include <cstdint>

#include "Host/Core/Log.h"
#include "Host/Core/TypedImage.h"
#include "Host/Lib/ImageProcessing/PixelTypes.h"
#include "Host/Lib/SharedImage.h"

namespace Corvexis {

WindowLevelAlgorithm::WindowLevelAlgorithm(SharedImageSet* input) : ImageAlgorithm("WindowLevel", input)
{
    window.setLabel("Window");
    level.setLabel("Level");
}

WindowLevelAlgorithm::~WindowLevelAlgorithm() = default;

bool WindowLevelAlgorithm::accepts(const ImageDescriptor& descriptor, std::string* why) const
{
    return acceptIf(descriptor.isValid() && descriptor.channels >= 1 && descriptor.channels <= 4,
                    "needs a known pixel type and 1 to 4 channels", why);
}

std::unique_ptr<SharedImage> WindowLevelAlgorithm::processAccepted(const SharedImage& image)
{
    const double w = window.value();
    if (!(w > 0.0)) {
        Log::log(Log::Level::Error, name(), "The window must be positive, not " + std::to_string(w));
        return nullptr;
    }
    const MemImage* in = image.mem();
    if (in == nullptr)
        return nullptr;
    const ImageDescriptor& d = image.descriptor();
    auto out = TypedImage<std::uint8_t>::create(d.width, d.height, d.slices, d.channels, false);
    if (!out)
        return nullptr;
    const double low = level.value() - w / 2.0;
    const double scale = 255.0 / w;
    PixelTypes::visit(
        d.pixelType,
        [&](auto type) {
            using T = decltype(type);
            const T* src = static_cast<const T*>(in->data());
            std::uint8_t* dst = out->pointer();
            const std::size_t n = out->valueCount();
            for (std::size_t i = 0; i < n; ++i)
                dst[i] = PixelTypes::toPixel<std::uint8_t>((static_cast<double>(src[i]) - low) * scale);
            return true;
        },
        false);
    return wrap(std::move(out), d.spacing);
}

}  // namespace Corvexis
