#include "Host/Lib/ImageProcessing/DownsampleAlgorithm.h"

#include <algorithm>
#include <vector>

#include "Host/Core/Log.h"
#include "Host/Core/MemImage.h"
#include "Host/Lib/ImageProcessing/PixelTypes.h"
#include "Host/Lib/SharedImage.h"

namespace Corvexis {

namespace {
constexpr int kMaxFactor = 64;
}

DownsampleAlgorithm::DownsampleAlgorithm(SharedImageSet* input) : ImageAlgorithm("Downsample", input)
{
    factor.setLabel("Factor");
    factor.setAttribute("min", "1");
    factor.setAttribute("max", std::to_string(kMaxFactor));
}

DownsampleAlgorithm::~DownsampleAlgorithm() = default;

bool DownsampleAlgorithm::accepts(const ImageDescriptor& descriptor, std::string* why) const
{
    return acceptIf(descriptor.isValid(), "needs a valid image", why);
}

std::unique_ptr<SharedImage> DownsampleAlgorithm::processAccepted(const SharedImage& image)
{
    const int f = factor.value();
    if (f < 1 || f > kMaxFactor) {
        Log::log(Log::Level::Error, name(),
                 "The factor must be 1 to " + std::to_string(kMaxFactor) + ", not " + std::to_string(f));
        return nullptr;
    }
    const MemImage* in = image.mem();
    if (in == nullptr)
        return nullptr;
    const ImageDescriptor& d = image.descriptor();
    ImageDescriptor od = d;
    od.width = (d.width + f - 1) / f;
    od.height = (d.height + f - 1) / f;
    od.spacing.x() *= f;
    od.spacing.y() *= f;
    auto out = MemImage::create(od, false);
    if (!out)
        return nullptr;
    const int c = d.channels;
    PixelTypes::visit(
        d.pixelType,
        [&](auto type) {
            using T = decltype(type);
            const T* src = static_cast<const T*>(in->data());
            T* dst = static_cast<T*>(out->data());
            std::vector<double> sums(static_cast<std::size_t>(c));
            for (int z = 0; z < d.slices; ++z) {
                for (int oy = 0; oy < od.height; ++oy) {
                    const int yEnd = std::min(d.height, (oy + 1) * f);
                    for (int ox = 0; ox < od.width; ++ox) {
                        const int xEnd = std::min(d.width, (ox + 1) * f);
                        std::fill(sums.begin(), sums.end(), 0.0);
                        for (int y = oy * f; y < yEnd; ++y) {
                            const T* row = src + ((static_cast<std::size_t>(z) * d.height + y) * d.width) * c;
                            for (int x = ox * f; x < xEnd; ++x)
                                for (int ch = 0; ch < c; ++ch)
                                    sums[static_cast<std::size_t>(ch)] +=
                                        static_cast<double>(row[x * c + ch]);
                        }
                        const double count = static_cast<double>((yEnd - oy * f) * (xEnd - ox * f));
                        T* target =
                            dst + ((static_cast<std::size_t>(z) * od.height + oy) * od.width + ox) * c;
                        for (int ch = 0; ch < c; ++ch)
                            target[ch] = PixelTypes::toPixel<T>(sums[static_cast<std::size_t>(ch)] / count);
                    }
                }
            }
            return true;
        },
        false);
    return wrap(std::move(out), od.spacing);
}

}  // namespace Corvexis
