// Frame rates of the simulated image picture: the OpenMP main-memory painter and the compute-shader
// painter, each against a memset of the same frame bytes (the physical limit of writing a frame), and
// the simulated stream's pacing at 30 fps over 10 s.
//
// FIGURE paint_cpu_<W>x<H>x<C>_fps, paint_gl_<W>x<H>x<C>_fps, memset_<W>x<H>x<C>_fps (frames per second);
// FIGURE fake_image_30fps_10s_records (records), fake_image_30fps_rate (the stream's rate meter, Hz).
// Goal: paint_cpu_1920x1080x1_fps >= 10 % of memset_1920x1080x1_fps on 2 cores.

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Host/Core/ImageDescriptor.h"
#include "Host/Core/MemImage.h"
#include "Host/Core/Random.h"
#include "Host/GL/ContextManager.h"
#include "Host/GL/Flush.h"
#include "Host/GL/GlImage.h"
#include "Stream/FakeImageCpuPainter.h"
#include "Stream/FakeImageFrame.h"
#include "Stream/FakeImageGlPainter.h"
#include "Stream/FakeImageStream.h"
#include "Stream/StreamData.h"

using namespace Corvexis;
using Clock = std::chrono::steady_clock;

namespace {

constexpr auto kMeasureTime = std::chrono::milliseconds(400);

// Runs `frame(i)` until kMeasureTime has passed (at least 3 times), then `finish()`; frames per second.
double rate(const std::function<void(int)>& frame, const std::function<void()>& finish = [] {})
{
    frame(0);  // warm-up: allocations, shader compilation, first touch of the pages
    finish();
    const auto start = Clock::now();
    int count = 0;
    while (count < 3 || Clock::now() - start < kMeasureTime)
        frame(++count);
    finish();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return count / seconds;
}

void figure(const std::string& name, double value, const char* unit)
{
    std::printf("FIGURE %s %.1f %s\n", name.c_str(), value, unit);
    std::fflush(stdout);
}

FakeImageFrame frameFor(const ImageDescriptor& d, int counter)
{
    Random::Generator generator(0);
    return FakeImageFrame::compute(d, counter, 0, generator);
}

void paintRates(int width, int height, int channels, bool openGl)
{
    const ImageDescriptor d(ImageDescriptor::kUByte, width, height, 1, channels);
    const std::string suffix = std::to_string(width) + "x" + std::to_string(height) + "x" + std::to_string(channels);

    std::vector<unsigned char> bytes(d.byteSize());
    volatile unsigned char sink = 0;
    figure("memset_" + suffix + "_fps", rate([&](int i) {
               std::memset(bytes.data(), i & 0xFF, bytes.size());
               sink = sink + bytes[static_cast<std::size_t>(i) % bytes.size()];
           }),
           "fps");

    auto image = MemImage::create(d);
    figure("paint_cpu_" + suffix + "_fps",
           rate([&](int i) { FakeImageCpuPainter::paint(*image, frameFor(d, i % 360)); }), "fps");

    if (!openGl)
        return;
    auto glImage = GlImage::create(d);
    FakeImageGlPainter painter;
    if (!glImage)
        return;
    figure("paint_gl_" + suffix + "_fps",
           rate([&](int i) { painter.paint(*glImage, frameFor(d, i % 360)); }, [] { GL::finish(); }), "fps");
}

void streamRate()
{
    FakeImageStream stream;
    std::atomic<int> records{0};
    auto connection =
        stream.signalStreamData.connect([&](const std::shared_ptr<const StreamData>&) { records.fetch_add(1); });
    if (!stream.start()) {
        std::printf("# the simulated stream did not start\n");
        return;
    }
    std::this_thread::sleep_for(std::chrono::seconds(10));
    const double meter = stream.updateRate();
    stream.stop();
    const int count = records.load();
    stream.close();
    figure("fake_image_30fps_10s_records", count, "records");
    figure("fake_image_30fps_rate", meter, "Hz");
}

}  // namespace

int main()
{
    auto& manager = GL::ContextManager::get();
    std::unique_ptr<GL::Context> context;
    if (manager.isAvailable())
        context = manager.createContext();
    const bool openGl = context != nullptr;
    std::printf("# OpenGL: %s; OpenMP threads: %u hardware\n",
                openGl ? manager.renderer().c_str() : "not available, GL figures skipped",
                std::thread::hardware_concurrency());

    paintRates(100, 100, 1, openGl);
    paintRates(640, 480, 3, openGl);
    paintRates(1920, 1080, 1, openGl);
    paintRates(1920, 1080, 3, openGl);
    streamRate();
    return 0;
}
