#include "Stream/IGTL/MessageReader.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include <igtlMessageHeader.h>

#include "Stream/IGTL/LibraryAdapter.h"
#include "Stream/IGTL/MessageValidator.h"
#include "Stream/IGTL/SupportedTypes.h"

namespace Corvexis::IGTL {

std::optional<MessageReader::Header> MessageReader::unpackHeader(const std::uint8_t* bytes)
{
    igtl::MessageHeader::Pointer header = igtl::MessageHeader::New();
    LibraryAdapter::initBuffer(*header);
    if (LibraryAdapter::bufferSize(*header) != LibraryAdapter::kHeaderSize)
        return std::nullopt;
    std::memcpy(LibraryAdapter::bufferPointer(*header), bytes, LibraryAdapter::kHeaderSize);
    if ((header->Unpack() & igtl::MessageHeader::UNPACK_HEADER) == 0)
        return std::nullopt;
    Header result;
    result.bodySize = LibraryAdapter::rawBodySize(bytes);
    result.type = LibraryAdapter::messageType(*header);
    const char* name = header->GetDeviceName();
    result.deviceName = name != nullptr ? std::string(name) : std::string();
    result.message = header;
    return result;
}

igtl::MessageBase::Pointer MessageReader::prepareBody(const Header& header)
{
    if (header.bodySize > static_cast<std::uint64_t>(INT_MAX) - LibraryAdapter::kHeaderSize ||
        header.message.IsNull())
        return nullptr;
    igtl::MessageBase::Pointer message = SupportedTypes::instance().create(header.type);
    if (message.IsNull())
        return nullptr;
    message->SetMessageHeader(header.message);
    LibraryAdapter::allocateBuffer(*message);
    if (LibraryAdapter::bodySize(*message) != header.bodySize)
        return nullptr;
    return message;
}

bool MessageReader::unpackBody(igtl::MessageBase& message, const std::string& type, bool crcCheck,
                               std::string* why)
{
    const std::size_t size = LibraryAdapter::bodySize(message);
    const auto* body = static_cast<const std::uint8_t*>(LibraryAdapter::bodyPointer(message));
    if (!MessageValidator::validBody(type, body, size, why))
        return false;
    // An empty POLYDATA (no points, cells or attributes) is valid, but the library refuses to unpack
    // it; the message object stays empty, which is what it says.
    if (type == "POLYDATA" && size == 40 &&
        std::all_of(body, body + size, [](std::uint8_t b) { return b == 0; }))
        return true;
    const int status = message.Unpack(crcCheck ? 1 : 0);
    if ((status & igtl::MessageHeader::UNPACK_BODY) == 0) {
        if (why != nullptr)
            *why = crcCheck ? "the body does not unpack (CRC mismatch or bad contents)"
                            : "the body does not unpack";
        return false;
    }
    return true;
}

}  // namespace Corvexis::IGTL
