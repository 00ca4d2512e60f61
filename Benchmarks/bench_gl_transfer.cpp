// Throughput of image transfers between main memory and the graphics card through GlImage, on a thread
// with its own context (as a stream worker has), against memcpy of the same bytes in the same run as
// the limit. Each transfer is timed to completion (glFinish after uploads; downloads are synchronous).
//
// Prints, for 1920 x 1080 RGBA 8-bit and a 512 x 512 x 64 unsigned 16-bit volume:
//   FIGURE gl_upload_<case>_MBps <value> MB/s
//   FIGURE gl_download_<case>_MBps <value> MB/s
//   FIGURE memcpy_<case>_MBps <value> MB/s
// with <case> rgba8_1080p and r16_vol (MB = 10^6 bytes). Optional argument: seconds per measurement
// (default 0.5). Without OpenGL it says why and prints no GL figures.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "Host/Core/MemImage.h"
#include "Host/GL/ContextManager.h"
#include "Host/GL/Flush.h"
#include "Host/GL/GlImage.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace Corvexis;

// Repeats `step` for at least `seconds` (and at least 3 times); returns the rate in MB/s.
double measure(double seconds, std::size_t bytes, const std::function<void()>& step)
{
    step();  // warm-up: first-touch page faults, driver allocations
    int count = 0;
    const auto start = Clock::now();
    double elapsed = 0.0;
    do {
        step();
        ++count;
        elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    } while (elapsed < seconds || count < 3);
    return static_cast<double>(bytes) * count / elapsed / 1e6;
}

bool runCase(const char* name, const ImageDescriptor& descriptor, double seconds)
{
    auto source = MemImage::create(descriptor);
    auto target = MemImage::create(descriptor);
    auto gl = GlImage::create(descriptor);
    if (!source || !target || !gl) {
        std::fprintf(stderr, "bench_gl_transfer: cannot allocate %s\n", descriptor.toString().c_str());
        return false;
    }
    auto* bytes = static_cast<unsigned char*>(source->data());
    for (std::size_t i = 0; i < source->byteSize(); ++i)
        bytes[i] = static_cast<unsigned char>(i * 131u);
    const std::size_t size = source->byteSize();

    const double upload = measure(seconds, size, [&] {
        gl->upload(*source);
        GL::finish();
    });
    const double download = measure(seconds, size, [&] { gl->download(*target); });
    const double copy = measure(seconds, size, [&] {
        std::memcpy(target->data(), source->data(), size);
        // Keeps the copy from being optimised away.
        if (static_cast<volatile unsigned char*>(target->data())[size / 2] != bytes[size / 2])
            std::abort();
    });
    if (!target->hasSamePixels(*source)) {
        std::fprintf(stderr, "bench_gl_transfer: %s round trip is not exact\n", name);
        return false;
    }
    std::printf("FIGURE gl_upload_%s_MBps %.1f MB/s\n", name, upload);
    std::printf("FIGURE gl_download_%s_MBps %.1f MB/s\n", name, download);
    std::printf("FIGURE memcpy_%s_MBps %.1f MB/s\n", name, copy);
    std::fflush(stdout);
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    const double seconds = argc > 1 ? std::atof(argv[1]) : 0.5;
    auto& manager = GL::ContextManager::get();
    if (!manager.isAvailable()) {
        std::fprintf(stderr, "bench_gl_transfer: no OpenGL (%s)\n", manager.unavailableReason().c_str());
        return 1;
    }
    std::fprintf(stderr, "bench_gl_transfer: %s\n", manager.renderer().c_str());
    bool ok = true;
    std::thread worker([&] {
        auto context = manager.createContext();
        if (!context) {
            ok = false;
            return;
        }
        ok =
            runCase("rgba8_1080p", ImageDescriptor(ImageDescriptor::kUByte, 1920, 1080, 1, 4), seconds) && ok;
        ok = runCase("r16_vol", ImageDescriptor(ImageDescriptor::kUShort, 512, 512, 64, 1), seconds) && ok;
    });
    worker.join();
    return ok ? 0 : 1;
}
