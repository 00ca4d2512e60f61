#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include <igtlMessageBase.h>

namespace Corvexis::IGTL {

// Turns received bytes into message objects in three steps, so that a reader can check each before it
// commits memory or trust: unpack the 58-byte header (type, device name, announced body size), make an
// empty message of the registered class with a body buffer of the announced size, and unpack the body
// once it has been read into that buffer (layout check, optional CRC check, then the library's unpack).
//
// Threading: stateless; thread-safe (each message object belongs to its caller).
class MessageReader
{
public:
    struct Header
    {
        igtl::MessageBase::Pointer message;  // the unpacked header
        std::string type;
        std::string deviceName;
        std::uint64_t bodySize = 0;  // as announced, before any limit
    };

    // The header in `bytes` (LibraryAdapter::kHeaderSize of them); empty when the library refuses it.
    static std::optional<Header> unpackHeader(const std::uint8_t* bytes);
    // An empty message of the class registered for the header's type, holding the header and a body
    // buffer of its announced size (LibraryAdapter::bodyPointer). Null for a type without a class, or a
    // body too large for the library's int sizes. The caller checks its own size limit before this.
    static igtl::MessageBase::Pointer prepareBody(const Header& header);
    // Checks the body's layout, then unpacks it (verifying its CRC when `crcCheck`). False with the
    // reason in `why` (may be null).
    static bool unpackBody(igtl::MessageBase& message, const std::string& type, bool crcCheck,
                           std::string* why = nullptr);
};

}  // namespace Corvexis::IGTL
