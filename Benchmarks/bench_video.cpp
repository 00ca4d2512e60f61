// Video coding and video files, each against a reference measured in the same run:
//   FIGURE mpeg4_encode_ms / mpeg4_decode_ms / av1_encode_ms / av1_decode_ms <ms per frame>
//     VideoEncoder and VideoDecoder on 640 x 480 RGB at preset 0 (Low Latency). Encoding feeds one
//     frame and waits for its packet (median over the frames); decoding queues all packets and waits
//     for the last image (best of three runs).
//   FIGURE file_decode_fps / ffmpeg_decode_fps <frames per second>
//     VideoFileStream reading every frame of a 1080p H.264 file into RGB records (extractFrames: no
//     pacing), against the ffmpeg program decoding the same file to nothing (-f null), wall clock with
//     the program's start. Also ffmpeg_rgb_decode_fps: ffmpeg converting to RGB24 as well.
//   FIGURE nv12_cpu_fps / memcpy_rgba_fps <frames per second>
//     ColorConverter::nv12ToRgba at 1920 x 1080 against memcpy of the 8 MB of RGBA it writes.
// The 1080p file is made with ffmpeg's libx264 when the program has it (else mpeg4; the line
// "file codec" says which) in a temporary directory. Optional argument: frames of the 1080p file
// (default 150).

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <unistd.h>

#include "Host/Core/TypedImage.h"
#include "Host/Lib/Selection.h"
#include "Host/Lib/SharedImage.h"
#include "Stream/Framework/ImageStreamData.h"
#include "Stream/Video/ColorConverter.h"
#include "Stream/Video/VideoDecoder.h"
#include "Stream/Video/VideoEncoder.h"
#include "Stream/Video/VideoFileStream.h"

namespace {

using namespace Corvexis;
using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::unique_ptr<TypedImage<std::uint8_t>> frame(int width, int height, int index)
{
    auto image = TypedImage<std::uint8_t>::create(width, height, 1, 3);
    std::uint8_t* p = image->pointer();
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x, p += 3) {
            const bool square =
                x >= 8 * index % (width - 64) && x < 8 * index % (width - 64) + 64 && y >= 100 && y < 164;
            p[0] = static_cast<std::uint8_t>(square ? 230 : x * 255 / width);
            p[1] = static_cast<std::uint8_t>(square ? 40 : y * 255 / height);
            p[2] = static_cast<std::uint8_t>((x + y + index) & 0xFF);
        }
    return image;
}

// Encode then decode `frames` frames; returns false when the codec is not usable here.
bool codecRun(VideoEncoder::Codec codec, const char* prefix, int frames)
{
    constexpr int kWidth = 640, kHeight = 480;
    std::vector<std::unique_ptr<TypedImage<std::uint8_t>>> inputs;
    for (int i = 0; i < frames; ++i)
        inputs.push_back(frame(kWidth, kHeight, i));

    std::mutex mutex;
    std::condition_variable wake;
    std::vector<std::unique_ptr<ByteBuffer>> packets;
    VideoEncoder encoder([&](std::unique_ptr<ByteBuffer> packet, bool) {
        std::lock_guard lock(mutex);
        packets.push_back(std::move(packet));
        wake.notify_all();
    });
    if (!encoder.start(codec, 30, VideoEncoder::Preset::LowLatency))
        return false;
    const auto waitPackets = [&](std::size_t n) {
        std::unique_lock lock(mutex);
        return wake.wait_for(lock, std::chrono::seconds(30), [&] { return packets.size() >= n; });
    };
    // Warm-up frame: codec configuration is not part of the per-frame cost.
    encoder.feedFrame(frame(kWidth, kHeight, 0));
    if (!waitPackets(1))
        return false;
    std::vector<double> encodeTimes;
    for (int i = 0; i < frames; ++i) {
        auto copy = inputs[i]->cloneTyped();
        const auto start = Clock::now();
        encoder.feedFrame(std::move(copy));
        if (!waitPackets(static_cast<std::size_t>(i) + 2))
            return false;
        encodeTimes.push_back(secondsSince(start) * 1000.0);
    }
    // The median: other processes on a shared machine stretch single frames, not the typical one.
    std::nth_element(encodeTimes.begin(), encodeTimes.begin() + frames / 2, encodeTimes.end());
    const double encodeMs = encodeTimes[static_cast<std::size_t>(frames / 2)];
    encoder.stop();

    // Decoding: best of three runs over all packets (the first two, which open and reopen the
    // decoder, untimed).
    double decodeMs = 1e9;
    for (int run = 0; run < 3; ++run) {
        VideoDecoder decoder;
        decoder.setUseHardwareAcceleration(false);
        std::size_t decoded = 0;
        auto connection = decoder.signalImageDecoded.connect([&](std::shared_ptr<SharedImage>) {
            std::lock_guard lock(mutex);
            ++decoded;
            wake.notify_all();
        });
        decoder.start();
        decoder.feedByteBuffer(std::make_unique<ByteBuffer>(*packets[0]));
        decoder.feedByteBuffer(std::make_unique<ByteBuffer>(*packets[1]));
        {
            std::unique_lock lock(mutex);
            if (!wake.wait_for(lock, std::chrono::seconds(30), [&] { return decoded >= 2; }))
                return false;
        }
        const auto decodeStart = Clock::now();
        const std::size_t timed = packets.size() - 2;
        for (std::size_t i = 2; i < packets.size(); ++i)
            decoder.feedByteBuffer(std::make_unique<ByteBuffer>(*packets[i]));
        {
            std::unique_lock lock(mutex);
            if (!wake.wait_for(lock, std::chrono::seconds(60), [&] { return decoded >= timed + 2; }))
                return false;
        }
        decodeMs = std::min(decodeMs, secondsSince(decodeStart) * 1000.0 / static_cast<double>(timed));
        decoder.stop();
        connection.disconnect();
    }
    std::printf("FIGURE %s_encode_ms %.3f ms\n", prefix, encodeMs);
    std::printf("FIGURE %s_decode_ms %.3f ms\n", prefix, decodeMs);
    return true;
}

