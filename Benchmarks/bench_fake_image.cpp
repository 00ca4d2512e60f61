// Frame rates of the simulated image picture: the vectorised main-memory painter and the compute-shader
// painter, each against a memset of the same frame bytes (the physical limit of writing a frame), and
// the simulated stream's pacing at 30 fps over 10 s.
//
// FIGURE paint_cpu_<W>x<H>x<C>_fps, paint_gl_<W>x<H>x<C>_fps, memset_<W>x<H>x<C>_fps (frames per second);
// FIGURE fake_image_30fps_10s_records (records), fake_image_30fps_rate (the stream's rate meter read once,
// after 10 s, Hz), fake_image_30fps_rate_median (the median of the meter read at every record after the
// first eleven, Hz).
// Goal: paint_cpu_1920x1080x1_fps >= 10 % of memset_1920x1080x1_fps on 2 cores.
//
// The painter's frames are the stream's: a new FakeImageFrame per frame with the counter advancing, so
// the large disc grows and shrinks across the measurement as it does on screen. The memset writes the
// same number of bytes in the same run, just before.
//
// The rate meter measures 10 intervals of whole-millisecond arrival timestamps, so at 30 fps a single
// reading is 30.0 or 29.9 (or further off when a frame is late) depending on where the millisecond
// boundaries fall; the median over the run is the stable figure.
//
// FIGURE fake_image_1080p_gl_auto_3s_records and fake_image_1080p_gl_shader_3s_records: records of a
// 1920 x 1080 x 3 stream at 30 fps emitting graphics-card images, counted by their device timestamps in
// the first 3 s after the first record (goal 90 +- 2), with the path the machine's graphics device picks
// and with the compute shader forced. fake_image_1080p_gl_auto_cpu_upload is 1 when the automatic path
// painted in main memory and uploaded (a software rasteriser), 0 when it used the shader.
//
// Arguments: --no-gl skips the compute-shader figures, --no-stream the 10 s stream check (both for
// iterating on the main-memory painter; the figures they skip are then not printed).

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Host/Core/ImageDescriptor.h"
#include "Host/Core/MemImage.h"
#include "Host/Core/Random.h"
#include "Host/GL/ContextManager.h"
#include "Host/GL/Flush.h"
#include "Host/GL/GlImage.h"
#include "Stream/Simulated/FakeImageCpuPainter.h"
#include "Stream/Simulated/FakeImageFrame.h"
#include "Stream/Simulated/FakeImageGlPainter.h"
#include "Stream/Simulated/FakeImageStream.h"
#include "Stream/Framework/StreamData.h"

using namespace Corvexis;
using Clock = std::chrono::steady_clock;

namespace {

constexpr auto kMeasureTime = std::chrono::milliseconds(400);

// Runs `frame(i)` until kMeasureTime has passed (at least 3 times), then `finish()`; frames per second.
double rate(
    const std::function<void(int)>& frame, const std::function<void()>& finish = [] {})
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
    const std::string suffix =
        std::to_string(width) + "x" + std::to_string(height) + "x" + std::to_string(channels);

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

// The meter is full (10 intervals) from the eleventh record on; earlier readings are 0.
constexpr int kMeterFullAfter = 11;

void streamRate()
{
    FakeImageStream stream;
    std::atomic<int> records{0};
    std::mutex readingsMutex;
    std::vector<double> readings;  // guarded by readingsMutex
    // Called on the stream's worker after the stream's own meter (connected first) took the record.
    auto connection = stream.signalStreamData.connect([&](const std::shared_ptr<const StreamData>&) {
        if (records.fetch_add(1) + 1 <= kMeterFullAfter)
            return;
        const double reading = stream.updateRate();
        std::lock_guard lock(readingsMutex);
        readings.push_back(reading);
    });
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
    std::lock_guard lock(readingsMutex);
    if (readings.empty()) {
        std::printf("# fewer than %d records: no median rate\n", kMeterFullAfter + 1);
        return;
    }
    const auto middle = readings.begin() + static_cast<std::ptrdiff_t>(readings.size() / 2);
    std::nth_element(readings.begin(), middle, readings.end());
    figure("fake_image_30fps_rate_median", *middle, "Hz");
}

// Records of a 1080p three-channel stream emitting graphics-card images over 3 s of device time.
void stream1080p(FakeImageStream::GlPaintPath path, const std::string& name)
{
    FakeImageStream stream(1920, 1080, 1, 3);
    stream.setGlPaintPath(path);
    std::mutex mutex;
    std::vector<std::uint64_t> deviceTimes;  // guarded by mutex
    auto connection = stream.signalStreamData.connect([&](const std::shared_ptr<const StreamData>& data) {
        std::lock_guard lock(mutex);
        deviceTimes.push_back(data->timestampDevice());
    });
    if (!stream.start()) {
        std::printf("# the 1080p stream did not start\n");
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(3500));
    stream.stop();
    const bool cpuUpload = stream.glPaintPathInUse() == FakeImageStream::GlPaintPath::CpuUpload;
    stream.close();
    connection.disconnect();
    std::lock_guard lock(mutex);
    int inWindow = 0;
    for (std::uint64_t t : deviceTimes)
        if (t < deviceTimes.front() + 3000)
            ++inWindow;
    figure(name + "_3s_records", inWindow, "records");
    if (path == FakeImageStream::GlPaintPath::Automatic)
        figure(name + "_cpu_upload", cpuUpload ? 1 : 0, "flag");
}

}  // namespace

int main(int argc, char** argv)
{
    bool wantGl = true;
    bool wantStream = true;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--no-gl") == 0) {
            wantGl = false;
        } else if (std::strcmp(argv[i], "--no-stream") == 0) {
            wantStream = false;
        } else {
            std::fprintf(stderr, "usage: %s [--no-gl] [--no-stream]\n", argv[0]);
            return 2;
        }
    }

    auto& manager = GL::ContextManager::get();
    std::unique_ptr<GL::Context> context;
    if (wantGl && manager.isAvailable())
        context = manager.createContext();
    const bool openGl = context != nullptr;
    std::printf("# OpenGL: %s; hardware threads: %u\n",
                openGl ? manager.renderer().c_str()
                       : (wantGl ? "not available, GL figures skipped" : "GL figures skipped (--no-gl)"),
                std::thread::hardware_concurrency());

    paintRates(100, 100, 1, openGl);
    paintRates(640, 480, 3, openGl);
    paintRates(1920, 1080, 1, openGl);
    paintRates(1920, 1080, 3, openGl);
    if (wantStream)
        streamRate();
    if (wantStream && openGl) {
        stream1080p(FakeImageStream::GlPaintPath::Automatic, "fake_image_1080p_gl_auto");
        stream1080p(FakeImageStream::GlPaintPath::ComputeShader, "fake_image_1080p_gl_shader");
    }
    return 0;
}
