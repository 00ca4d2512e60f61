// Fuzz target for the live image file reader: never crash, hang or leak, and every frame returned is a
// whole image whose count matches what the reader reports.
#include <cstddef>
#include <cstdint>

#include "FuzzCheck.h"
#include "Host/Core/MemImage.h"
#include "Host/Lib/Files/CorvexisImage.h"
#include "Host/Lib/SharedImageSet.h"

using namespace Corvexis;

namespace {

constexpr const char* kTarget = "LiveFileReaderFuzz";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzCheck::quietLog();
    CorvexisImage::ReadInfo info;
    std::string error;
    std::unique_ptr<SharedImageSet> set = CorvexisImage::load(ByteBufferView(data, size), &info, &error);
    if (!set) {
        if (error.empty())
            FuzzCheck::violated(kTarget, "a refusal must say why");
        return 0;
    }
    if (static_cast<std::uint64_t>(set->size()) != info.frames)
        FuzzCheck::violated(kTarget, "the frame count differs from the frames returned");
    if (set->elementwiseComponents().size() != static_cast<std::size_t>(set->size()))
        FuzzCheck::violated(kTarget, "per-frame components are not aligned with the frames");
    std::uint64_t pixels = 0;
    for (int i = 0; i < set->size(); ++i) {
        const MemImage* mem = set->get(i)->mem();
        if (!mem || mem->byteSize() != set->get(i)->descriptor().byteSize())
            FuzzCheck::violated(kTarget, "a frame is not a whole image");
        pixels += mem->byteSize();
    }
    if (pixels != info.rawPixelBytes)
        FuzzCheck::violated(kTarget, "the pixel byte count differs from the frames returned");
    return 0;
}
