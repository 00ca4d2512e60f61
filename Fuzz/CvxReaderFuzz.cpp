// Fuzz target for the data-file reader. Besides "never crash, hang or leak", it checks what the reader
// promises about what it accepts: every item it returns can be written again, and reading that back
// gives as many items, complete and undamaged.
#include <cstddef>
#include <cstdint>

#include "FuzzCheck.h"
#include "Host/Lib/Files/CorvexisFile.h"

using namespace Corvexis;

namespace {

constexpr const char* kTarget = "CvxReaderFuzz";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzCheck::quietLog();
    CorvexisFile file;
    std::optional<OwningDataList> items = file.load(ByteBufferView(data, size));
    if (!items) {
        if (file.lastError().empty())
            FuzzCheck::violated(kTarget, "a refusal must say why");
        return 0;
    }
    for (const auto& damaged : file.damagedItems())
        if (damaged.offset >= size || damaged.kind.empty() || damaged.reason.empty())
            FuzzCheck::violated(kTarget, "a damaged item must be named with an offset inside the input");
    ByteBuffer again;
    if (!file.save(items->dataList(), again))
        FuzzCheck::violated(kTarget, "items the reader returned cannot be written");
    CorvexisFile second;
    std::optional<OwningDataList> back = second.load(again);
    if (!back || back->size() != items->size() || !second.isComplete() || !second.damagedItems().empty())
        FuzzCheck::violated(kTarget, "the rewritten file does not read back whole");
    return 0;
}
