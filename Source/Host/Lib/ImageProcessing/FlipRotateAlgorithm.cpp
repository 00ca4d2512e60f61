#include "Host/Lib/ImageProcessing/FlipRotateAlgorithm.h"

#include <cstddef>
#include <cstring>
#include <utility>

#include "Host/Core/Log.h"
#include "Host/Core/MemImage.h"
#include "Host/Lib/SharedImage.h"

namespace Corvexis {

FlipRotateAlgorithm::FlipRotateAlgorithm(SharedImageSet* input) : ImageAlgorithm("FlipRotate", input)
{
    flipX.setLabel("Flip left to right");
    flipY.setLabel("Flip top to bottom");
    rotation.setLabel("Rotation (degrees clockwise)");
    rotation.setAttribute("values", "0, 90, 180, 270");
}

FlipRotateAlgorithm::~FlipRotateAlgorithm() = default;

bool FlipRotateAlgorithm::accepts(const ImageDescriptor& descriptor, std::string* why) const
{
    return acceptIf(descriptor.isValid(), "needs a valid image", why);
}

std::unique_ptr<SharedImage> FlipRotateAlgorithm::processAccepted(const SharedImage& image)
{
    const int turn = rotation.value();
    if (turn != 0 && turn != 90 && turn != 180 && turn != 270) {
        Log::log(Log::Level::Error, name(),
                 "Rotation must be 0, 90, 180 or 270 degrees, not " + std::to_string(turn));
        return nullptr;
    }
    const MemImage* in = image.mem();
    if (in == nullptr)
        return nullptr;
    const ImageDescriptor& d = image.descriptor();
    const bool quarter = turn == 90 || turn == 270;
    ImageDescriptor od = d;
    if (quarter) {
        std::swap(od.width, od.height);
        std::swap(od.spacing.x(), od.spacing.y());
    }
    auto out = MemImage::create(od, false);
    if (!out)
        return nullptr;

    const int w = d.width;
    const int h = d.height;
    const bool fx = flipX.value();
    const bool fy = flipY.value();
    const std::size_t px = d.pixelSize();
    const auto* src = static_cast<const std::byte*>(in->data());
    auto* dst = static_cast<std::byte*>(out->data());
    const std::size_t sliceBytes = static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * px;

    for (int z = 0; z < d.slices; ++z) {
        const std::byte* s = src + static_cast<std::size_t>(z) * sliceBytes;
        std::byte* t = dst + static_cast<std::size_t>(z) * sliceBytes;
        for (int oy = 0; oy < od.height; ++oy) {
            for (int ox = 0; ox < od.width; ++ox) {
                // Undo the rotation to find the pixel of the flipped image, then undo the flip.
                int fxPos = ox;
                int fyPos = oy;
                switch (turn) {
                    case 90:
                        fxPos = oy;
                        fyPos = h - 1 - ox;
                        break;
                    case 180:
                        fxPos = w - 1 - ox;
                        fyPos = h - 1 - oy;
                        break;
                    case 270:
                        fxPos = w - 1 - oy;
                        fyPos = ox;
                        break;
                    default:
                        break;
                }
                const int sx = fx ? w - 1 - fxPos : fxPos;
                const int sy = fy ? h - 1 - fyPos : fyPos;
                std::memcpy(t + (static_cast<std::size_t>(oy) * od.width + ox) * px,
                            s + (static_cast<std::size_t>(sy) * w + sx) * px, px);
            }
        }
    }
    return wrap(std::move(out), od.spacing);
}

}  // namespace Corvexis
