#include "Host/Lib/Files/ByteStreams.h"

#include <algorithm>
#include <cerrno>

#include <unistd.h>

#include "Host/Lib/Files/Crc32c.h"

namespace Corvexis::Files {

namespace {
constexpr std::size_t kBufferBytes = std::size_t{1} << 20;
constexpr std::size_t kDirectBytes = std::size_t{256} << 10;
// The read buffer is small on purpose: a refill for a few header fields reads ahead into the pixels
// that follow, and every byte read ahead is copied twice. 16 KiB keeps that under a few percent of a
// frame while small fields still cost one system call per 16 KiB.
constexpr std::size_t kReadBufferBytes = std::size_t{16} << 10;
}  // namespace

ByteSink::~ByteSink() = default;

bool ByteSink::str(const std::string& s)
{
    return u32(static_cast<std::uint32_t>(s.size())) && write(s.data(), s.size());
}

bool ByteSink::mat4(const Eigen::Matrix4d& m)
{
    double values[16];
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            values[r * 4 + c] = m(r, c);
    return write(values, sizeof(values));
}

bool BufferSink::write(const void* data, std::size_t size)
{
    if (size == 0)
        return true;
    buffer_.append(data, size);
    return true;
}

bool CrcSink::write(const void* data, std::size_t size)
{
    crc_ = crc32cUpdate(crc_, data, size);
    return next_.write(data, size);
}

FileSink::FileSink(int fd) : fd_(fd), buffer_(kBufferBytes) {}

FileSink::~FileSink() = default;

bool FileSink::writeAll(const void* data, std::size_t size)
{
    const auto* p = static_cast<const unsigned char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd_, p, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            failed_ = true;
            error_ = errno;
            return false;
        }
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool FileSink::write(const void* data, std::size_t size)
{
    if (failed_)
        return false;
    if (size == 0)
        return true;
    if (size >= kDirectBytes) {
        return flush() && writeAll(data, size);
    }
    if (used_ + size > buffer_.size() && !flush())
        return false;
    std::memcpy(buffer_.data() + used_, data, size);
    used_ += size;
    return true;
}

bool FileSink::flush()
{
    if (failed_)
        return false;
    const std::size_t n = used_;
    used_ = 0;
    return n == 0 || writeAll(buffer_.data(), n);
}

ByteSource::~ByteSource() = default;

bool ByteSource::str(std::string& s)
{
    std::uint32_t n = 0;
    if (!u32(n) || n > remaining())
        return false;
    s.resize(n);
    return read(s.data(), n);
}

bool ByteSource::mat4(Eigen::Matrix4d& m)
{
    double values[16];
    if (!read(values, sizeof(values)))
        return false;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            m(r, c) = values[r * 4 + c];
    return true;
}

bool MemorySource::read(void* data, std::size_t size)
{
    if (size > remaining())
        return false;
    if (size > 0)
        std::memcpy(data, view_.data() + pos_, size);
    pos_ += size;
    return true;
}

bool MemorySource::skip(std::uint64_t size)
{
    if (size > remaining())
        return false;
    pos_ += static_cast<std::size_t>(size);
    return true;
}

FileSource::FileSource(int fd, std::uint64_t size) : fd_(fd), remaining_(size) {}

FileSource::~FileSource() = default;

bool FileSource::fill(void* data, std::size_t size)
{
    auto* p = static_cast<unsigned char*>(data);
    while (size > 0) {
        const ssize_t n = ::read(fd_, p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error_ = n < 0 ? errno : EIO;  // a file that shrank while being read
            return false;
        }
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool FileSource::read(void* data, std::size_t size)
{
    if (size > remaining_ || error_ != 0)
        return false;
    auto* out = static_cast<unsigned char*>(data);
    const std::size_t buffered = std::min(size, end_ - begin_);
    if (buffered > 0) {
        std::memcpy(out, buffer_.data() + begin_, buffered);
        begin_ += buffered;
        out += buffered;
    }
    std::size_t rest = size - buffered;
    remaining_ -= size;
    if (rest == 0)
        return true;
    if (rest >= kReadBufferBytes)
        return fill(out, rest);
    if (buffer_.empty())
        buffer_.resize(kReadBufferBytes);
    // remaining_ already excludes this read, so the refill may take up to rest + remaining_ bytes.
    const std::size_t want =
        static_cast<std::size_t>(std::min<std::uint64_t>(kReadBufferBytes, rest + remaining_));
    if (!fill(buffer_.data(), want))
        return false;
    std::memcpy(out, buffer_.data(), rest);
    begin_ = rest;
    end_ = want;
    return true;
}

bool FileSource::skip(std::uint64_t size)
{
    if (size > remaining_ || error_ != 0)
        return false;
    const std::uint64_t buffered = std::min<std::uint64_t>(size, end_ - begin_);
    begin_ += static_cast<std::size_t>(buffered);
    const std::uint64_t rest = size - buffered;
    remaining_ -= size;
    if (rest > 0 && ::lseek(fd_, static_cast<off_t>(rest), SEEK_CUR) < 0) {
        error_ = errno;
        return false;
    }
    return true;
}

bool ChunkSource::read(void* data, std::size_t size)
{
    if (size == 0)
        return true;
    if (size > remaining_ || !next_.read(data, size))
        return false;
    remaining_ -= size;
    crc_ = crc32cUpdate(crc_, data, size);
    return true;
}

bool ChunkSource::skip(std::uint64_t size)
{
    unsigned char scratch[16384];
    while (size > 0) {
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(size, sizeof(scratch)));
        if (!read(scratch, n))
            return false;
        size -= n;
    }
    return true;
}

}  // namespace Corvexis::Files
