#include "Stream/Network/Serialization.h"

#include <cstdint>
#include <cstring>
#include <mutex>
#include <set>
#include <utility>

#include "Host/Core/Framework.h"
#include "Host/Core/Log.h"
#include "Host/Lib/Files/CorvexisFile.h"

namespace Corvexis::Serialization {

namespace {

constexpr const char* kWriteCategory = "Serialization::dataToByteBuffer";
constexpr const char* kReadCategory = "Serialization::dataFromByteBuffer";

struct Header
{
    std::uint64_t reserved = 0;
    std::uint64_t major = 0;
    std::uint64_t minor = 0;
    std::uint64_t patch = 0;
    std::uint64_t itemCount = 0;
    std::uint64_t payloadSize = 0;
};
static_assert(sizeof(Header) == kHeaderBytes);

// The (major, minor) pairs of foreign writers already warned about in this process.
std::mutex warnedMutex;
std::set<std::pair<std::uint64_t, std::uint64_t>> warnedVersions;  // guarded by warnedMutex

}  // namespace

std::optional<ByteBuffer> dataToByteBuffer(const DataList& items)
{
    const Utils::Version version = Framework::version();
    ByteBuffer payload;
    CorvexisFile file;
    if (!file.save(items, payload)) {
        Log::log(Log::Level::Error, kWriteCategory, "Failed to serialize all data");
        return std::nullopt;
    }
    Header header;
    header.major = static_cast<std::uint64_t>(version.major);
    header.minor = static_cast<std::uint64_t>(version.minor);
    header.patch = static_cast<std::uint64_t>(version.patch);
    header.itemCount = items.size();
    header.payloadSize = payload.size();
    ByteBuffer message(kHeaderBytes + payload.size());
    std::memcpy(message.data(), &header, kHeaderBytes);
    if (!payload.empty())
        std::memcpy(message.data() + kHeaderBytes, payload.data(), payload.size());
    return message;
}

std::optional<OwningDataList> dataFromByteBuffer(const ByteBufferView& message)
{
    const std::size_t n = message.size();
    if (n <= kHeaderBytes) {
        Log::log(Log::Level::Error, kReadCategory,
                 "Failed to deserialize any data. Buffer does not contain any valid data.");
        return OwningDataList();
    }
    Header header;
    std::memcpy(&header, message.data(), kHeaderBytes);
    // Compared without adding to the untrusted size, which could wrap.
    if (header.payloadSize != n - kHeaderBytes) {
        const std::string expected = header.payloadSize > UINT64_MAX - kHeaderBytes
                                         ? std::to_string(header.payloadSize) + " + 48"
                                         : std::to_string(header.payloadSize + kHeaderBytes);
        Log::log(Log::Level::Error, kReadCategory,
                 "Input buffer is incomplete. Received " + std::to_string(n) + " bytes, should be " +
                     expected + " bytes.");
        return OwningDataList();
    }
    const Utils::Version local = Framework::version();
    if (header.major != static_cast<std::uint64_t>(local.major) ||
        header.minor != static_cast<std::uint64_t>(local.minor)) {
        bool first = false;
        {
            std::lock_guard lock(warnedMutex);
            first = warnedVersions.emplace(header.major, header.minor).second;
        }
        if (first) {
            const std::string sender = std::to_string(header.major) + "." + std::to_string(header.minor) +
                                       "." + std::to_string(header.patch);
            Log::log(Log::Level::Warning, kReadCategory,
                     "SDK versions do not match: Serialization with SDK version " + sender +
                         " might not be compatible with the deserialization with this SDK version " +
                         local.toString() + ".\n\tDeserialization might fail due to mismatching protocols.");
        }
    }
    CorvexisFile file;
    std::optional<OwningDataList> items = file.load(message.subview(kHeaderBytes), -1);
    const std::size_t read = items ? items->size() : 0;
    if (!items || read != header.itemCount) {
        Log::log(Log::Level::Error, kReadCategory,
                 "Failed to deserialize all data. Deserialized " + std::to_string(read) + " out of " +
                     std::to_string(header.itemCount) + " data instances.");
    }
    return items;
}

}  // namespace Corvexis::Serialization
