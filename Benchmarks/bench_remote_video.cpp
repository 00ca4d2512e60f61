// Remote video on loopback, sender and receiver in one process (one clock):
//   FIGURE remote_video_median_ms / remote_video_p99_ms <ms>
//     A camera-like source emits 640 x 480 RGB frames at 30 fps into a LiveStreamingAlgorithm (mpeg4,
//     preset 0); a RemoteVideoStream connected to it decodes them. Latency runs from the source's
//     emission of a frame to the receiver's emission of the decoded frame. Each frame carries its
//     number in a 4 x 4 grid of black/white blocks, read back from the decoded picture.
//   FIGURE codec_only_ms <ms>
//     The same frames through a VideoEncoder and a VideoDecoder directly (no network, same codec and
//     preset, same pacing), feedFrame to signalImageDecoded, median; measured in the same run.
//   FIGURE remote_video_out_of_order <count>, remote_video_frames_received, remote_video_frames_skipped
//     The receiver sees every packet sent (TCP, in order), so a frame number that is not larger than
//     the one before would be an older frame sent after a newer one. Skipped numbers are frames the
//     encoder replaced by newer ones (newest frame wins).
// The two phases alternate in rounds (a shared machine's load then weighs on both alike); the figures
// are over all rounds. Optional arguments: seconds per phase (default 5), rounds (default 3).

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "Host/Core/Log.h"
#include "Host/Core/TypedImage.h"
#include "Host/Lib/SharedImage.h"
#include "Stream/Framework/ImageStream.h"
#include "Stream/Framework/ImageStreamData.h"
#include "Stream/Video/LiveStreamingAlgorithm.h"
#include "Stream/Video/RemoteVideoStream.h"
#include "Stream/Video/VideoDecoder.h"
#include "Stream/Video/VideoEncoder.h"

namespace {

using namespace Corvexis;
using Clock = std::chrono::steady_clock;

constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr int kFps = 30;
constexpr int kGrid = 4;  // 16 bits of frame number

// A camera-like source: frames are emitted from the caller's (capture) thread.
class BenchSource : public ImageStream
{
public:
    BenchSource() : ImageStream("Bench Camera") {}
    ~BenchSource() override { close(); }
    void emitFrame(std::unique_ptr<MemImage> image)
    {
        auto record =
            std::make_shared<ImageStreamData>(this, std::make_shared<SharedImage>(std::move(image)));
        const auto now = static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                        std::chrono::system_clock::now().time_since_epoch())
                                                        .count());
        record->setTimestampArrival(now);
        record->setTimestampDevice(now);
        signalStreamData.emitSignal(std::shared_ptr<const StreamData>(std::move(record)));
    }

protected:
    bool openImpl() override { return true; }
    bool closeImpl() override { return true; }
    bool startImpl() override { return true; }
    bool stopImpl() override { return true; }
    std::optional<WorkContinuation> doWork() override
    {
        return WorkContinuation{std::chrono::time_point_cast<Ticks>(std::chrono::system_clock::now() +
                                                                    std::chrono::milliseconds(100))};
    }
};

// A gradient picture with the frame number in black/white blocks (bit i = block i, row by row).
std::unique_ptr<TypedImage<std::uint8_t>> numberedFrame(int number)
{
    auto image = TypedImage<std::uint8_t>::create(kWidth, kHeight, 1, 3);
    std::uint8_t* p = image->pointer();
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x, p += 3) {
            const int bit = (y * kGrid / kHeight) * kGrid + x * kGrid / kWidth;
            const bool border = x % (kWidth / kGrid) < 12 || y % (kHeight / kGrid) < 12;
            const std::uint8_t block = ((number >> bit) & 1) != 0 ? 240 : 16;
            p[0] = border ? static_cast<std::uint8_t>(x * 255 / kWidth) : block;
            p[1] = border ? static_cast<std::uint8_t>(y * 255 / kHeight) : block;
            p[2] = border ? static_cast<std::uint8_t>((x + y) & 0xFF) : block;
        }
    return image;
}

// The number in a decoded 3-channel picture (block centres, green channel); -1 when unreadable.
int readNumber(const SharedImage& image)
{
    const MemImage* mem = image.mem();
    if (mem == nullptr || mem->width() != kWidth || mem->height() != kHeight || mem->channels() < 3)
        return -1;
    const auto* p = static_cast<const std::uint8_t*>(mem->data());
    int number = 0;
    for (int bit = 0; bit < kGrid * kGrid; ++bit) {
        const int cx = (bit % kGrid) * (kWidth / kGrid) + kWidth / kGrid / 2 + 6;
        const int cy = (bit / kGrid) * (kHeight / kGrid) + kHeight / kGrid / 2 + 6;
        const std::uint8_t v =
            p[(static_cast<std::size_t>(cy) * kWidth + static_cast<std::size_t>(cx)) * mem->channels() + 1];
        if (v > 128)
            number |= 1 << bit;
    }
    return number;
}

struct Latencies
{
    std::mutex mutex;
    std::map<int, Clock::time_point> sent;
    std::vector<double> ms;
    int lastNumber = -1;
    int outOfOrder = 0;
    int skipped = 0;
    int unreadable = 0;

