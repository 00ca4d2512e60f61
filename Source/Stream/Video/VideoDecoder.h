#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <Eigen/Core>

#include "Host/Core/ByteBuffer.h"
#include "Host/Core/Signal.h"

struct AVBufferRef;
struct AVCodecContext;
struct AVFrame;
struct SwsContext;

namespace Corvexis {

class SharedImage;

// Turns encoded video packets (VideoPacketHeader + codec bytes, as VideoEncoder makes them) back into
// images, on a decoding thread of its own; a statistics thread estimates the incoming frame and byte
// rates over 3-second windows.
//
// The decoder follows the packets: a packet of another codec reopens it, and a change of image size
// requests a reopen at the next packet. With hardware acceleration (FFmpeg's CUDA device) the NV12
// pictures are converted on the graphics card into RGBA textures; a failure there falls back to
// software decoding for good, which emits 3-channel main-memory RGB images.
//
// Threading: every public operation is thread-safe. queueMutex_ guards the queue and the flags,
// sizeMutex_ the detected size, statsMutex_ the statistics; no two are held together. Log category
// "Stream.VideoDecoder".
class VideoDecoder
{
public:
    VideoDecoder();
    // Stops both threads and releases queued packets.
    ~VideoDecoder();
    VideoDecoder(const VideoDecoder&) = delete;
    VideoDecoder& operator=(const VideoDecoder&) = delete;

    // Starts the decoding and statistics threads; false when either runs. Thread-safe.
    bool start();
    // Empties the queue and joins both threads. Thread-safe.
    bool stop();
    // Queues a packet for decoding (unbounded: the producer is never blocked); discarded after stop.
    // Thread-safe.
    void feedByteBuffer(std::unique_ptr<ByteBuffer> packet);
    // The next packet reopens the decoder. Thread-safe.
    void restartDecoder();

    void setUseHardwareAcceleration(bool use);  // thread-safe; takes effect at the next reopen
    bool useHardwareAcceleration() const;       // thread-safe
    bool hardwareAccelerationUsed() const;      // thread-safe

    // Width and height of the latest packet; -1 each before the first. Thread-safe.
    Eigen::Vector2i detectedImageSize() const;
    double estimatedFPS() const;                     // thread-safe
    std::uint64_t estimatedBytesPerSeconds() const;  // thread-safe

    // Every decoded image, on the decoding thread (which has a current OpenGL context): 3-channel
    // main-memory RGB, or with hardware acceleration a 4-channel RGBA graphics-card image.
    Signal<std::shared_ptr<SharedImage>> signalImageDecoded;

private:
    struct PacketRecord
    {
        std::int32_t frameIndex;
        std::int64_t sendTimeMs;
        std::int64_t receiveTimeMs;
        std::size_t bytes;
    };

    bool initDecoder();
    void decodeFrame(const ByteBuffer& packet);
    void decodeLoop();
    void statsEstimationLoop();
    void restartWithoutHardwareAcceleration();
    void freeContext();
    std::shared_ptr<SharedImage> hardwareImage(AVFrame* frame);
    std::shared_ptr<SharedImage> softwareImage(AVFrame* frame);

    static constexpr int kStatsWindowSeconds = 3;

    mutable std::mutex queueMutex_;
    std::condition_variable queueWake_;
    // guarded by queueMutex_
    std::deque<std::unique_ptr<ByteBuffer>> queue_;
    bool stopRequested_ = false;
    bool restartRequested_ = false;
    bool useHardwareAcceleration_ = true;
    bool hardwareAccelerationUsed_ = false;

    mutable std::mutex sizeMutex_;
    // guarded by sizeMutex_
    int width_ = -1;
    int height_ = -1;

    mutable std::mutex statsMutex_;
    // guarded by statsMutex_
    std::vector<PacketRecord> records_;
    std::uint64_t bytesPerSecond_ = 0;
    double framesPerSecond_ = 0.0;
    std::int32_t lastFrameIndex_ = -1;

    std::mutex startStopMutex_;  // serialises start and stop; taken before the others
    std::thread decodeThread_;
    std::thread statsThread_;

    // Decoding thread only.
    std::int32_t codec_ = 0;
    AVCodecContext* context_ = nullptr;
    SwsContext* scaler_ = nullptr;
};

}  // namespace Corvexis
