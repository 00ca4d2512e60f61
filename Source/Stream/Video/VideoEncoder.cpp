#include "Stream/Video/VideoEncoder.h"

#include <chrono>
#include <cstring>

#include <fmt/format.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include "Host/Core/Log.h"
#include "Host/Core/MemImage.h"
#include "Stream/Video/VideoPacketHeader.h"

namespace Corvexis {

namespace {

constexpr const char* kCategory = "Stream.VideoEncoder";

void logError(const std::string& text)
{
    Log::log(Log::Level::Error, kCategory, text);
}

// Frees what one encodeFrame allocated, whichever way it leaves.
struct FrameAndPacket
{
    AVFrame* frame = av_frame_alloc();
    AVPacket* packet = av_packet_alloc();
    ~FrameAndPacket()
    {
        av_frame_free(&frame);
        av_packet_free(&packet);
    }
};

}  // namespace

VideoEncoder::VideoEncoder(PacketCallback callback) : callback_(std::move(callback)) {}

VideoEncoder::~VideoEncoder()
{
    stop();
    sws_freeContext(scaler_);
    scaler_ = nullptr;
    freeContext();
    std::lock_guard lock(mutex_);
    pendingFrame_.reset();
}

std::string VideoEncoder::codecName(Codec codec)
{
    switch (codec) {
        case Codec::HevcNvenc:
            return "hevc_nvenc";
        case Codec::HevcQsv:
            return "hevc_qsv";
        case Codec::H264Nvenc:
            return "h264_nvenc";
        case Codec::H264Qsv:
            return "h264_qsv";
        case Codec::Av1Nvenc:
            return "av1_nvenc";
        case Codec::LibaomAv1:
            return "libaom-av1";
        case Codec::Mpeg4:
            return "mpeg4";
    }
    return "unknown";
}

std::vector<VideoEncoder::Codec> VideoEncoder::availableCodecs()
{
    std::vector<Codec> codecs;
    std::string names;
    for (int value = 0; value <= 6; ++value) {
        const auto codec = static_cast<Codec>(value);
        if (avcodec_find_encoder_by_name(codecName(codec).c_str()) != nullptr) {
            codecs.push_back(codec);
            names += (names.empty() ? "" : ", ") + codecName(codec);
        }
    }
    Log::log(Log::Level::Debug, kCategory, fmt::format("Available Encoders: {}", names));
    return codecs;
}

bool VideoEncoder::start(Codec codec, int fps, Preset preset)
{
    std::lock_guard startStop(startStopMutex_);
    if (thread_.joinable())
        return false;
    {
        std::lock_guard lock(mutex_);
        codec_ = codec;
        fps_ = fps;
        preset_ = preset;
        stopRequested_ = false;
        pendingFrame_.reset();
        restartRequested_ = true;
    }
    thread_ = std::thread([this] { encodeLoop(); });
    return true;
}

bool VideoEncoder::stop()
{
    std::lock_guard startStop(startStopMutex_);
    if (!thread_.joinable())
        return false;
    {
        std::lock_guard lock(mutex_);
        stopRequested_ = true;
    }
    wake_.notify_all();
    thread_.join();
    return true;
}

void VideoEncoder::feedFrame(std::unique_ptr<MemImage> image)
{
    if (!image)
        return;
    if (image->slices() != 1) {
        logError("Images with multiple slices are not supported");
        return;
    }
    if (image->pixelType() != ImageDescriptor::kUByte) {
        logError("Only 8bit images are accepted");
        return;
    }
    if (image->channels() != 3 && image->channels() != 4) {
        logError("number of channels of the image must be 3 or 4, provided number of channels: " +
                 std::to_string(image->channels()));
        return;
    }
    std::unique_ptr<MemImage> dropped;  // released outside the lock
    {
        std::lock_guard lock(mutex_);
        lastImageProcessed_ = pendingFrame_ == nullptr;
        dropped = std::move(pendingFrame_);
        pendingFrame_ = std::move(image);
    }
    wake_.notify_one();
}

void VideoEncoder::restartEncoder()
{
    std::lock_guard lock(mutex_);
    restartRequested_ = true;
}

bool VideoEncoder::lastImageProcessed() const
{
    std::lock_guard lock(mutex_);
    return lastImageProcessed_;
}

void VideoEncoder::freeContext()
{
    avcodec_free_context(&context_);
}

int VideoEncoder::inputPixelFormat(const std::string& name, int channels)
{
    if (name == "hevc_qsv" || name == "h264_qsv")
        return AV_PIX_FMT_NV12;
    return channels == 4 ? AV_PIX_FMT_RGB0 : AV_PIX_FMT_YUV420P;
}

void VideoEncoder::encodeLoop()
{
    for (;;) {
        std::unique_ptr<MemImage> image;
        bool reconfigure = false;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopRequested_ || pendingFrame_ != nullptr; });
            if (stopRequested_) {
                lock.unlock();
                freeContext();
                return;
            }
            image = std::move(pendingFrame_);
            reconfigure = restartRequested_;
            restartRequested_ = false;
            activeCodec_ = codec_;
            activeFps_ = fps_;
            activePreset_ = preset_;
        }
        if (channels_ < 0) {
            channels_ = image->channels();
        } else if (channels_ != image->channels()) {
            Log::log(Log::Level::Info, kCategory,
                     fmt::format("number of channels changed from {} to {}", channels_, image->channels()));
            channels_ = image->channels();
            reconfigure = true;
        }
        if (image->width() != width_ || image->height() != height_)
            reconfigure = true;
        if (reconfigure) {
            frameIndex_ = 0;
            width_ = image->width();
            height_ = image->height();
            Log::log(Log::Level::Info, kCategory,
                     fmt::format("[Server] Reconfiguring VideoEncoder to: {}x{} | num channels: {}", width_,
                                 height_, channels_));
            if (!initEncoder(width_, height_, channels_)) {
                logError("Invalid VideoEncoder, aborting");
                return;
            }
        }
        std::unique_ptr<ByteBuffer> packet = encodeFrame(*image);
        {
            std::lock_guard lock(mutex_);
            if (stopRequested_) {
                freeContext();
                return;
            }
        }
        if (packet && callback_)
            callback_(std::move(packet), reconfigure);
    }
}

