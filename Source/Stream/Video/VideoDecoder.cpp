#include "Stream/Video/VideoDecoder.h"

#include <chrono>

#include <fmt/format.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/hwcontext.h>
#include <libswscale/swscale.h>
}

#include "Host/Core/Log.h"
#include "Host/Core/TypedImage.h"
#include "Host/GL/ContextManager.h"
#include "Host/GL/GlImage.h"
#include "Host/Lib/SharedImage.h"
#include "Stream/Video/ColorConverter.h"
#include "Stream/Video/VideoEncoder.h"
#include "Stream/Video/VideoPacketHeader.h"

namespace Corvexis {

namespace {

constexpr const char* kCategory = "Stream.VideoDecoder";

std::int64_t nowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::string resultText(int result)
{
    if (result == 0)
        return "success";
    if (result == AVERROR(EAGAIN))
        return "output is not available";
    if (result == AVERROR(EINVAL))
        return " codec not opened, or it is an encoder > ";
    if (result == AVERROR_EOF)
        return "the VideoDecoder has been fully flushed, and there will be no more output frames ";
    return "unknown result, code: " + std::to_string(result);
}

std::string decoderNameFor(std::int32_t codec, bool hardware)
{
    switch (static_cast<VideoEncoder::Codec>(codec)) {
        case VideoEncoder::Codec::HevcNvenc:
        case VideoEncoder::Codec::HevcQsv:
            return "hevc";
        case VideoEncoder::Codec::H264Nvenc:
        case VideoEncoder::Codec::H264Qsv:
            return "h264";
        case VideoEncoder::Codec::Av1Nvenc:
        case VideoEncoder::Codec::LibaomAv1:
            return hardware ? "av1" : "libaom-av1";
        case VideoEncoder::Codec::Mpeg4:
            return "mpeg4";
    }
    return "unknown";
}

}  // namespace

VideoDecoder::VideoDecoder() = default;

VideoDecoder::~VideoDecoder()
{
    stop();
    sws_freeContext(scaler_);
    scaler_ = nullptr;
    freeContext();
    std::lock_guard lock(queueMutex_);
    queue_.clear();
}

bool VideoDecoder::start()
{
    std::lock_guard startStop(startStopMutex_);
    if (decodeThread_.joinable() || statsThread_.joinable())
        return false;
    {
        std::lock_guard lock(queueMutex_);
        stopRequested_ = false;
    }
    {
        std::lock_guard lock(statsMutex_);
        bytesPerSecond_ = 0;
        framesPerSecond_ = 0.0;
    }
    decodeThread_ = std::thread([this] { decodeLoop(); });
    statsThread_ = std::thread([this] { statsEstimationLoop(); });
    return true;
}

bool VideoDecoder::stop()
{
    std::lock_guard startStop(startStopMutex_);
    {
        std::lock_guard lock(queueMutex_);
        queue_.clear();
        stopRequested_ = true;
    }
    queueWake_.notify_all();
    if (decodeThread_.joinable())
        decodeThread_.join();
    if (statsThread_.joinable())
        statsThread_.join();
    return true;
}

void VideoDecoder::feedByteBuffer(std::unique_ptr<ByteBuffer> packet)
{
    if (!packet)
        return;
    {
        std::lock_guard lock(queueMutex_);
        if (stopRequested_)
            return;
        queue_.push_back(std::move(packet));
    }
    queueWake_.notify_all();  // the statistics thread waits on it too
}

void VideoDecoder::restartDecoder()
{
    std::lock_guard lock(queueMutex_);
    restartRequested_ = true;
}

void VideoDecoder::setUseHardwareAcceleration(bool use)
{
    std::lock_guard lock(queueMutex_);
    useHardwareAcceleration_ = use;
}

bool VideoDecoder::useHardwareAcceleration() const
{
    std::lock_guard lock(queueMutex_);
    return useHardwareAcceleration_;
}

bool VideoDecoder::hardwareAccelerationUsed() const
{
    std::lock_guard lock(queueMutex_);
    return hardwareAccelerationUsed_;
}

Eigen::Vector2i VideoDecoder::detectedImageSize() const
{
    std::lock_guard lock(sizeMutex_);
    return {width_, height_};
}

double VideoDecoder::estimatedFPS() const
{
    std::lock_guard lock(statsMutex_);
    return framesPerSecond_;
}

std::uint64_t VideoDecoder::estimatedBytesPerSeconds() const
{
    std::lock_guard lock(statsMutex_);
    return bytesPerSecond_;
}

void VideoDecoder::freeContext()
{
    avcodec_free_context(&context_);
}

void VideoDecoder::decodeLoop()
{
    // Hardware-decoded images become textures made on this thread.
    if (GL::ContextManager::get().isAvailable())
        GL::ContextManager::get().ensureLocalContext();
    if (!initDecoder())
        return;
    for (;;) {
        std::unique_ptr<ByteBuffer> packet;
        bool restart = false;
        {
            std::unique_lock lock(queueMutex_);
            queueWake_.wait(lock, [this] { return stopRequested_ || !queue_.empty(); });
            if (stopRequested_) {
                lock.unlock();
                freeContext();
                return;
            }
            packet = std::move(queue_.front());
            queue_.pop_front();
            restart = restartRequested_;
        }
        const Eigen::Vector2i size = detectedImageSize();
        if (restart && size.x() >= 1 && size.y() >= 1) {
            if (!initDecoder())
                return;
            std::lock_guard lock(queueMutex_);
            restartRequested_ = false;
        }
        decodeFrame(*packet);
    }
}

bool VideoDecoder::initDecoder()
{
    freeContext();
    bool wantHardware = false;
    {
        std::lock_guard lock(queueMutex_);
        wantHardware = useHardwareAcceleration_;
        hardwareAccelerationUsed_ = false;
    }
    // The device is tried before the decoder is chosen: FFmpeg's own AV1 decoder decodes only with a
    // hardware device, so without one the AV1 codecs use libaom's decoder instead.
    AVBufferRef* device = nullptr;
    const bool mpeg4 = decoderNameFor(codec_, false) == "mpeg4";
    if (wantHardware && mpeg4) {
        Log::log(Log::Level::Info, kCategory,
                 "Hardware acceleration is not supported for 'mpeg4'. Option ignored!");
    } else if (wantHardware) {
        Log::log(Log::Level::Info, kCategory, "Requesting hardware acceleration");
        const AVHWDeviceType types[] = {AV_HWDEVICE_TYPE_CUDA};
        for (AVHWDeviceType type : types) {
            if (av_hwdevice_ctx_create(&device, type, nullptr, nullptr, 0) >= 0) {
                Log::log(Log::Level::Info, kCategory,
                         std::string("Using '") + av_hwdevice_get_type_name(type) +
                             "' hardware acceleration for decoding");
                break;
            }
            device = nullptr;
        }
        if (device == nullptr)
            Log::log(Log::Level::Warning, kCategory,
                     "Could not find any device for hardware acceleration, reverting to CPU based decoding");
    }
    const std::string name = decoderNameFor(codec_, device != nullptr);
    const Eigen::Vector2i size = detectedImageSize();
    Log::log(Log::Level::Info, kCategory,
             fmt::format("[Client] Configuring VideoDecoder to: {}x{} | codec decoder: {}", size.x(),
                         size.y(), name));
    const AVCodec* codec = avcodec_find_decoder_by_name(name.c_str());
    context_ = codec != nullptr ? avcodec_alloc_context3(codec) : nullptr;
    if (context_ == nullptr) {
        av_buffer_unref(&device);
        Log::log(Log::Level::Error, kCategory, "Invalid VideoDecoder, aborting");
        return false;
    }
    if (device != nullptr) {
        // No pixel-format callback: frames come back in FFmpeg's CUDA format with an NV12 layout.
        context_->hw_device_ctx = av_buffer_ref(device);
        av_buffer_unref(&device);
        std::lock_guard lock(queueMutex_);
        hardwareAccelerationUsed_ = true;
    }
    if (avcodec_open2(context_, codec, nullptr) < 0) {
        Log::log(Log::Level::Error, kCategory, "Invalid VideoDecoder, aborting");
        freeContext();
        return false;
    }
    return true;
}

void VideoDecoder::restartWithoutHardwareAcceleration()
{
    {
        std::lock_guard lock(queueMutex_);
        if (hardwareAccelerationUsed_) {
            useHardwareAcceleration_ = false;
            hardwareAccelerationUsed_ = false;
            Log::log(Log::Level::Info, kCategory, "Decoding failed! retrying without hardware acceleration");
        }
    }
    restartDecoder();
}

void VideoDecoder::decodeFrame(const ByteBuffer& buffer)
{
    const std::optional<VideoPacketHeader> header = VideoPacketHeader::read(buffer.view());
    if (!header) {
        Log::log(Log::Level::Error, kCategory,
                 "malformed video packet of " + std::to_string(buffer.size()) + " bytes, dropped");
        return;
    }
    AVFrame* frame = av_frame_alloc();
    AVPacket* packet = av_packet_alloc();
    const auto release = [&] {
        av_frame_free(&frame);
        av_packet_free(&packet);
    };
    if (frame == nullptr || packet == nullptr) {
        Log::log(Log::Level::Error, kCategory,
                 frame == nullptr ? "failed to allocate frame" : "failed to allocate packet");
        release();
        return;
    }
    if (header->codec != codec_ || context_ == nullptr) {
        codec_ = header->codec;
        if (!initDecoder()) {
            release();
            return;
        }
    }
    {
        std::lock_guard lock(statsMutex_);
        records_.push_back({header->frameIndex, header->sendTimeMs, nowMs(), buffer.size()});
        if (header->frameIndex != lastFrameIndex_ + 1)
            Log::log(Log::Level::Error, kCategory,
                     "Gap in frame ids: " + std::to_string(lastFrameIndex_) + " -> " +
                         std::to_string(header->frameIndex));
        lastFrameIndex_ = header->frameIndex;
    }
    // The packet borrows the payload; the decoder copies what it keeps.
    packet->data = const_cast<std::uint8_t*>(buffer.data()) + VideoPacketHeader::kSize;
    packet->size = header->payloadSize;

    int rc = avcodec_send_packet(context_, packet);
    if (rc != 0) {
        Log::log(Log::Level::Error, kCategory, "failed on avcodec_send_packet, " + resultText(rc));
        release();
        restartWithoutHardwareAcceleration();
        return;
    }
    rc = avcodec_receive_frame(context_, frame);
    if (rc != 0) {
        Log::log(Log::Level::Error, kCategory, "failed on avcodec_receive_frame, " + resultText(rc));
        release();
        restartWithoutHardwareAcceleration();
        return;
    }
    std::shared_ptr<SharedImage> image =
        frame->format == AV_PIX_FMT_CUDA ? hardwareImage(frame) : softwareImage(frame);
    const Eigen::Vector2i size = detectedImageSize();
    if (header->width != size.x() || header->height != size.y()) {
        {
            std::lock_guard lock(sizeMutex_);
            width_ = header->width;
            height_ = header->height;
        }
        restartDecoder();
    }
    release();
    if (image)
        signalImageDecoded.emitSignal(image);
}

std::shared_ptr<SharedImage> VideoDecoder::softwareImage(AVFrame* frame)
{
    auto rgb = TypedImage<std::uint8_t>::create(frame->width, frame->height, 1, 3, false);
    if (!rgb)
        return nullptr;
    scaler_ = sws_getCachedContext(scaler_, frame->width, frame->height,
                                   static_cast<AVPixelFormat>(frame->format), frame->width, frame->height,
                                   AV_PIX_FMT_RGB24, SWS_FAST_BILINEAR, nullptr, nullptr, nullptr);
    if (scaler_ == nullptr) {
        Log::log(Log::Level::Error, kCategory, "Cannot initialize the color conversion context");
        return nullptr;
    }
    std::uint8_t* planes[4] = {rgb->pointer(), nullptr, nullptr, nullptr};
    const int strides[4] = {frame->width * 3, 0, 0, 0};
    sws_scale(scaler_, frame->data, frame->linesize, 0, frame->height, planes, strides);
    return std::make_shared<SharedImage>(std::unique_ptr<MemImage>(std::move(rgb)));
}

std::shared_ptr<SharedImage> VideoDecoder::hardwareImage(AVFrame* frame)
{
    const ImageDescriptor descriptor(ImageDescriptor::kUByte, frame->width, frame->height, 1, 4);
    std::unique_ptr<GlImage> texture = GlImage::create(descriptor);
    if (!texture)
        return nullptr;
    if (ColorConverter::gpuKernelAvailable()) {
        const std::string error =
            ColorConverter::nv12ToGlTexture(texture->texture(), frame->data[0], frame->linesize[0],
                                            frame->data[1], frame->linesize[1], frame->width, frame->height);
        if (error.rfind("CUDA ERROR: ", 0) == 0) {
            Log::log(Log::Level::Error, kCategory, error);
        } else if (!error.empty()) {
            Log::log(Log::Level::Error, kCategory, "Could not decode image on GPU");
            Log::log(Log::Level::Debug, kCategory, "GPU conversion: " + error);
        }
        return std::make_shared<SharedImage>(std::move(texture));
    }
    // Built without the kernel: fetch the NV12 picture and convert it with the same formula here.
    AVFrame* host = av_frame_alloc();
    auto rgba = TypedImage<std::uint8_t>::create(descriptor, false);
    if (host != nullptr && rgba && av_hwframe_transfer_data(host, frame, 0) >= 0 &&
        host->format == AV_PIX_FMT_NV12) {
        ColorConverter::nv12ToRgba(host->data[0], host->linesize[0], host->data[1], host->linesize[1],
                                   frame->width, frame->height, rgba->pointer(), frame->width * 4);
        texture->upload(*rgba);
    } else {
        Log::log(Log::Level::Error, kCategory, "Could not decode image on GPU");
    }
    av_frame_free(&host);
    return std::make_shared<SharedImage>(std::move(texture));
}

void VideoDecoder::statsEstimationLoop()
{
    constexpr int kStepsPerSecond = 5;
    for (;;) {
        for (int step = 0; step < kStepsPerSecond * kStatsWindowSeconds; ++step) {
            std::unique_lock lock(queueMutex_);
            // Woken early by stop(); otherwise one 200 ms step.
            if (queueWake_.wait_for(lock, std::chrono::milliseconds(200), [this] { return stopRequested_; }))
                return;
        }
        std::lock_guard lock(statsMutex_);
        std::uint64_t bytes = 0;
        for (const auto& record : records_)
            bytes += record.bytes;
        bytesPerSecond_ = bytes / kStatsWindowSeconds;
        framesPerSecond_ = static_cast<double>(records_.size()) / static_cast<double>(kStatsWindowSeconds);
        records_.clear();
    }
}

}  // namespace Corvexis
