#include "Host/Lib/ImageProcessing/WindowLevelAlgorithm.h"

#include <cstdint>

#include "Host/Core/Log.h"
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
    const double low = level.value() - w / 2.0;
    const double scale = 255.0 / w;
    auto out = PixelTypes::mapToUByte(
        *in, [low, scale](double v) { return PixelTypes::toPixel<std::uint8_t>((v - low) * scale); });
    if (!out)
        return nullptr;
    return wrap(std::move(out), image.descriptor().spacing);
}

}  // namespace Corvexis