bool VideoEncoder::initEncoder(int width, int height, int channels)
{
    freeContext();
    const std::string name = codecName(activeCodec_);
    if (!tryCodec(name, width, height, channels))
        return false;
    activeName_ = name;
    Log::log(Log::Level::Info, kCategory, "using VideoEncoder '" + name + "'");
    return true;
}

bool VideoEncoder::tryCodec(const std::string& name, int width, int height, int channels)
{
    const AVCodec* codec = avcodec_find_encoder_by_name(name.c_str());
    if (codec == nullptr) {
        Log::log(Log::Level::Debug, kCategory, "could not find VideoEncoder: " + name);
        return false;
    }
    context_ = avcodec_alloc_context3(codec);
    if (context_ == nullptr)
        return false;
    context_->width = width;
    context_->height = height;
    context_->time_base = AVRational{1, activeFps_};
    context_->framerate = AVRational{activeFps_, 1};
    context_->gop_size = 200;
    context_->keyint_min = 1;
    context_->pix_fmt = static_cast<AVPixelFormat>(inputPixelFormat(name, channels));

    const int preset = static_cast<int>(activePreset_);
    const auto unknownPreset = [&] {
        Log::log(Log::Level::Warning, kCategory,
                 "Unknown Preset level: " + std::to_string(preset) + " for codec: " + name);
    };
    AVDictionary* options = nullptr;
    const auto set = [&options](const char* key, const char* value) { av_dict_set(&options, key, value, 0); };
    if (name == "h264_nvenc") {
        set("preset", "llhq");
        set("profile", "main");
        set("delay", "0");
        set("zerolatency", "1");
        set("rc", "vbr");
        set("forced-idr", "1");
        if (preset == 0)
            set("b", "2097152");
        else if (preset == 1)
            set("b", "14680064");
        else if (preset == 2)
            set("b", "20971520");
        else
            unknownPreset();
    } else if (name == "hevc_nvenc" || name == "av1_nvenc") {
        if (name == "hevc_nvenc")
            set("profile", "main");
        set("forced-idr", "1");
        if (preset == 0) {
            set("preset", "p1");
            set("tune", "ull");
        } else if (preset == 1) {
            set("preset", "p3");
            set("tune", "ll");
            set("cq", "29");
        } else if (preset == 2) {
            set("preset", "p4");
            set("tune", "hq");
            set("cq", "9");
        } else {
            unknownPreset();
        }
        if (preset == 0 || preset == 1) {
            set("delay", "0");
            set("zerolatency", "1");
        }
    } else if (name == "libaom-av1") {
        static const char* const kCrf[] = {"38", "30", "20"};
        if (preset >= 0 && preset <= 2) {
            set("crf", kCrf[preset]);
            set("usage", "realtime");
        }
    } else if (name == "h264_qsv" || name == "hevc_qsv") {
        set("profile", "main");
        set("preset", "veryfast");
    } else if (name == "mpeg4") {
        static const int kQmin[] = {29, 18, 3};
        context_->flags |= AV_CODEC_FLAG_QSCALE;
        if (preset >= 0 && preset <= 2)
            context_->qmin = kQmin[preset];
    } else {
        logError("unsupported VideoEncoder: " + name);
        freeContext();
        return false;
    }
    const int rc = avcodec_open2(context_, codec, &options);
    av_dict_free(&options);
    if (rc < 0) {
        logError("Could not use: " + name +
                 " codec. Possible reasons: unsupported hardware, or faulty codec options");
        freeContext();
        return false;
    }
    return true;
}

