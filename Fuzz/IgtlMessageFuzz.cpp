// Fuzz target: arbitrary bytes as a received OpenIGTLink byte stream, through header unpacking, the size
// limit, the message registry and body unpacking (layout check, CRC, the library's unpack). The first
// byte chooses the CRC check; the rest is read message after message until it runs out.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "Stream/IGTL/LibraryAdapter.h"
#include "Stream/IGTL/MessageReader.h"

namespace {

// Bodies larger than this are refused, as a connection's limit would (kept small for speed).
constexpr std::uint64_t kMaxBody = 1 << 20;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace Corvexis::IGTL;
    if (size < 1)
        return 0;
    const bool crcCheck = (data[0] & 1) != 0;
    std::size_t at = 1;
    while (size - at >= LibraryAdapter::kHeaderSize) {
        const auto header = MessageReader::unpackHeader(data + at);
        at += LibraryAdapter::kHeaderSize;
        if (!header || header->bodySize > kMaxBody || header->bodySize > size - at)
            break;
        igtl::MessageBase::Pointer message = MessageReader::prepareBody(*header);
        if (message.IsNotNull()) {
            std::memcpy(LibraryAdapter::bodyPointer(*message), data + at, header->bodySize);
            MessageReader::unpackBody(*message, header->type, crcCheck);
        }
        at += header->bodySize;
    }
    return 0;
}
