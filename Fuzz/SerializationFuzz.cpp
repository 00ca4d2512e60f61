// Fuzz target for reading serialised data messages: never crash, hang or leak, and whatever items a
// message yields can be serialised again and read back to as many items.
#include <cstddef>
#include <cstdint>

#include "FuzzCheck.h"
#include "Stream/Network/Serialization.h"

using namespace Corvexis;

namespace {

constexpr const char* kTarget = "SerializationFuzz";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzCheck::quietLog();
    std::optional<OwningDataList> items = Serialization::dataFromByteBuffer(ByteBufferView(data, size));
    if (!items)
        return 0;
    if (size <= Serialization::kHeaderBytes && !items->empty())
        FuzzCheck::violated(kTarget, "a message without payload gave items");
    std::optional<ByteBuffer> again = Serialization::dataToByteBuffer(items->dataList());
    if (!again)
        FuzzCheck::violated(kTarget, "items read from a message cannot be serialised again");
    std::optional<OwningDataList> back = Serialization::dataFromByteBuffer(*again);
    if (!back || back->size() != items->size())
        FuzzCheck::violated(kTarget, "a message written by this process does not read back whole");
    return 0;
}
