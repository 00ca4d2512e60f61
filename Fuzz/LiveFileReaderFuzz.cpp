// Fuzz target for the live image file reader: never crash, hang or leak, and every frame returned is a
// whole image whose count matches what the reader reports.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "Host/Core/Log.h"
#include "Host/Core/MemImage.h"
#include "Host/Lib/Files/CorvexisImage.h"
#include "Host/Lib/SharedImageSet.h"

using namespace Corvexis;

namespace {

[[noreturn]] void violated(const char* what)
{
    std::fprintf(stderr, "LiveFileReaderFuzz: %s\n", what);
    std::abort();
}

const bool quiet = [] {
    Log::removeSink(Log::defaultSink());
    return true;
}();

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    (void)quiet;
    CorvexisImage::ReadInfo info;
    std::string error;
    std::unique_ptr<SharedImageSet> set = CorvexisImage::load(ByteBufferView(data, size), &info, &error);
    if (!set) {
        if (error.empty())
            violated("a refusal must say why");
        return 0;
    }
    if (static_cast<std::uint64_t>(set->size()) != info.frames)
        violated("the frame count differs from the frames returned");
    if (set->elementwiseComponents().size() != static_cast<std::size_t>(set->size()))
        violated("per-frame components are not aligned with the frames");
    std::uint64_t pixels = 0;
    for (int i = 0; i < set->size(); ++i) {
        const MemImage* mem = set->get(i)->mem();
        if (!mem || mem->byteSize() != set->get(i)->descriptor().byteSize())
            violated("a frame is not a whole image");
        pixels += mem->byteSize();
    }
    if (pixels != info.rawPixelBytes)
        violated("the pixel byte count differs from the frames returned");
    return 0;
}
