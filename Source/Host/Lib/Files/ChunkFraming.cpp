#include "Host/Lib/Files/ChunkFraming.h"

#include <cstring>

#include "Host/Lib/Files/ByteStreams.h"
#include "Host/Lib/Files/Crc32c.h"

namespace Corvexis::Files {

bool writeFileHeader(ByteSink& out, const char (&magic)[9], std::uint32_t major, std::uint32_t minor)
{
    return out.write(magic, 8) && out.u32(major) && out.u32(minor);
}

bool readFileHeader(ByteSource& in, const char (&magic)[9], std::uint32_t& major, std::uint32_t& minor,
                    std::string* error)
{
    char got[8];
    if (!in.read(got, 8)) {
        if (error)
            *error = "too short for a file header";
        return false;
    }
    if (std::memcmp(got, magic, 8) != 0) {
        if (error)
            *error = "not a file of this format (wrong signature)";
        return false;
    }
    if (!in.u32(major) || !in.u32(minor)) {
        if (error)
            *error = "too short for a file header";
        return false;
    }
    return true;
}

namespace {
bool writeHeader(CrcSink& out, std::uint32_t type, std::uint64_t length)
{
    return out.u32(type) && out.u32(0) && out.u64(length);
}
}  // namespace

bool writeChunk(ByteSink& out, std::uint32_t type, const std::function<bool(ByteSink&)>& encode)
{
    CountingSink counter;
    if (!encode(counter))
        return false;
    CrcSink crcOut(out);
    if (!writeHeader(crcOut, type, counter.count()))
        return false;
    CountingSink check;
    struct Tee : ByteSink
    {
        ByteSink& a;
        CountingSink& b;
        Tee(ByteSink& x, CountingSink& y) : a(x), b(y) {}
        bool write(const void* d, std::size_t n) override { return b.write(d, n) && a.write(d, n); }
    } tee(crcOut, check);
    if (!encode(tee) || check.count() != counter.count())
        return false;
    return out.u32(crcOut.crc());
}

bool writeChunk(ByteSink& out, std::uint32_t type, const void* data, std::uint64_t length)
{
    CrcSink crcOut(out);
    return writeHeader(crcOut, type, length) && crcOut.write(data, static_cast<std::size_t>(length)) &&
           out.u32(crcOut.crc());
}

ChunkStatus readChunkHeader(ByteSource& in, ChunkHeader& header, std::uint32_t& crc)
{
    if (in.remaining() == 0)
        return ChunkStatus::End;
    unsigned char raw[kChunkHeaderBytes];
    if (!in.read(raw, sizeof(raw)))
        return ChunkStatus::Truncated;
    std::memcpy(&header.type, raw, 4);
    std::memcpy(&header.flags, raw + 4, 4);
    std::memcpy(&header.length, raw + 8, 8);
    crc = crc32cUpdate(0, raw, sizeof(raw));
    if (in.remaining() < kChunkTrailerBytes || header.length > in.remaining() - kChunkTrailerBytes)
        return ChunkStatus::Truncated;
    return ChunkStatus::Ok;
}

bool finishChunk(ByteSource& in, std::uint32_t payloadCrc)
{
    std::uint32_t stored = 0;
    return in.u32(stored) && stored == payloadCrc;
}

}  // namespace Corvexis::Files
