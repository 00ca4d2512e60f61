#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <Eigen/Core>

#include "Host/Core/ByteBuffer.h"

// Byte sinks and sources for the data-file formats: little-endian primitives over memory or a file,
// with a checksumming, length-limited view for one chunk. These are small cooperating classes of one
// concern, kept in one header on purpose. Every class here: caller synchronises.
namespace Corvexis::Files {

static_assert(std::endian::native == std::endian::little, "the file codecs assume a little-endian machine");

// Where encoded bytes go. Errors are sticky: after the first failed write every write fails.
class ByteSink
{
public:
    virtual ~ByteSink();
    // False when the bytes could not be taken (and from then on).
    virtual bool write(const void* data, std::size_t size) = 0;

    bool u8(std::uint8_t v) { return write(&v, 1); }
    bool u16(std::uint16_t v) { return write(&v, 2); }
    bool u32(std::uint32_t v) { return write(&v, 4); }
    bool u64(std::uint64_t v) { return write(&v, 8); }
    bool i32(std::int32_t v) { return write(&v, 4); }
    bool i64(std::int64_t v) { return write(&v, 8); }
    bool f64(double v) { return write(&v, 8); }
    // u32 byte count, then the bytes.
    bool str(const std::string& s);
    // 16 f64, row by row.
    bool mat4(const Eigen::Matrix4d& m);
};

// Counts what would be written (the size pass before a chunk's header is written).
class CountingSink : public ByteSink
{
public:
    bool write(const void*, std::size_t size) override
    {
        count_ += size;
        return true;
    }
    std::uint64_t count() const { return count_; }

private:
    std::uint64_t count_ = 0;
};

// Appends to a ByteBuffer.
class BufferSink : public ByteSink
{
public:
    explicit BufferSink(ByteBuffer& buffer) : buffer_(buffer) {}
    bool write(const void* data, std::size_t size) override;

private:
    ByteBuffer& buffer_;
};

// Passes bytes on to another sink and keeps their CRC-32C.
class CrcSink : public ByteSink
{
public:
    explicit CrcSink(ByteSink& next) : next_(next) {}
    bool write(const void* data, std::size_t size) override;
    std::uint32_t crc() const { return crc_; }

private:
    ByteSink& next_;
    std::uint32_t crc_ = 0;
};

// Writes to an open file descriptor (not owned) through a 1 MiB buffer; large blocks (pixel data) go
// to the kernel directly, without a copy.
class FileSink : public ByteSink
{
public:
    explicit FileSink(int fd);
    ~FileSink() override;
    bool write(const void* data, std::size_t size) override;
    // Hands buffered bytes to the kernel. False on a write error (and from then on).
    bool flush();
    bool failed() const { return failed_; }
    // errno of the first failure, 0 when none.
    int error() const { return error_; }

private:
    bool writeAll(const void* data, std::size_t size);

    int fd_;
    std::vector<unsigned char> buffer_;
    std::size_t used_ = 0;
    bool failed_ = false;
    int error_ = 0;
};

// Where encoded bytes come from. A read never returns fewer bytes than asked: it fails instead.
class ByteSource
{
public:
    virtual ~ByteSource();
    // Reads exactly `size` bytes; false (nothing promised about `data`) when fewer remain or on an error.
    virtual bool read(void* data, std::size_t size) = 0;
    // Skips `size` bytes; false when fewer remain.
    virtual bool skip(std::uint64_t size) = 0;
    // Bytes left before the end of the source.
    virtual std::uint64_t remaining() const = 0;

    bool u8(std::uint8_t& v) { return read(&v, 1); }
    bool u16(std::uint16_t& v) { return read(&v, 2); }
    bool u32(std::uint32_t& v) { return read(&v, 4); }
    bool u64(std::uint64_t& v) { return read(&v, 8); }
    bool i32(std::int32_t& v) { return read(&v, 4); }
    bool i64(std::int64_t& v) { return read(&v, 8); }
    bool f64(double& v) { return read(&v, 8); }
    // A u32 byte count checked against remaining() before anything is allocated, then the bytes.
    bool str(std::string& s);
    bool mat4(Eigen::Matrix4d& m);
};

// Reads from a borrowed view.
class MemorySource : public ByteSource
{
public:
    explicit MemorySource(ByteBufferView view) : view_(view) {}
    bool read(void* data, std::size_t size) override;
    bool skip(std::uint64_t size) override;
    std::uint64_t remaining() const override { return view_.size() - pos_; }
    std::uint64_t position() const { return pos_; }

private:
    ByteBufferView view_;
    std::size_t pos_ = 0;
};

// Reads an open file descriptor (not owned) from its current offset to the size it had when the source
// was made, through a 16 KiB buffer; larger reads go straight into the destination.
class FileSource : public ByteSource
{
public:
    // `size`: the bytes from the current offset to the end.
    FileSource(int fd, std::uint64_t size);
    ~FileSource() override;
    bool read(void* data, std::size_t size) override;
    bool skip(std::uint64_t size) override;
    std::uint64_t remaining() const override { return remaining_; }
    // errno of the first failure, 0 when none.
    int error() const { return error_; }

private:
    bool fill(void* data, std::size_t size);

    int fd_;
    std::uint64_t remaining_;
    std::vector<unsigned char> buffer_;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    int error_ = 0;
};

// A length-limited window on another source that keeps the CRC-32C of what passes through it: the
// payload of one chunk. Skipped bytes are read (and checksummed), so that a reader that stops early can
// still verify the chunk.
class ChunkSource : public ByteSource
{
public:
    ChunkSource(ByteSource& next, std::uint64_t length, std::uint32_t initialCrc)
        : next_(next), remaining_(length), crc_(initialCrc)
    {
    }
    bool read(void* data, std::size_t size) override;
    bool skip(std::uint64_t size) override;
    std::uint64_t remaining() const override { return remaining_; }
    std::uint32_t crc() const { return crc_; }

private:
    ByteSource& next_;
    std::uint64_t remaining_;
    std::uint32_t crc_;
};

}  // namespace Corvexis::Files
