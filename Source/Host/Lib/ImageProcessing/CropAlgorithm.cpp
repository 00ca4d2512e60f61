#include "Host/Lib/ImageProcessing/CropAlgorithm.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "Host/Core/Log.h"
#include "Host/Core/MemImage.h"
#include "Host/Lib/SharedImage.h"

namespace Corvexis {

CropAlgorithm::CropAlgorithm(SharedImageSet* input) : ImageAlgorithm("Crop", input)
{
    offset.setLabel("Offset (pixels)");
    size.setLabel("Size (pixels, 0 = to the edge)");
}

CropAlgorithm::~CropAlgorithm() = default;

bool CropAlgorithm::accepts(const ImageDescriptor& descriptor, std::string* why) const
{
    return acceptIf(descriptor.isValid(), "needs a valid image", why);
}

std::unique_ptr<SharedImage> CropAlgorithm::processAccepted(const SharedImage& image)
{
    const ImageDescriptor& d = image.descriptor();
    const Eigen::Vector2i o = offset.value();
    const Eigen::Vector2i s = size.value();
    // Work in 64 bits: offset + size may overflow int for hostile values.
    const long long x0 = std::max<long long>(o.x(), 0);
    const long long y0 = std::max<long long>(o.y(), 0);
    const long long x1 =
        s.x() > 0 ? std::min<long long>(static_cast<long long>(o.x()) + s.x(), d.width) : d.width;
    const long long y1 =
        s.y() > 0 ? std::min<long long>(static_cast<long long>(o.y()) + s.y(), d.height) : d.height;
    if (x1 <= x0 || y1 <= y0) {
        Log::log(Log::Level::Error, name(),
                 "The region at (" + std::to_string(o.x()) + ", " + std::to_string(o.y()) + ") of size " +
                     std::to_string(s.x()) + " x " + std::to_string(s.y()) + " leaves nothing of " +
                     d.toString());
        return nullptr;
    }
    const MemImage* in = image.mem();
    if (in == nullptr)
        return nullptr;
    ImageDescriptor od = d;
    od.width = static_cast<int>(x1 - x0);
    od.height = static_cast<int>(y1 - y0);
    auto out = MemImage::create(od, false);
    if (!out)
        return nullptr;
    const std::size_t px = d.pixelSize();
    const std::size_t rowBytes = static_cast<std::size_t>(od.width) * px;
    const auto* src = static_cast<const std::byte*>(in->data());
    auto* dst = static_cast<std::byte*>(out->data());
    for (int z = 0; z < d.slices; ++z) {
        for (int y = 0; y < od.height; ++y) {
            const std::size_t srcRow =
                (static_cast<std::size_t>(z) * d.height + static_cast<std::size_t>(y0 + y)) * d.width;
            const std::size_t dstRow = (static_cast<std::size_t>(z) * od.height + y) * od.width;
            std::memcpy(dst + dstRow * px, src + (srcRow + static_cast<std::size_t>(x0)) * px, rowBytes);
        }
    }
    return wrap(std::move(out), od.spacing);
}

}  // namespace Corvexis
