// The stream algorithm executor at 640 x 480, 8-bit:
// - latency from the input stream's emission of a frame to the output stream's emission of its result,
//   with a pass-through algorithm (median, p99), one frame at a time, beside the reference hand-off of
//   bench_handoff (a deque, a mutex and a condition variable: push to start of processing) measured in
//   the same run;
// - frames per second of the host's Gaussian smoothing (sigma 2 pixels) on its main-memory path and its
//   compute-shader path (result complete on the card: glFinish per frame), and of a plain separable
//   convolution written here as the reference for the main-memory path. All single-threaded.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "Host/Core/MemImage.h"
#include "Host/GL/ContextManager.h"
#include "Host/GL/Flush.h"
#include "Host/GL/GlImage.h"
#include "Host/Lib/ImageProcessing/GaussianSmoothingAlgorithm.h"
#include "Host/Lib/SequentialImageProcessor.h"
#include "Host/Lib/SharedImage.h"
#include "ReferenceHandoff.h"
#include "Stream/Framework/ImageStream.h"
#include "Stream/Framework/ImageStreamData.h"
#include "Stream/Processing/AlgorithmExecutorStream.h"
#include "Stream/Processing/StreamAlgorithmExecutor.h"

namespace {

using namespace Corvexis;
using Bench::measureLatency;
using Bench::nowNs;
using Bench::percentile;
using Bench::ReferenceHandoff;
using Clock = std::chrono::steady_clock;
constexpr int kLatencySamples = 5000;
constexpr int kWarmUp = 200;
constexpr int kWidth = 640;
constexpr int kHeight = 480;

// An image stream whose frames the benchmark emits on its own thread.
class BenchImageStream : public ImageStream
{
public:
    BenchImageStream() : ImageStream("bench") {}
    ~BenchImageStream() override { close(); }
    ThreadingMode threadingMode() const override { return ThreadingMode::NoWorkerThread; }

protected:
    bool openImpl() override { return true; }
    bool closeImpl() override { return true; }
    bool startImpl() override { return true; }
    bool stopImpl() override { return true; }
    std::optional<WorkContinuation> doWork() override { return std::nullopt; }
};

// Returns the frame itself (a shallow clone): what remains is the executor's own cost.
class PassThrough : public Algorithm, public SequentialImageProcessor
{
public:
    void compute() override {}
    std::optional<Result> processImage(const SharedImage& image, const DataComponentList& components) override
    {
        Result result;
        result.image = image.clone(Image::CloneOptions::Shallow);
        result.components = components;
        return result;
    }
};

// The reference convolution: the textbook separable loop, one output value at a time.
void referenceSmooth(const std::uint8_t* in, std::uint8_t* out, std::vector<float>& tmp, int w, int h,
                     const std::vector<float>& k)
{
    const int r = static_cast<int>(k.size() / 2);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            float acc = 0.0f;
            for (int i = -r; i <= r; ++i)
                acc += k[static_cast<size_t>(i + r)] * in[y * w + std::clamp(x + i, 0, w - 1)];
            tmp[static_cast<size_t>(y * w + x)] = acc;
        }
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            float acc = 0.0f;
            for (int i = -r; i <= r; ++i)
                acc += k[static_cast<size_t>(i + r)] *
                       tmp[static_cast<size_t>(std::clamp(y + i, 0, h - 1) * w + x)];
            out[y * w + x] = static_cast<std::uint8_t>(std::clamp(acc, 0.0f, 255.0f) + 0.5f);
        }
}

// Frames per second of `step` over at least `seconds`.
template <typename Step>
double framesPerSecond(Step step, double seconds = 2.0)
{
    for (int i = 0; i < 5; ++i)
        step();
    int frames = 0;
    const auto begin = Clock::now();
    double elapsed = 0.0;
    do {
        step();
        ++frames;
        elapsed = std::chrono::duration<double>(Clock::now() - begin).count();
    } while (elapsed < seconds);
    return frames / elapsed;
}

std::shared_ptr<SharedImage> makeFrame()
{
    auto image = std::make_shared<SharedImage>(ImageDescriptor(ImageDescriptor::kUByte, kWidth, kHeight),
                                               Image::Location::Memory);
    auto* p = static_cast<std::uint8_t*>(image->mem()->data());
    for (int i = 0; i < kWidth * kHeight; ++i)
        p[i] = static_cast<std::uint8_t>((i * 131) ^ (i >> 7));
    image->markChanged(Image::Location::Memory);
    return image;
}

}  // namespace

int main()
{
    const auto frame = makeFrame();

    std::vector<double> executorLatency;
    {
        BenchImageStream input;
        StreamAlgorithmExecutor executor(input, std::make_unique<PassThrough>());
        std::atomic<std::int64_t> latest{-1};
        std::atomic<std::int64_t> sentNs{0};
        auto connection =
            executor.outputStream()->signalStreamData.connect([&](std::shared_ptr<const StreamData>) {
                latest.store(nowNs() - sentNs.load(), std::memory_order_release);
            });
        executorLatency = measureLatency(
            [&](std::int64_t t) {
                auto record = std::make_shared<ImageStreamData>(&input, frame);
                sentNs.store(t);
                input.signalStreamData.emitSignal(std::move(record));
            },
            latest, kLatencySamples, kWarmUp);
        connection.disconnect();
    }
    std::vector<double> referenceLatency;
    {
        ReferenceHandoff reference;
        referenceLatency = measureLatency([&](std::int64_t t) { reference.push(t); }, reference.lastLatencyNs,
                                          kLatencySamples, kWarmUp);
    }

    // Smoothing, sigma 2.
    const std::vector<double> weights = GaussianSmoothingAlgorithm::kernel(2.0);
    const MemImage& mem = *frame->mem();
    const double cpuFps = framesPerSecond([&] { GaussianSmoothingAlgorithm::smoothMem(mem, weights); });

    std::vector<float> weightsF(weights.begin(), weights.end());
    std::vector<float> tmp(static_cast<size_t>(kWidth * kHeight));
    std::vector<std::uint8_t> out(static_cast<size_t>(kWidth * kHeight));
    const auto* in = static_cast<const std::uint8_t*>(mem.data());
    const double referenceFps =
        framesPerSecond([&] { referenceSmooth(in, out.data(), tmp, kWidth, kHeight, weightsF); });

    double glFps = 0.0;
    if (auto context = GL::ContextManager::get().createContext()) {
        SharedImage onCard(GlImage::fromMemImage(mem));
        GaussianSmoothingAlgorithm smoothing;
        smoothing.sigma = 2.0;
        glFps = framesPerSecond([&] {
            auto result = smoothing.processImage(onCard, {});
            GL::finish();
        });
        std::printf("# graphics: %s (%s)\n", GL::ContextManager::get().renderer().c_str(),
                    GL::ContextManager::get().platformName().c_str());
    } else {
        std::printf("# OpenGL is not available: smooth_gl_fps is 0\n");
    }

    std::printf("FIGURE exec_passthrough_median_us %.2f us\n", percentile(executorLatency, 0.5));
    std::printf("FIGURE exec_passthrough_p99_us %.2f us\n", percentile(executorLatency, 0.99));
    std::printf("FIGURE handoff_reference_median_us %.2f us\n", percentile(referenceLatency, 0.5));
    std::printf("FIGURE smooth_cpu_fps %.1f frames/s\n", cpuFps);
    std::printf("FIGURE smooth_gl_fps %.1f frames/s\n", glFps);
    std::printf("FIGURE smooth_reference_fps %.1f frames/s\n", referenceFps);
    return 0;
}
