#pragma once

#include <chrono>
#include <cstdint>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Host/Core/ByteBuffer.h"

namespace Corvexis {

class DataComponentList;
class SharedImage;
class SharedImageSet;

// The live image file: frames written one by one while they are recorded, so that a long recording
// need not stay in memory and a crash loses at most the last moments. Layout in docs/cvx-format.md: a
// signature and version, a header record (the set's name, modality, properties and components), one
// self-contained, CRC-32C-checked record per frame, and an end record written by close().
//
// Durability: every record is handed to the kernel by append() itself, so a process that is killed
// leaves every appended frame in the file; the file is synced to the disk at least every
// flushInterval (and at close), which bounds what a power loss can take. While recording, the file
// is named "<path>.part"; close() syncs it and renames it to `path`, so the final name only ever holds
// a finished file. The reader returns every intact frame of a file (or of a ".part" file left by a
// crash) up to where it was cut.
//
// 8-bit frames may be compressed with zstd at a fast level meant for live use; other pixel types are
// stored raw.
//
// Threading: open, append, close and the queries are called by one thread at a time (caller
// synchronises). closeAsync() finishes the file on a thread of its own, which the object joins when it
// is destroyed or opened again.
class CorvexisImage
{
public:
    static constexpr std::uint32_t kFormatMajor = 1;
    static constexpr std::uint32_t kFormatMinor = 0;
    static constexpr int kDefaultCompressionLevel = 1;

    struct Options
    {
        bool compression = false;
        int compressionLevel = kDefaultCompressionLevel;  // zstd level
        std::chrono::milliseconds flushInterval{1000};
    };

    // What the reader found besides the frames.
    struct ReadInfo
    {
        std::uint64_t frames = 0;            // intact frames returned
        std::uint64_t damagedFrames = 0;     // frame records whose checksum or content was wrong
        bool complete = false;               // the end record was found and names the frames written
        bool truncated = false;              // the file ends inside a record (a crash or a cut)
        std::uint64_t storedPixelBytes = 0;  // pixel bytes as stored (compressed or raw)
        std::uint64_t rawPixelBytes = 0;     // pixel bytes after decompression
        bool compressed = false;             // at least one frame was compressed
    };

    CorvexisImage();
    ~CorvexisImage();
    CorvexisImage(const CorvexisImage&) = delete;
    CorvexisImage& operator=(const CorvexisImage&) = delete;

    // Creates "<path>.part" and writes the header record from `set` (its frames are not written). False
    // with lastError() when a file is still open or it cannot be created.
    bool open(const std::string& path, const SharedImageSet& set, const Options& options);
    bool open(const std::string& path, const SharedImageSet& set, bool compression);
    bool isOpen() const { return fd_ >= 0; }

    // Appends one frame with its time (milliseconds) and components. False with lastError() when no file
    // is open, the pixels are not available in main memory or the write fails (the file then stays
    // readable up to the previous frame).
    bool append(const SharedImage& image, std::optional<double> timestampMs,
                const DataComponentList* components = nullptr);

    // Writes the end record, syncs and renames the file to its final name. False with lastError().
    bool close();
    // The same on a thread of its own; the future tells the outcome. The object may be opened again at
    // once (that waits for the previous close).
    std::shared_future<bool> closeAsync();

    const std::string& lastError() const { return lastError_; }
    std::uint64_t framesWritten() const { return frames_; }
    // Bytes written to the file so far.
    std::uint64_t bytesWritten() const { return bytes_; }
    // Pixel bytes appended, before compression.
    std::uint64_t rawPixelBytes() const { return rawPixels_; }
    const std::string& path() const { return path_; }

    // Reads a live file (or a ".part" file left by a crash) into a new set: every intact frame with its
    // time and components, the set's name, modality, properties and components. Null with *error when
    // the file is not a live image file, is of a newer major version, or its header record is damaged.
    static std::unique_ptr<SharedImageSet> load(const std::string& path, ReadInfo* info = nullptr,
                                                std::string* error = nullptr);
    static std::unique_ptr<SharedImageSet> load(ByteBufferView bytes, ReadInfo* info = nullptr,
                                                std::string* error = nullptr);
    // True when the first bytes are the live file's signature.
    static bool hasSignature(ByteBufferView firstBytes);

private:
    struct Compressor;

    bool writeRecord(std::uint32_t type, const ByteBuffer& head, const void* data, std::size_t size);
    void waitForClose();
    // Finishes an open file; runs on the closing thread for closeAsync().
    static bool finish(int fd, std::string partPath, std::string path, std::uint64_t frames,
                       std::string* error);

    int fd_ = -1;
    std::string path_;
    std::string partPath_;
    Options options_;
    std::unique_ptr<Compressor> compressor_;
    std::vector<unsigned char> compressed_;
    ByteBuffer head_;
    std::uint64_t frames_ = 0;
    std::uint64_t bytes_ = 0;
    std::uint64_t rawPixels_ = 0;
    std::chrono::steady_clock::time_point lastSync_;
    std::string lastError_;
    std::shared_future<bool> closing_;
    std::shared_ptr<std::string> closeError_;
};

}  // namespace Corvexis
