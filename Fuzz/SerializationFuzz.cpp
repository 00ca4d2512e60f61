// Fuzz target for reading serialised data messages: never crash, hang or leak, and whatever items a
// message yields can be serialised again and read back to as many items.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "Host/Core/Log.h"
#include "Stream/Network/Serialization.h"

using namespace Corvexis;

namespace {

[[noreturn]] void violated(const char* what)
{
    std::fprintf(stderr, "SerializationFuzz: %s\n", what);
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
    std::optional<OwningDataList> items = Serialization::dataFromByteBuffer(ByteBufferView(data, size));
    if (!items)
        return 0;
    if (size <= Serialization::kHeaderBytes && !items->empty())
        violated("a message without payload gave items");
    std::optional<ByteBuffer> again = Serialization::dataToByteBuffer(items->dataList());
    if (!again)
        violated("items read from a message cannot be serialised again");
    std::optional<OwningDataList> back = Serialization::dataFromByteBuffer(*again);
    if (!back || back->size() != items->size())
        violated("a message written by this process does not read back whole");
    return 0;
}