std::unique_ptr<ByteBuffer> VideoEncoder::encodeFrame(const MemImage& image)
{
    FrameAndPacket fp;
    if (fp.frame == nullptr) {
        logError("could not allocate frame");
        return nullptr;
    }
    if (fp.packet == nullptr) {
        logError("could not allocate packet");
        return nullptr;
    }
    AVFrame* frame = fp.frame;
    const int channels = image.channels();
    const auto pixelFormat = static_cast<AVPixelFormat>(inputPixelFormat(activeName_, channels));
    frame->width = width_;
    frame->height = height_;
    frame->format = pixelFormat;
    frame->sample_aspect_ratio = AVRational{1, 1};
    frame->pts = frameIndex_;
    // The receiver reopens its decoder after the first packet, so the second must be decodable alone too.
    if (frameIndex_ == 0 || frameIndex_ == 1)
        frame->pict_type = AV_PICTURE_TYPE_I;

    if (channels == 4 && pixelFormat == AV_PIX_FMT_RGB0) {
        // The encoder takes the pixels as they are; it copies them since the frame owns no buffer.
        frame->data[0] = const_cast<std::uint8_t*>(static_cast<const std::uint8_t*>(image.data()));
        frame->linesize[0] = width_ * 4;
    } else if (channels == 3 || channels == 4) {
        if (av_frame_get_buffer(frame, 32) < 0) {
            logError("could not get ffmpeg frame buffer");
            return nullptr;
        }
        const AVPixelFormat source = channels == 3 ? AV_PIX_FMT_RGB24 : AV_PIX_FMT_RGBA;
        scaler_ = sws_getCachedContext(scaler_, image.width(), image.height(), source, width_, height_,
                                       pixelFormat, SWS_FAST_BILINEAR, nullptr, nullptr, nullptr);
        if (scaler_ == nullptr) {
            logError("Cannot initialize the color conversion context");
            return nullptr;
        }
        const std::uint8_t* planes[4] = {static_cast<const std::uint8_t*>(image.data()), nullptr, nullptr,
                                         nullptr};
        const int strides[4] = {image.width() * channels, 0, 0, 0};
        sws_scale(scaler_, planes, strides, 0, image.height(), frame->data, frame->linesize);
    } else {
        logError("wrong number of channels");
        return nullptr;
    }

    if (avcodec_send_frame(context_, frame) < 0) {
        logError("failed to send the frame to VideoEncoder");
        return nullptr;
    }
    if (avcodec_receive_packet(context_, fp.packet) < 0) {
        logError("failed to receive the packet from VideoEncoder");
        return nullptr;
    }

    VideoPacketHeader header;
    header.codec = static_cast<std::int32_t>(activeCodec_);
    header.frameIndex = frameIndex_;
    header.sendTimeMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count();
    header.width = width_;
    header.height = height_;
    header.payloadSize = fp.packet->size;
    auto buffer =
        std::make_unique<ByteBuffer>(VideoPacketHeader::kSize + static_cast<std::size_t>(fp.packet->size));
    header.write(buffer->data());
    if (fp.packet->size > 0)
        std::memcpy(buffer->data() + VideoPacketHeader::kSize, fp.packet->data,
                    static_cast<std::size_t>(fp.packet->size));
    ++frameIndex_;
    return buffer;
}

}  // namespace Corvexis