    // A new round numbers its frames from 0 again.
    void newRound()
    {
        std::lock_guard lock(mutex);
        sent.clear();
        lastNumber = -1;
    }
    bool reached(int number)
    {
        std::lock_guard lock(mutex);
        return lastNumber >= number;
    }
    void emitted(int number)
    {
        std::lock_guard lock(mutex);
        sent[number] = Clock::now();
    }
    void arrived(const SharedImage& image)
    {
        const auto now = Clock::now();
        const int number = readNumber(image);
        std::lock_guard lock(mutex);
        const auto at = sent.find(number);
        if (at == sent.end()) {
            ++unreadable;
            return;
        }
        if (number <= lastNumber)
            ++outOfOrder;
        else if (lastNumber >= 0)
            skipped += number - lastNumber - 1;
        lastNumber = number;
        ms.push_back(std::chrono::duration<double, std::milli>(now - at->second).count());
    }
    double percentile(double q)
    {
        std::lock_guard lock(mutex);
        if (ms.empty())
            return -1.0;
        std::vector<double> sorted = ms;
        std::sort(sorted.begin(), sorted.end());
        return sorted[std::min(sorted.size() - 1,
                               static_cast<std::size_t>(q * static_cast<double>(sorted.size())))];
    }
};

// Emits numbered frames at 30 fps for `seconds`, through `emit`.
template <typename Emit>
void pace(double seconds, Latencies& latencies, Emit emit)
{
    const auto period = std::chrono::nanoseconds(1'000'000'000 / kFps);
    const int frames = static_cast<int>(seconds * kFps);
    auto next = Clock::now();
    for (int number = 0; number < frames; ++number) {
        auto image = numberedFrame(number);
        std::this_thread::sleep_until(next);
        latencies.emitted(number);
        emit(std::move(image));
        next += period;
    }
}

void waitFor(const std::function<bool()>& condition, std::chrono::seconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    while (!condition() && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

// Phase 1: over the network.
bool remoteRound(double seconds, Latencies& remote)
{
    remote.newRound();
    BenchSource source;
    source.open();
    source.start();
    LiveStreamingAlgorithm sender(source);
    sender.setEncoderId(VideoEncoder::Codec::Mpeg4);
    sender.setPreset(VideoEncoder::Preset::LowLatency);
    sender.setVideoTransferPort(38881);
    sender.setControlTransferPort(38882);
    sender.compute();
    if (sender.status() != Algorithm::Status::Success) {
        std::fprintf(stderr, "bench_remote_video: the sender could not listen on 38881/38882\n");
        return false;
    }
    // Warm the rate meter so that the encoder is started with the source's rate.
    Latencies warmup;
    pace(2.5, warmup, [&](std::unique_ptr<MemImage> image) { source.emitFrame(std::move(image)); });

    RemoteVideoStream receiver;
    receiver.setUseHardwareAcceleration(false);
    receiver.signalStreamData.connect([&](std::shared_ptr<const StreamData> data) {
        const auto* record = dynamic_cast<const ImageStreamData*>(data.get());
        if (record != nullptr && !record->images().empty())
            remote.arrived(*record->images().front());
    });
    if (!receiver.tryConnect("127.0.0.1", 38881, 38882)) {
        std::fprintf(stderr, "bench_remote_video: the receiver could not connect\n");
        return false;
    }
    waitFor([&] { return receiver.currentState() == Stream::State::Running; }, std::chrono::seconds(10));
    pace(seconds, remote, [&](std::unique_ptr<MemImage> image) { source.emitFrame(std::move(image)); });
    waitFor([&] { return remote.reached(static_cast<int>(seconds * kFps) - 1); }, std::chrono::seconds(5));
    receiver.close();
    return true;
}

// Phase 2: the codec alone, same frames and pacing.
void codecRound(double seconds, Latencies& codec)
{
    codec.newRound();
    VideoDecoder decoder;
    decoder.setUseHardwareAcceleration(false);
    decoder.signalImageDecoded.connect([&](std::shared_ptr<SharedImage> image) {
        if (image)
            codec.arrived(*image);
    });
    VideoEncoder encoder(
        [&](std::unique_ptr<ByteBuffer> packet, bool) { decoder.feedByteBuffer(std::move(packet)); });
    decoder.start();
    encoder.start(VideoEncoder::Codec::Mpeg4, kFps, VideoEncoder::Preset::LowLatency);
    pace(seconds, codec, [&](std::unique_ptr<MemImage> image) { encoder.feedFrame(std::move(image)); });
    waitFor([&] { return codec.reached(static_cast<int>(seconds * kFps) - 1); }, std::chrono::seconds(5));
    encoder.stop();
    decoder.stop();
}

}  // namespace

int main(int argc, char** argv)
{
    const double seconds = argc > 1 ? std::atof(argv[1]) : 5.0;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    Log::setLevel(Log::Level::Error);

    Latencies remote;
    Latencies codec;
    for (int round = 0; round < rounds; ++round) {
        if (!remoteRound(seconds, remote))
            return 1;
        codecRound(seconds, codec);
    }

    const int sent = static_cast<int>(seconds * kFps) * rounds;
    std::printf("FIGURE remote_video_median_ms %.2f ms\n", remote.percentile(0.5));
    std::printf("FIGURE remote_video_p99_ms %.2f ms\n", remote.percentile(0.99));
    std::printf("FIGURE codec_only_ms %.2f ms\n", codec.percentile(0.5));
    std::printf("FIGURE codec_only_p99_ms %.2f ms\n", codec.percentile(0.99));
    std::printf("FIGURE remote_video_frames_received %zu frames\n", remote.ms.size());
    std::printf("FIGURE remote_video_frames_skipped %d frames\n", remote.skipped);
    std::printf("FIGURE remote_video_out_of_order %d frames\n", remote.outOfOrder);
    std::printf("frames sent %d; unreadable frame numbers: remote %d, codec %d; codec out of order %d\n",
                sent, remote.unreadable, codec.unreadable, codec.outOfOrder);
    const double margin = remote.percentile(0.5) - codec.percentile(0.5);
    std::printf("goal median <= codec_only + 5 ms: %s (network adds %.2f ms)\n",
                margin <= 5.0 ? "met" : "missed", margin);
    return remote.outOfOrder == 0 ? 0 : 1;
}
