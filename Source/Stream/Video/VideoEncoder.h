#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Host/Core/ByteBuffer.h"

struct AVCodecContext;
struct SwsContext;

namespace Corvexis {

class MemImage;

// Compresses 8-bit RGB (3 channels) or RGBA (4 channels) images into video packets, one packet per
// frame, each with the 28-byte VideoPacketHeader in front of the codec's bytes.
//
// Admission keeps only the newest image: feedFrame replaces a frame the worker has not taken yet, so
// callers never wait for encoding. The worker (re)configures the codec on the first frame after start
// or restartEncoder and whenever the image size or channel count changes; the frame index restarts at 0
// there and the first packet after it is flagged to the callback. A failed configuration ends the
// worker until stop and start.
//
// Threading: every public operation is thread-safe. mutex_ guards the fields marked below; the packet
// callback runs on the encoder thread without the mutex held. Log category "Stream.VideoEncoder".
class VideoEncoder
{
public:
    // Stored as a 32-bit integer; the value travels in every packet header.
    enum class Codec : std::int32_t
    {
        HevcNvenc = 0,
        HevcQsv = 1,
        H264Nvenc = 2,
        H264Qsv = 3,
        Av1Nvenc = 4,
        LibaomAv1 = 5,
        Mpeg4 = 6,
    };
    // "Low Latency", "Balanced", "High Quality"; other values are accepted and warned about.
    enum class Preset : std::int32_t
    {
        LowLatency = 0,
        Balanced = 1,
        HighQuality = 2,
    };
    // Called on the encoder thread with each packet and whether it is the first after a configuration.
    using PacketCallback = std::function<void(std::unique_ptr<ByteBuffer>, bool)>;

    explicit VideoEncoder(PacketCallback callback);
    // Stops the worker and drops a pending frame.
    ~VideoEncoder();
    VideoEncoder(const VideoEncoder&) = delete;
    VideoEncoder& operator=(const VideoEncoder&) = delete;

    // Starts the worker with these settings; false when it already runs. Thread-safe.
    bool start(Codec codec = Codec::HevcNvenc, int fps = 30, Preset preset = Preset::LowLatency);
    // Stops and joins the worker; false when none runs. Thread-safe.
    bool stop();
    // Hands an image to the worker, replacing one it has not taken. Null is ignored; images that are
    // not one slice of 3 or 4 unsigned 8-bit channels are dropped with an error. Never blocks on
    // encoding. Thread-safe.
    void feedFrame(std::unique_ptr<MemImage> image);
    // The next frame reconfigures the codec. Thread-safe.
    void restartEncoder();
    // Whether the frame before the latest feedFrame had been taken by the worker. Thread-safe.
    bool lastImageProcessed() const;

    // The codecs whose encoder this FFmpeg build has, in value order. Thread-safe.
    static std::vector<Codec> availableCodecs();
    // FFmpeg encoder name of a codec value, "unknown" for other values.
    static std::string codecName(Codec codec);

private:
    bool initEncoder(int width, int height, int channels);
    bool tryCodec(const std::string& name, int width, int height, int channels);
    std::unique_ptr<ByteBuffer> encodeFrame(const MemImage& image);
    void encodeLoop();
    void freeContext();
    // The pixel format the codec is fed in, for this encoder and channel count (an AVPixelFormat).
    static int inputPixelFormat(const std::string& name, int channels);

    const PacketCallback callback_;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    // guarded by mutex_
    Codec codec_ = Codec::HevcNvenc;
    int fps_ = 30;
    Preset preset_ = Preset::LowLatency;
    bool restartRequested_ = true;
    bool stopRequested_ = false;
    std::unique_ptr<MemImage> pendingFrame_;
    bool lastImageProcessed_ = true;
    std::thread thread_;  // started and joined under startStopMutex_

    std::mutex startStopMutex_;  // taken before mutex_, never the other way round

    // Encoder thread only (and the destructor after the join).
    int channels_ = -1;
    int width_ = 0;
    int height_ = 0;
    std::int32_t frameIndex_ = 0;
    Codec activeCodec_ = Codec::HevcNvenc;
    Preset activePreset_ = Preset::LowLatency;
    int activeFps_ = 30;
    std::string activeName_;
    AVCodecContext* context_ = nullptr;
    SwsContext* scaler_ = nullptr;
};

}  // namespace Corvexis