bool haveLibx264()
{
    return std::system("ffmpeg -hide_banner -encoders 2>/dev/null | grep -q ' libx264 '") == 0;
}

void fileRun(int frames)
{
    const auto dir = std::filesystem::temp_directory_path() / ("bench_video_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string path = (dir / "clip1080.mp4").string();
    const bool x264 = haveLibx264();
    const std::string codec = x264 ? "libx264 -preset veryfast -pix_fmt yuv420p" : "mpeg4 -q:v 4";
    const std::string make =
        "ffmpeg -nostdin -y -loglevel error -f lavfi -i testsrc2=size=1920x1080:rate=30 -frames:v " +
        std::to_string(frames) + " -c:v " + codec + " '" + path + "'";
    if (std::system(make.c_str()) != 0) {
        std::printf("file decode: the ffmpeg program could not make the 1080p file; no file figures\n");
        return;
    }
    std::printf("file codec: %s (%d frames 1920x1080)\n", x264 ? "H.264 (libx264)" : "MPEG-4 part 2 (mpeg4)",
                frames);

    // Best of five for each, alternating, so that the shared machine's noise hits all alike.
    double best = 0.0;
    double bestFfmpeg = 0.0;
    double bestFfmpegRgb = 0.0;
    for (int round = 0; round < 5; ++round) {
        {
            VideoFileStream stream;
            stream.setFilename(path);
            if (!stream.open()) {
                std::printf("file decode: the stream could not open the file\n");
                return;
            }
            int count = 0;
            const auto start = Clock::now();
            stream.extractFrames(
                Selection::fromFirstLastSkip(0, stream.numFrames() - 1),
                [&count](std::shared_ptr<ImageStreamData>) { ++count; }, nullptr);
            best = std::max(best, count / secondsSince(start));
            stream.close();
        }
        auto start = Clock::now();
        if (std::system(("ffmpeg -nostdin -loglevel error -i '" + path + "' -f null -").c_str()) == 0)
            bestFfmpeg = std::max(bestFfmpeg, frames / secondsSince(start));
        start = Clock::now();
        if (std::system(
                ("ffmpeg -nostdin -loglevel error -i '" + path + "' -pix_fmt rgb24 -f null -").c_str()) == 0)
            bestFfmpegRgb = std::max(bestFfmpegRgb, frames / secondsSince(start));
    }
    std::printf("FIGURE file_decode_fps %.1f fps\n", best);
    std::printf("FIGURE ffmpeg_decode_fps %.1f fps\n", bestFfmpeg);
    std::printf("FIGURE ffmpeg_rgb_decode_fps %.1f fps\n", bestFfmpegRgb);
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
}

void conversionRun()
{
    constexpr int kWidth = 1920, kHeight = 1080;
    std::vector<std::uint8_t> luma(std::size_t{kWidth} * kHeight);
    std::vector<std::uint8_t> chroma(std::size_t{kWidth} * kHeight / 2);
    for (std::size_t i = 0; i < luma.size(); ++i)
        luma[i] = static_cast<std::uint8_t>(i * 7);
    for (std::size_t i = 0; i < chroma.size(); ++i)
        chroma[i] = static_cast<std::uint8_t>(i * 13);
    std::vector<std::uint8_t> rgba(std::size_t{kWidth} * kHeight * 4);
    std::vector<std::uint8_t> copy(rgba.size());
    const auto rate = [](const auto& step) {
        step();
        int count = 0;
        const auto start = Clock::now();
        double elapsed = 0.0;
        do {
            step();
            ++count;
            elapsed = secondsSince(start);
        } while (elapsed < 1.0 || count < 5);
        return count / elapsed;
    };
    const double nv12 = rate([&] {
        ColorConverter::nv12ToRgba(luma.data(), kWidth, chroma.data(), kWidth, kWidth, kHeight, rgba.data(),
                                   kWidth * 4);
    });
    const double memcpyRate = rate([&] {
        std::memcpy(copy.data(), rgba.data(), rgba.size());
        rgba[copy[12345] % rgba.size()] ^= 1;  // keeps the copy from being optimised away
    });
    std::printf("FIGURE nv12_cpu_fps %.1f fps\n", nv12);
    std::printf("FIGURE memcpy_rgba_fps %.1f fps\n", memcpyRate);
}

}  // namespace

int main(int argc, char** argv)
{
    const int fileFrames = argc > 1 ? std::max(10, std::atoi(argv[1])) : 150;
    if (!codecRun(VideoEncoder::Codec::Mpeg4, "mpeg4", 60))
        std::printf("mpeg4: encoder or decoder not usable here\n");
    if (!codecRun(VideoEncoder::Codec::LibaomAv1, "av1", 30))
        std::printf("av1: encoder or decoder not usable here\n");
    fileRun(fileFrames);
    conversionRun();
    return 0;
}
