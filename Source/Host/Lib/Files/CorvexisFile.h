#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Host/Core/ByteBuffer.h"
#include "Host/Core/DataList.h"
#include "Host/Core/OwningDataList.h"

namespace Corvexis {

namespace Files {
class ByteSink;
class ByteSource;
}  // namespace Files

// The host's data file (".cvx"): a list of data items (image sets and volume sets with every pixel type,
// tracking sequences, tracked image sets, meshes, point clouds, property blocks) in one file or one
// block of memory. The layout is in docs/cvx-format.md: a signature and format version, then one
// length-prefixed, CRC-32C-checked chunk per item, then an end chunk with the item count.
//
// Saving to a path writes a temporary file beside it, syncs it and renames it, so the path holds either
// the old file or the complete new one. Loading is strict: every length is checked against the bytes
// that remain before anything is allocated, a file of a newer major version is refused, and a damaged
// item is reported by its index and kind while the other items still load.
//
// Threading: an object is used by one thread at a time (caller synchronises); separate objects may work
// in parallel.
class CorvexisFile
{
public:
    static constexpr std::uint32_t kFormatMajor = 1;
    static constexpr std::uint32_t kFormatMinor = 0;

    struct DamagedItem
    {
        std::size_t index = 0;     // position among the file's item chunks
        std::string kind;          // "image set", ..., or "unknown chunk 'XXXX'"
        std::uint64_t offset = 0;  // byte offset of the chunk in the file
        std::string reason;
    };

    CorvexisFile();
    ~CorvexisFile();

    // Writes every item of `items` to `path`. False with lastError() when an item cannot be stored (a
    // live stream, pixels not available in main memory) or the file cannot be written; then `path` is
    // untouched.
    bool save(const DataList& items, const std::string& path);
    // The same bytes into `out` (replacing its contents).
    bool save(const DataList& items, ByteBuffer& out);

    // Reads at most `maxItems` items (-1: all). No value, with lastError(), when the file cannot be read
    // at all (missing, not a data file, a newer major version, a damaged header). Otherwise the items
    // that are intact; damagedItems() and isComplete() tell what was not.
    std::optional<OwningDataList> load(const std::string& path, int maxItems = -1);
    std::optional<OwningDataList> load(ByteBufferView bytes, int maxItems = -1);

    const std::string& lastError() const { return lastError_; }
    // Items of the last load that could not be read.
    const std::vector<DamagedItem>& damagedItems() const { return damaged_; }
    // True when the last load reached the end chunk and it named as many items as the file holds.
    bool isComplete() const { return complete_; }
    // Version of the last file loaded.
    std::uint32_t fileMajor() const { return fileMajor_; }
    std::uint32_t fileMinor() const { return fileMinor_; }

    // True when the first bytes are the data file's signature.
    static bool hasSignature(ByteBufferView firstBytes);

private:
    bool writeAll(const DataList& items, Files::ByteSink& out);
    std::optional<OwningDataList> readAll(Files::ByteSource& in, int maxItems);

    std::string lastError_;
    std::vector<DamagedItem> damaged_;
    bool complete_ = false;
    std::uint32_t fileMajor_ = 0;
    std::uint32_t fileMinor_ = 0;
};

}  // namespace Corvexis
