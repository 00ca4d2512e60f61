#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace Corvexis {
class Data;
class Properties;
}  // namespace Corvexis

// The payload encodings of the data items a data file holds, one per chunk type; the byte layouts are
// in docs/cvx-format.md. The decoders take untrusted bytes: every count and length is checked against
// the bytes that remain before anything is allocated, and every value is checked before it reaches an
// object. All functions are thread-safe (they touch only their arguments).
namespace Corvexis::Files {

class ByteSink;
class ByteSource;

// Four ASCII characters as the little-endian 32-bit chunk type of the file.
constexpr std::uint32_t fourcc(const char (&s)[5])
{
    return static_cast<std::uint32_t>(static_cast<unsigned char>(s[0])) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(s[1])) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(s[2])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(s[3])) << 24;
}

inline constexpr std::uint32_t kChunkImageSet = fourcc("IMGS");
inline constexpr std::uint32_t kChunkTrackingSequence = fourcc("TRSQ");
inline constexpr std::uint32_t kChunkTrackedImageSet = fourcc("TIMS");
inline constexpr std::uint32_t kChunkMesh = fourcc("MESH");
inline constexpr std::uint32_t kChunkPointCloud = fourcc("PCLD");
inline constexpr std::uint32_t kChunkProperties = fourcc("PROP");

// The chunk type that stores `item`, or 0 when its kind cannot be stored (a live stream, a compound).
std::uint32_t chunkTypeOf(const Data& item);
// "image set", "tracking sequence", "tracked image set", "mesh", "point cloud", "property block", or
// "unknown chunk 'XXXX'" with printable characters.
std::string chunkKindName(std::uint32_t type);

// Writes the payload of `item` (chunkTypeOf(item) != 0). False when the sink fails or pixels cannot be
// brought to main memory.
bool encodeItem(ByteSink& out, const Data& item);
// Reads a payload of chunk type `type` that fills `in`; null with *error saying what is wrong.
std::unique_ptr<Data> decodeItem(std::uint32_t type, ByteSource& in, std::string* error);

// A property tree in binary form: exact, independent of the text syntax.
bool encodeProperties(ByteSink& out, const Properties& p);
bool decodeProperties(ByteSource& in, Properties& p, std::string* error);

}  // namespace Corvexis::Files
