// Throughput of the data files against plain write()/read() of the same pixel bytes in the same folder:
// a 500-frame 640x480 8-bit image set with times saved to and loaded from a .cvx file, and appended to a
// live image file raw and zstd-compressed. Every writer, the plain one included, syncs its file to the
// disk and renames it into place at the end, so all pay for the same durability. Loads read from the
// page cache (the file was just written), as a recording opened right after saving is read.
//   bench_files [directory]      default: the system's temporary directory
// Prints FIGURE lines (MB/s of pixel bytes, best of five runs) and the ratios to the plain figures.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "Host/Core/MemImage.h"
#include "Host/Core/TypedImage.h"
#include "Host/Lib/Files/CorvexisFile.h"
#include "Host/Lib/Files/CorvexisImage.h"
#include "Host/Lib/SharedImageSet.h"

using namespace Corvexis;

namespace {

constexpr int kFrames = 500;
constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr int kRuns = 5;

double seconds(const std::function<void()>& work)
{
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// MB/s of `bytes` for one run of `work`.
double rate(double bytes, const std::function<void()>& work)
{
    return bytes / seconds(work) / 1e6;
}

// An ultrasound-like frame: a sector of smooth echoes with speckle on a black background, so that
// compression has realistic work.
std::unique_ptr<SharedImageSet> makeSet()
{
    auto set = std::make_unique<SharedImageSet>("bench");
    std::mt19937 rng(1);
    for (int f = 0; f < kFrames; ++f) {
        auto image = TypedImage<std::uint8_t>::create(kWidth, kHeight, 1, 1, false);
        std::uint8_t* p = image->pointer();
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) {
                const int dx = x - kWidth / 2;
                const bool inSector = y > 20 && std::abs(dx) * 10 < (y - 20) * 8 && y < kHeight - 10;
                const int base = ((x + f) / 8 + y / 6) % 160;
                p[y * kWidth + x] = inSector ? static_cast<std::uint8_t>(base + (rng() & 15)) : 0;
            }
        set->add(std::make_shared<SharedImage>(std::unique_ptr<MemImage>(std::move(image))),
                 1000.0 + f * 33.3);
    }
    return set;
}

void check(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "bench_files: %s failed\n", what);
        std::exit(1);
    }
}

void writeFully(int fd, const void* data, std::size_t size)
{
    const auto* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        check(n > 0, "write");
        p += n;
        size -= static_cast<std::size_t>(n);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    namespace fs = std::filesystem;
    const fs::path dir =
        fs::path(argc > 1 ? argv[1] : fs::temp_directory_path().string()) / "corvexis-bench-files";
    fs::create_directories(dir);
    const std::string cvx = (dir / "set.cvx").string();
    const std::string raw = (dir / "set.raw").string();
    const std::string live = (dir / "live.bin").string();

    const auto set = makeSet();
    const double bytes = static_cast<double>(set->byteSize());
    const std::size_t frameBytes = static_cast<std::size_t>(kWidth) * kHeight;

    const std::function<void()> rawWriteRun = [&] {
        const std::string tmp = raw + ".tmp";
        const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        check(fd >= 0, "open");
        for (int i = 0; i < kFrames; ++i)
            writeFully(fd, set->get(i)->mem()->data(), frameBytes);
        check(::fsync(fd) == 0, "fsync");
        ::close(fd);
        check(::rename(tmp.c_str(), raw.c_str()) == 0, "rename");
    };
    const std::function<void()> rawReadRun = [&] {
        const int fd = ::open(raw.c_str(), O_RDONLY | O_CLOEXEC);
        check(fd >= 0, "open");
        std::vector<std::unique_ptr<MemImage>> frames;
        for (int i = 0; i < kFrames; ++i) {
            frames.push_back(
                MemImage::create(ImageDescriptor(ImageDescriptor::kUByte, kWidth, kHeight), false));
            auto* p = static_cast<char*>(frames.back()->data());
            std::size_t left = frameBytes;
            while (left > 0) {
                const ssize_t n = ::read(fd, p, left);
                check(n > 0, "read");
                p += n;
                left -= static_cast<std::size_t>(n);
            }
        }
        ::close(fd);
    };

    CorvexisFile file;
    const std::function<void()> cvxSaveRun = [&] { check(file.save(DataList{set.get()}, cvx), "save"); };
    const std::function<void()> cvxLoadRun = [&] {
        auto items = file.load(cvx);
        check(items && items->size() == 1 && (*items)[0] != nullptr, "load");
    };

    auto appendAll = [&](bool compression) {
        CorvexisImage writer;
        check(writer.open(live, *set, compression), "open live");
        for (int i = 0; i < kFrames; ++i)
            check(writer.append(*set->get(i), set->timestamp(i)), "append");
        check(writer.close(), "close live");
    };

    // Round robin, so that each figure and its plain counterpart see the same machine load (the shared
    // machine's load changes from second to second); the best of kRuns rounds counts.
    double rawWrite = 0, rawRead = 0, cvxSave = 0, cvxLoad = 0, liveRaw = 0, liveZstd = 0;
    for (int round = 0; round < kRuns; ++round) {
        rawWrite = std::max(rawWrite, rate(bytes, rawWriteRun));
        cvxSave = std::max(cvxSave, rate(bytes, cvxSaveRun));
        liveRaw = std::max(liveRaw, rate(bytes, [&] { appendAll(false); }));
        liveZstd = std::max(liveZstd, rate(bytes, [&] { appendAll(true); }));
        rawRead = std::max(rawRead, rate(bytes, rawReadRun));
        cvxLoad = std::max(cvxLoad, rate(bytes, cvxLoadRun));
    }
    CorvexisImage::ReadInfo info;
    check(CorvexisImage::load(live, &info) != nullptr && info.frames == kFrames, "load live");
    const double ratio = static_cast<double>(info.rawPixelBytes) / static_cast<double>(info.storedPixelBytes);

    std::printf("FIGURE raw_write_MBps %.0f MB/s\n", rawWrite);
    std::printf("FIGURE raw_read_MBps %.0f MB/s\n", rawRead);
    std::printf("FIGURE cvx_save_MBps %.0f MB/s\n", cvxSave);
    std::printf("FIGURE cvx_load_MBps %.0f MB/s\n", cvxLoad);
    std::printf("FIGURE live_append_MBps %.0f MB/s\n", liveRaw);
    std::printf("FIGURE live_append_zstd_MBps %.0f MB/s\n", liveZstd);
    std::printf("FIGURE live_zstd_ratio %.2f x\n", ratio);
    std::printf("FIGURE cvx_save_vs_raw %.2f x\n", cvxSave / rawWrite);
    std::printf("FIGURE cvx_load_vs_raw %.2f x\n", cvxLoad / rawRead);
    std::printf("FIGURE live_append_vs_raw %.2f x\n", liveRaw / rawWrite);

    fs::remove_all(dir);
    return 0;
}
