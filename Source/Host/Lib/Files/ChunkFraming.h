#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace Corvexis::Files {

class ByteSink;
class ByteSource;

// The frame shared by the data file and the live image file: an 8-byte magic, the format version, and
// chunks of
//     u32 type | u32 flags | u64 length | payload (length bytes) | u32 CRC-32C of everything before it
// The layout is documented in docs/cvx-format.md. Thread-safe functions (they touch only arguments).

inline constexpr std::size_t kFileHeaderBytes = 16;
inline constexpr std::size_t kChunkHeaderBytes = 16;
inline constexpr std::size_t kChunkTrailerBytes = 4;

struct ChunkHeader
{
    std::uint32_t type = 0;
    std::uint32_t flags = 0;
    std::uint64_t length = 0;
};

// Magic, major and minor version.
bool writeFileHeader(ByteSink& out, const char (&magic)[9], std::uint32_t major, std::uint32_t minor);
// False with *error for a short file or another magic; the version is returned, not judged.
bool readFileHeader(ByteSource& in, const char (&magic)[9], std::uint32_t& major, std::uint32_t& minor,
                    std::string* error);

// Writes one chunk whose payload `encode` produces; `encode` runs twice, first into a counting sink for
// the length. False when the sink fails or the two runs disagree.
bool writeChunk(ByteSink& out, std::uint32_t type, const std::function<bool(ByteSink&)>& encode);
// Writes one chunk whose payload is `length` bytes at `data`.
bool writeChunk(ByteSink& out, std::uint32_t type, const void* data, std::uint64_t length);

enum class ChunkStatus
{
    Ok,
    End,        // no bytes left: a clean end between chunks
    Truncated,  // fewer bytes than a header, or than the header's length plus the checksum
};

// Reads a chunk header, checks its length against what remains and returns the CRC of the header so
// far in *crc (for a ChunkSource over the payload).
ChunkStatus readChunkHeader(ByteSource& in, ChunkHeader& header, std::uint32_t& crc);
// After the payload: skips what the reader left (checksumming it), reads the stored CRC and compares.
// `payloadCrc` is the ChunkSource's CRC after the skip. False on a mismatch or a read error.
bool finishChunk(ByteSource& in, std::uint32_t payloadCrc);

}  // namespace Corvexis::Files
