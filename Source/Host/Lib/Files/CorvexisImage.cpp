#include "Host/Lib/Files/CorvexisImage.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>
#include <zstd.h>

#include "Host/Core/DataComponentList.h"
#include "Host/Core/Log.h"
#include "Host/Core/MemImage.h"
#include "Host/Lib/Files/AtomicFileWriter.h"
#include "Host/Lib/Files/ByteStreams.h"
#include "Host/Lib/Files/ChunkFraming.h"
#include "Host/Lib/Files/Crc32c.h"
#include "Host/Lib/Files/DataItemCodec.h"
#include "Host/Lib/SharedImageSet.h"

namespace Corvexis {

namespace {

constexpr char kMagic[9] =
    "\x89"
    "CVL\r\n\x1a\n";
constexpr std::uint32_t kRecordHeader = Files::fourcc("LHDR");
constexpr std::uint32_t kRecordFrame = Files::fourcc("FRAM");
constexpr std::uint32_t kRecordEnd = Files::fourcc("LEND");
constexpr std::uint8_t kCodecRaw = 0;
constexpr std::uint8_t kCodecZstd = 1;

std::string errnoText(const std::string& what)
{
    return what + ": " + std::strerror(errno);
}

bool writeFully(int fd, iovec* iov, int count)
{
    while (count > 0) {
        const ssize_t n = ::writev(fd, iov, count);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        auto left = static_cast<std::size_t>(n);
        while (count > 0 && left >= iov->iov_len) {
            left -= iov->iov_len;
            ++iov;
            --count;
        }
        if (count > 0) {
            iov->iov_base = static_cast<char*>(iov->iov_base) + left;
            iov->iov_len -= left;
        }
    }
    return true;
}

}  // namespace

struct CorvexisImage::Compressor
{
    ZSTD_CCtx* ctx = ZSTD_createCCtx();
    ~Compressor() { ZSTD_freeCCtx(ctx); }
};

CorvexisImage::CorvexisImage() = default;

CorvexisImage::~CorvexisImage()
{
    if (isOpen())
        close();
    waitForClose();
}

bool CorvexisImage::hasSignature(ByteBufferView firstBytes)
{
    return firstBytes.size() >= 8 && std::memcmp(firstBytes.data(), kMagic, 8) == 0;
}

void CorvexisImage::waitForClose()
{
    if (closing_.valid())
        closing_.wait();
}

bool CorvexisImage::open(const std::string& path, const SharedImageSet& set, bool compression)
{
    Options options;
    options.compression = compression;
    return open(path, set, options);
}

bool CorvexisImage::open(const std::string& path, const SharedImageSet& set, const Options& options)
{
    if (isOpen()) {
        lastError_ = "a file is still open: " + path_;
        return false;
    }
    waitForClose();
    const std::string part = path + ".part";
    const int fd = ::open(part.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        lastError_ = errnoText("cannot create " + part);
        return false;
    }
    fd_ = fd;
    path_ = path;
    partPath_ = part;
    options_ = options;
    frames_ = 0;
    bytes_ = 0;
    rawPixels_ = 0;
    lastError_.clear();
    if (options_.compression && !compressor_)
        compressor_ = std::make_unique<Compressor>();

    // The signature, version and header record go out in one write.
    ByteBuffer first;
    Files::BufferSink sink(first);
    Files::writeFileHeader(sink, kMagic, kFormatMajor, kFormatMinor);
    const bool encoded = Files::writeChunk(sink, kRecordHeader, [&set](Files::ByteSink& out) {
        Properties components("Components");
        set.components().configuration(&components);
        return out.str(set.name()) && out.i32(static_cast<std::int32_t>(set.modality())) &&
               Files::encodeProperties(out, set.properties()) && Files::encodeProperties(out, components);
    });
    iovec iov{first.data(), first.size()};
    if (!encoded || !writeFully(fd_, &iov, 1)) {
        lastError_ = errnoText("cannot write " + part);
        ::close(fd_);
        ::unlink(part.c_str());
        fd_ = -1;
        return false;
    }
    Files::syncParentDirectory(part);
    bytes_ = first.size();
    lastSync_ = std::chrono::steady_clock::now();
    return true;
}

bool CorvexisImage::writeRecord(std::uint32_t type, const ByteBuffer& head, const void* data,
                                std::size_t size)
{
    // One record in one writev: chunk header | head | data | CRC of all before it. The pixels go to the
    // kernel from where they are, without a copy.
    unsigned char header[Files::kChunkHeaderBytes];
    const std::uint32_t flags = 0;
    const std::uint64_t length = head.size() + size;
    std::memcpy(header, &type, 4);
    std::memcpy(header + 4, &flags, 4);
    std::memcpy(header + 8, &length, 8);
    std::uint32_t crc = Files::crc32cUpdate(0, header, sizeof(header));
    crc = Files::crc32cUpdate(crc, head.data(), head.size());
    crc = Files::crc32cUpdate(crc, data, size);
    iovec iov[4] = {{header, sizeof(header)},
                    {const_cast<std::uint8_t*>(head.data()), head.size()},
                    {const_cast<void*>(data), size},
                    {&crc, sizeof(crc)}};
    if (!writeFully(fd_, iov, 4)) {
        lastError_ = errnoText("cannot write " + partPath_);
        return false;
    }
    bytes_ += sizeof(header) + length + sizeof(crc);
    return true;
}

bool CorvexisImage::append(const SharedImage& image, std::optional<double> timestampMs,
                           const DataComponentList* components)
{
    if (!isOpen()) {
        lastError_ = "no file is open";
        return false;
    }
    const MemImage* mem = image.mem();
    if (!mem) {
        lastError_ = "the frame's pixels are not available in main memory";
        return false;
    }
    const ImageDescriptor& d = image.descriptor();
    const bool compress = options_.compression && d.typeSize() == 1;
    const void* data = mem->data();
    std::size_t size = mem->byteSize();
    if (compress) {
        compressed_.resize(ZSTD_compressBound(size));
        const std::size_t n = ZSTD_compressCCtx(compressor_->ctx, compressed_.data(), compressed_.size(),
                                                data, size, options_.compressionLevel);
        if (ZSTD_isError(n)) {
            lastError_ = std::string("compression failed: ") + ZSTD_getErrorName(n);
            return false;
        }
        data = compressed_.data();
        size = n;
    }

    head_.clear();
    Files::BufferSink sink(head_);
    Properties frameComponents("Components");
    if (components)
        components->configuration(&frameComponents);
    const bool encoded =
        sink.u64(frames_) && sink.u8(timestampMs ? 1 : 0) && sink.f64(timestampMs.value_or(0.0)) &&
        sink.i32(d.pixelType) && sink.i32(d.width) && sink.i32(d.height) && sink.i32(d.slices) &&
        sink.i32(d.channels) && sink.f64(d.spacing.x()) && sink.f64(d.spacing.y()) &&
        sink.f64(d.spacing.z()) && sink.u8(image.isMetric() ? 1 : 0) && sink.mat4(image.matrix()) &&
        Files::encodeProperties(sink, frameComponents) && sink.u8(compress ? kCodecZstd : kCodecRaw) &&
        sink.u64(mem->byteSize()) && sink.u64(size);
    if (!encoded || !writeRecord(kRecordFrame, head_, data, size))
        return false;
    ++frames_;
    rawPixels_ += mem->byteSize();
    const auto now = std::chrono::steady_clock::now();
    if (now - lastSync_ >= options_.flushInterval) {
        ::fdatasync(fd_);
        lastSync_ = now;
    }
    return true;
}

bool CorvexisImage::finish(int fd, std::string partPath, std::string path, std::uint64_t frames,
                           std::string* error)
{
    ByteBuffer end;
    Files::BufferSink sink(end);
    Files::writeChunk(sink, kRecordEnd, &frames, sizeof(frames));
    iovec iov{end.data(), end.size()};
    bool ok = writeFully(fd, &iov, 1);
    if (!ok && error)
        *error = errnoText("cannot write " + partPath);
    if (ok && ::fsync(fd) != 0) {
        ok = false;
        if (error)
            *error = errnoText("cannot sync " + partPath);
    }
    ::close(fd);
    if (ok && ::rename(partPath.c_str(), path.c_str()) != 0) {
        ok = false;
        if (error)
            *error = errnoText("cannot rename " + partPath + " to " + path);
    }
    if (ok)
        Files::syncParentDirectory(path);
    else if (error)
        Log::log(Log::Level::Error, "CorvexisImage", "Could not finish " + path + ": " + *error);
    return ok;
}

bool CorvexisImage::close()
{
    if (!isOpen()) {
        lastError_ = "no file is open";
        return false;
    }
    const int fd = fd_;
    fd_ = -1;
    return finish(fd, partPath_, path_, frames_, &lastError_);
}

std::shared_future<bool> CorvexisImage::closeAsync()
{
    if (!isOpen()) {
        lastError_ = "no file is open";
        std::promise<bool> refused;
        refused.set_value(false);
        return refused.get_future().share();
    }
    const int fd = fd_;
    fd_ = -1;
    closeError_ = std::make_shared<std::string>();
    closing_ = std::async(std::launch::async, [fd, part = partPath_, path = path_, frames = frames_,
                                               error = closeError_] {
                   return finish(fd, part, path, frames, error.get());
               }).share();
    return closing_;
}

namespace {

std::unique_ptr<SharedImageSet> readLive(Files::ByteSource& in, CorvexisImage::ReadInfo* info,
                                         std::string* error)
{
    CorvexisImage::ReadInfo local;
    CorvexisImage::ReadInfo& r = info ? *info : local;
    r = {};
    std::uint32_t major = 0;
    std::uint32_t minor = 0;
    if (!Files::readFileHeader(in, kMagic, major, minor, error))
        return nullptr;
    if (major > CorvexisImage::kFormatMajor) {
        if (error)
            *error = "format version " + std::to_string(major) + "." + std::to_string(minor) +
                     " is newer than this reader";
        return nullptr;
    }

    auto set = std::make_unique<SharedImageSet>();
    Files::ChunkHeader header;
    std::uint32_t crc = 0;
    if (Files::readChunkHeader(in, header, crc) != Files::ChunkStatus::Ok || header.type != kRecordHeader) {
        if (error)
            *error = "the header record is missing or cut short";
        return nullptr;
    }
    {
        Files::ChunkSource payload(in, header.length, crc);
        std::string name;
        std::int32_t modality = 0;
        Properties components;
        std::string why;
        const bool ok = payload.str(name) && payload.i32(modality) && modality >= 0 &&
                        modality <= static_cast<int>(Data::Modality::DistanceMap) &&
                        Files::decodeProperties(payload, set->properties(), &why) &&
                        Files::decodeProperties(payload, components, &why);
        if (!payload.skip(payload.remaining()) || !Files::finishChunk(in, payload.crc()) || !ok) {
            if (error)
                *error = "the header record is damaged";
            return nullptr;
        }
        set->setName(name);
        set->setModality(static_cast<Data::Modality>(modality));
        set->components().configure(&components);
    }

    ZSTD_DCtx* dctx = nullptr;
    while (true) {
        const Files::ChunkStatus status = Files::readChunkHeader(in, header, crc);
        if (status == Files::ChunkStatus::End) {
            r.truncated = true;  // no end record: the writer did not close the file
            break;
        }
        if (status == Files::ChunkStatus::Truncated) {
            r.truncated = true;
            break;
        }
        Files::ChunkSource payload(in, header.length, crc);
        if (header.type == kRecordEnd) {
            std::uint64_t count = 0;
            const bool ok =
                payload.u64(count) && payload.remaining() == 0 && Files::finishChunk(in, payload.crc());
            r.complete = ok && count == r.frames + r.damagedFrames;
            break;
        }
        // A frame record (or one this reader does not know, skipped by its length).
        std::shared_ptr<SharedImage> frame;
        std::optional<double> timeMs;
        DataComponentList components;
        std::uint64_t stored = 0;
        std::uint64_t raw = 0;
        std::uint8_t codec = 0;
        bool ok = header.type == kRecordFrame;
        if (ok) {
            std::uint64_t index = 0;
            std::uint8_t hasTime = 0;
            double t = 0;
            ImageDescriptor d;
            double sx = 0;
            double sy = 0;
            double sz = 0;
            std::uint8_t metric = 0;
            Eigen::Matrix4d m;
            Properties componentBlock;
            ok = payload.u64(index) && payload.u8(hasTime) && hasTime <= 1 && payload.f64(t) &&
                 payload.i32(d.pixelType) && payload.i32(d.width) && payload.i32(d.height) &&
                 payload.i32(d.slices) && payload.i32(d.channels) && payload.f64(sx) && payload.f64(sy) &&
                 payload.f64(sz) && payload.u8(metric) && metric <= 1 && payload.mat4(m) && m.allFinite() &&
                 Files::decodeProperties(payload, componentBlock, nullptr) && payload.u8(codec) &&
                 payload.u64(raw) && payload.u64(stored) && stored == payload.remaining();
            d.spacing = Eigen::Vector3d(sx, sy, sz);
            const std::optional<std::size_t> expected = ok ? d.checkedByteSize() : std::nullopt;
            ok = ok && expected && raw == *expected &&
                 (codec == kCodecZstd || (codec == kCodecRaw && stored == raw));
            std::unique_ptr<MemImage> pixels = ok ? MemImage::create(d, false) : nullptr;
            ok = ok && pixels != nullptr;
            if (ok && codec == kCodecRaw) {
                ok = payload.read(pixels->data(), pixels->byteSize());
            } else if (ok) {
                std::vector<unsigned char> packed(static_cast<std::size_t>(stored));
                ok = payload.read(packed.data(), packed.size());
                if (ok) {
                    if (!dctx)
                        dctx = ZSTD_createDCtx();
                    const std::size_t n = ZSTD_decompressDCtx(dctx, pixels->data(), pixels->byteSize(),
                                                              packed.data(), packed.size());
                    ok = !ZSTD_isError(n) && n == pixels->byteSize();
                }
            }
            if (ok) {
                frame = std::make_shared<SharedImage>(std::move(pixels));
                frame->setSpacing(d.spacing, metric != 0);
                frame->setMatrix(m);
                components.configure(&componentBlock);
                if (hasTime)
                    timeMs = t;
            }
        }
        const bool skipped = payload.skip(payload.remaining());
        const bool crcOk = skipped && Files::finishChunk(in, payload.crc());
        if (!skipped) {
            r.truncated = true;
            break;
        }
        if (header.type != kRecordFrame && crcOk)
            continue;  // a record of a later minor version
        if (!crcOk || !ok) {
            ++r.damagedFrames;
            continue;
        }
        set->add(frame, timeMs);
        set->elementwiseComponents()[static_cast<std::size_t>(set->size() - 1)] = std::move(components);
        ++r.frames;
        r.storedPixelBytes += stored;
        r.rawPixelBytes += raw;
        r.compressed = r.compressed || codec == kCodecZstd;
    }
    ZSTD_freeDCtx(dctx);
    return set;
}

}  // namespace

std::unique_ptr<SharedImageSet> CorvexisImage::load(ByteBufferView bytes, ReadInfo* info, std::string* error)
{
    Files::MemorySource source(bytes);
    return readLive(source, info, error);
}

std::unique_ptr<SharedImageSet> CorvexisImage::load(const std::string& path, ReadInfo* info,
                                                    std::string* error)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (error)
            *error = errnoText("cannot open " + path);
        return nullptr;
    }
    struct stat st
    {
    };
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (error)
            *error = path + " is not a regular file";
        ::close(fd);
        return nullptr;
    }
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    Files::FileSource source(fd, static_cast<std::uint64_t>(st.st_size));
    std::unique_ptr<SharedImageSet> set = readLive(source, info, error);
    ::close(fd);
    return set;
}

}  // namespace Corvexis
