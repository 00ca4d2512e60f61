#include "Host/Lib/Files/CorvexisFile.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Host/Core/Log.h"
#include "Host/Lib/Files/AtomicFileWriter.h"
#include "Host/Lib/Files/ByteStreams.h"
#include "Host/Lib/Files/ChunkFraming.h"
#include "Host/Lib/Files/DataItemCodec.h"

namespace Corvexis {

namespace {
constexpr char kMagic[9] =
    "\x89"
    "CVX\r\n\x1a\n";
constexpr std::uint32_t kChunkEnd = Files::fourcc("CEND");
}  // namespace

CorvexisFile::CorvexisFile() = default;
CorvexisFile::~CorvexisFile() = default;

bool CorvexisFile::hasSignature(ByteBufferView firstBytes)
{
    return firstBytes.size() >= 8 && std::memcmp(firstBytes.data(), kMagic, 8) == 0;
}

bool CorvexisFile::writeAll(const DataList& items, Files::ByteSink& out)
{
    lastError_.clear();
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (Files::chunkTypeOf(*items[i]) == 0) {
            lastError_ = "item " + std::to_string(i) + " ('" + items[i]->name() + "', " +
                         Data::kindString(items[i]->kind()) + ") cannot be stored in a data file";
            return false;
        }
    }
    if (!Files::writeFileHeader(out, kMagic, kFormatMajor, kFormatMinor)) {
        lastError_ = "write failed";
        return false;
    }
    for (std::size_t i = 0; i < items.size(); ++i) {
        const Data& item = *items[i];
        if (!Files::writeChunk(out, Files::chunkTypeOf(item),
                               [&item](Files::ByteSink& sink) { return Files::encodeItem(sink, item); })) {
            lastError_ = "cannot write item " + std::to_string(i) + " ('" + item.name() + "')";
            return false;
        }
    }
    const std::uint64_t count = items.size();
    if (!Files::writeChunk(out, kChunkEnd, &count, sizeof(count))) {
        lastError_ = "write failed";
        return false;
    }
    return true;
}

bool CorvexisFile::save(const DataList& items, ByteBuffer& out)
{
    out.clear();
    Files::BufferSink sink(out);
    return writeAll(items, sink);
}

bool CorvexisFile::save(const DataList& items, const std::string& path)
{
    Files::AtomicFileWriter file;
    if (!file.open(path)) {
        lastError_ = file.error();
        return false;
    }
    Files::FileSink sink(file.fd());
    if (!writeAll(items, sink) || !sink.flush()) {
        if (sink.failed())
            lastError_ = "cannot write " + path + ": " + std::strerror(sink.error());
        return false;
    }
    if (!file.commit()) {
        lastError_ = file.error();
        return false;
    }
    return true;
}

std::optional<OwningDataList> CorvexisFile::readAll(Files::ByteSource& in, int maxItems)
{
    damaged_.clear();
    complete_ = false;
    lastError_.clear();
    const std::uint64_t total = in.remaining();
    std::string error;
    if (!Files::readFileHeader(in, kMagic, fileMajor_, fileMinor_, &error)) {
        lastError_ = error;
        return std::nullopt;
    }
    if (fileMajor_ > kFormatMajor) {
        lastError_ = "format version " + std::to_string(fileMajor_) + "." + std::to_string(fileMinor_) +
                     " is newer than this reader (" + std::to_string(kFormatMajor) + "." +
                     std::to_string(kFormatMinor) + ")";
        return std::nullopt;
    }

    OwningDataList items;
    std::size_t index = 0;
    while (maxItems < 0 || items.size() < static_cast<std::size_t>(maxItems)) {
        const std::uint64_t offset = total - in.remaining();
        Files::ChunkHeader header;
        std::uint32_t crc = 0;
        const Files::ChunkStatus status = Files::readChunkHeader(in, header, crc);
        if (status == Files::ChunkStatus::End) {
            lastError_ = "the file ends without its end marker (cut short?)";
            break;
        }
        if (status == Files::ChunkStatus::Truncated) {
            // Nothing after this point can be located: the length is damaged or the file was cut.
            damaged_.push_back({index, Files::chunkKindName(header.type), offset,
                                "chunk runs past the end of the file (cut short or damaged length)"});
            lastError_ = "the file is cut short or damaged at offset " + std::to_string(offset);
            break;
        }
        Files::ChunkSource payload(in, header.length, crc);
        if (header.type == kChunkEnd) {
            std::uint64_t count = 0;
            const bool ok =
                header.length == sizeof(count) && payload.u64(count) && Files::finishChunk(in, payload.crc());
            complete_ = ok && count == index;
            if (!complete_)
                lastError_ = "the end marker is damaged or names another item count";
            break;
        }
        error.clear();
        std::unique_ptr<Data> item = Files::decodeItem(header.type, payload, &error);
        // The rest of the payload is read even after a decoding error, so that the next chunk is found
        // and the checksum can tell damage from a format this reader does not know.
        const bool skipped = payload.skip(payload.remaining());
        const bool crcOk = skipped && Files::finishChunk(in, payload.crc());
        if (!skipped) {
            damaged_.push_back({index, Files::chunkKindName(header.type), offset, "read error"});
            lastError_ = "read error at offset " + std::to_string(offset);
            break;
        }
        if (!crcOk) {
            damaged_.push_back({index, Files::chunkKindName(header.type), offset, "checksum mismatch"});
        } else if (!item) {
            damaged_.push_back({index, Files::chunkKindName(header.type), offset, error});
        } else {
            items.add(std::move(item));
        }
        ++index;
    }
    if (maxItems >= 0 && items.size() >= static_cast<std::size_t>(maxItems))
        complete_ = true;  // stopped on request, not by damage
    for (const DamagedItem& d : damaged_)
        Log::log(Log::Level::Warning, "CorvexisFile",
                 "Item " + std::to_string(d.index) + " (" + d.kind + ") at offset " +
                     std::to_string(d.offset) + " is damaged: " + d.reason);
    return items;
}

std::optional<OwningDataList> CorvexisFile::load(ByteBufferView bytes, int maxItems)
{
    Files::MemorySource source(bytes);
    return readAll(source, maxItems);
}

std::optional<OwningDataList> CorvexisFile::load(const std::string& path, int maxItems)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        lastError_ = "cannot open " + path + ": " + std::strerror(errno);
        damaged_.clear();
        complete_ = false;
        return std::nullopt;
    }
    struct stat st
    {
    };
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        lastError_ = path + " is not a regular file";
        ::close(fd);
        return std::nullopt;
    }
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    Files::FileSource source(fd, static_cast<std::uint64_t>(st.st_size));
    std::optional<OwningDataList> result = readAll(source, maxItems);
    if (source.error() != 0 && lastError_.empty())
        lastError_ = "read error in " + path + ": " + std::strerror(source.error());
    ::close(fd);
    return result;
}

}  // namespace Corvexis
