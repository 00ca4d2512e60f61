#include "Host/Lib/Video/VideoFileRecorder.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

namespace Corvexis {

namespace {

std::string errorText(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof(text));
    return text;
}

std::string joined(const std::vector<std::string>& names)
{
    std::string text;
    for (const auto& name : names)
        text += (text.empty() ? "" : ", ") + name;
    return text;
}

}  // namespace

struct VideoFileRecorder::Impl
{
    AVFormatContext* format = nullptr;
    AVCodecContext* encoder = nullptr;
    AVStream* stream = nullptr;
    SwsContext* scaler = nullptr;
    AVFrame* frame = nullptr;
    AVPacket* packet = nullptr;
    std::string path;
    std::string temporaryPath;
    bool open = false;
    bool failed = false;
    std::int64_t frames = 0;
    std::string lastError;

    ~Impl() { release(true); }

    void release(bool removeFile)
    {
        if (format != nullptr && format->pb != nullptr)
            avio_closep(&format->pb);
        avformat_free_context(format);
        format = nullptr;
        stream = nullptr;
        avcodec_free_context(&encoder);
        sws_freeContext(scaler);
        scaler = nullptr;
        av_frame_free(&frame);
        av_packet_free(&packet);
        if (removeFile && !temporaryPath.empty()) {
            std::error_code ec;
            std::filesystem::remove(temporaryPath, ec);
        }
        temporaryPath.clear();
        open = false;
    }

    int fail(int code, const std::string& what)
    {
        lastError = what;
        if (code < 0 && what.find(errorText(code)) == std::string::npos)
            lastError += " (" + errorText(code) + ")";
        release(true);
        return code < 0 ? code : AVERROR_UNKNOWN;
    }

    // Sends `input` (null: flush) and writes every packet the encoder returns.
    bool writePackets(const AVFrame* input)
    {
        int rc = avcodec_send_frame(encoder, input);
        if (rc < 0 && !(input == nullptr && rc == AVERROR_EOF)) {
            lastError = "the encoder refused a frame: " + errorText(rc);
            return false;
        }
        for (;;) {
            rc = avcodec_receive_packet(encoder, packet);
            if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF)
                return true;
            if (rc < 0) {
                lastError = "the encoder failed: " + errorText(rc);
                return false;
            }
            av_packet_rescale_ts(packet, encoder->time_base, stream->time_base);
            packet->stream_index = stream->index;
            rc = av_interleaved_write_frame(format, packet);
            av_packet_unref(packet);
            if (rc < 0) {
                lastError = "writing '" + temporaryPath + "' failed: " + errorText(rc);
                return false;
            }
        }
    }
};

VideoFileRecorder::VideoFileRecorder() : impl_(std::make_unique<Impl>()) {}

VideoFileRecorder::~VideoFileRecorder() = default;

std::vector<std::string> VideoFileRecorder::availableEncoders(bool softwareOnly)
{
    std::vector<std::string> names;
    void* state = nullptr;
    while (const AVCodec* codec = av_codec_iterate(&state)) {
        if (!av_codec_is_encoder(codec) || codec->type != AVMEDIA_TYPE_VIDEO)
            continue;
        if (softwareOnly && (codec->capabilities & AV_CODEC_CAP_HARDWARE) != 0)
            continue;
        names.emplace_back(codec->name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

int VideoFileRecorder::initialize(int width, int height, int fps, int outputPixelFormat,
                                  const std::string& container, const std::string& encoderName,
                                  const Options& options, const std::string& path)
{
    Impl& d = *impl_;
    d.release(true);
    d.failed = false;
    d.frames = 0;
    d.lastError.clear();
    if (width <= 0 || height <= 0 || fps <= 0)
        return d.fail(AVERROR(EINVAL), "invalid size " + std::to_string(width) + "x" +
                                           std::to_string(height) + " or rate " + std::to_string(fps));
    if (path.empty())
        return d.fail(AVERROR(EINVAL), "no output path");
    const AVCodec* codec = avcodec_find_encoder_by_name(encoderName.c_str());
    const std::string offered =
        "; video encoders this FFmpeg build offers: " + joined(availableEncoders(true));
    if (codec == nullptr || codec->type != AVMEDIA_TYPE_VIDEO)
        return d.fail(AVERROR_ENCODER_NOT_FOUND, "no video encoder named '" + encoderName + "'" + offered);

    d.path = path;
    d.temporaryPath = path + ".partial";
    int rc = avformat_alloc_output_context2(&d.format, nullptr,
                                            container.empty() ? nullptr : container.c_str(), path.c_str());
    if (rc < 0 || d.format == nullptr)
        return d.fail(rc, "unknown container '" + (container.empty() ? path : container) + "'");

    d.encoder = avcodec_alloc_context3(codec);
    d.frame = av_frame_alloc();
    d.packet = av_packet_alloc();
    if (d.encoder == nullptr || d.frame == nullptr || d.packet == nullptr)
        return d.fail(AVERROR(ENOMEM), "out of memory");
    d.encoder->width = width;
    d.encoder->height = height;
    d.encoder->time_base = AVRational{1, fps};
    d.encoder->framerate = AVRational{fps, 1};
    d.encoder->sample_aspect_ratio = AVRational{1, 1};
    AVPixelFormat pixelFormat = codec->pix_fmts != nullptr ? codec->pix_fmts[0] : AV_PIX_FMT_YUV420P;
    if (outputPixelFormat == Yuv420 && codec->pix_fmts != nullptr) {
        for (const AVPixelFormat* p = codec->pix_fmts; *p != AV_PIX_FMT_NONE; ++p)
            if (*p == AV_PIX_FMT_YUV420P)
                pixelFormat = AV_PIX_FMT_YUV420P;
    }
    d.encoder->pix_fmt = pixelFormat;
    if (d.format->oformat->flags & AVFMT_GLOBALHEADER)
        d.encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;

    AVDictionary* dictionary = nullptr;
    for (const auto& [key, value] : options)
        av_dict_set(&dictionary, key.c_str(), value.c_str(), 0);
    rc = avcodec_open2(d.encoder, codec, &dictionary);
    std::string unused;
    const AVDictionaryEntry* entry = nullptr;
    while ((entry = av_dict_get(dictionary, "", entry, AV_DICT_IGNORE_SUFFIX)) != nullptr)
        unused += std::string(unused.empty() ? "" : ", ") + entry->key;
    av_dict_free(&dictionary);
    if (rc < 0) {
        std::string why = "the encoder '" + encoderName + "' cannot be opened: " + errorText(rc);
        if ((codec->capabilities & AV_CODEC_CAP_HARDWARE) != 0 ||
            encoderName.find("nvenc") != std::string::npos || encoderName.find("qsv") != std::string::npos)
            why += "; it needs graphics hardware and its driver, which this machine does not offer";
        return d.fail(rc, why + offered);
    }
    if (!unused.empty())
        return d.fail(AVERROR(EINVAL),
                      "the encoder '" + encoderName + "' does not know the options: " + unused);

    d.stream = avformat_new_stream(d.format, nullptr);
    if (d.stream == nullptr)
        return d.fail(AVERROR(ENOMEM), "out of memory");
    d.stream->time_base = d.encoder->time_base;
    d.stream->avg_frame_rate = d.encoder->framerate;
    rc = avcodec_parameters_from_context(d.stream->codecpar, d.encoder);
    if (rc < 0)
        return d.fail(rc, "the codec parameters cannot be stored");

    rc = avio_open(&d.format->pb, d.temporaryPath.c_str(), AVIO_FLAG_WRITE);
    if (rc < 0)
        return d.fail(rc, "cannot create '" + d.temporaryPath + "'");
    rc = avformat_write_header(d.format, nullptr);
    if (rc < 0)
        return d.fail(rc, "the container header cannot be written");

    d.frame->format = pixelFormat;
    d.frame->width = width;
    d.frame->height = height;
    rc = av_frame_get_buffer(d.frame, 0);
    if (rc < 0)
        return d.fail(rc, "cannot allocate a frame");
    d.open = true;
    return 0;
}

bool VideoFileRecorder::encodeFrame(const TypedImage<std::uint8_t>& image)
{
    Impl& d = *impl_;
    if (!d.open || d.failed)
        return false;
    AVPixelFormat source = AV_PIX_FMT_NONE;
    switch (image.channels()) {
        case 1:
            source = AV_PIX_FMT_GRAY8;
            break;
        case 3:
            source = AV_PIX_FMT_RGB24;
            break;
        case 4:
            source = AV_PIX_FMT_RGBA;
            break;
        default:
            d.lastError = "images of " + std::to_string(image.channels()) + " channels cannot be recorded";
            return false;
    }
    if (image.slices() != 1 || image.width() <= 0 || image.height() <= 0) {
        d.lastError = "only single-slice images can be recorded";
        return false;
    }
    d.scaler =
        sws_getCachedContext(d.scaler, image.width(), image.height(), source, d.encoder->width,
                             d.encoder->height, d.encoder->pix_fmt, SWS_BICUBIC, nullptr, nullptr, nullptr);
    if (d.scaler == nullptr) {
        d.lastError = "no conversion to the encoder's pixel format";
        return false;
    }
    // The encoder may still hold references to the previous frame's buffers.
    int rc = av_frame_make_writable(d.frame);
    if (rc < 0) {
        d.failed = true;
        d.lastError = "cannot reuse the frame: " + errorText(rc);
        return false;
    }
    const std::uint8_t* planes[4] = {image.pointer(), nullptr, nullptr, nullptr};
    const int strides[4] = {image.width() * image.channels(), 0, 0, 0};
    sws_scale(d.scaler, planes, strides, 0, image.height(), d.frame->data, d.frame->linesize);
    d.frame->pts = d.frames;
    if (!d.writePackets(d.frame)) {
        d.failed = true;
        return false;
    }
    ++d.frames;
    return true;
}

bool VideoFileRecorder::finalize()
{
    Impl& d = *impl_;
    if (!d.open)
        return false;
    bool good = !d.failed && d.writePackets(nullptr);
    if (good) {
        const int rc = av_write_trailer(d.format);
        if (rc < 0) {
            d.lastError = "the container trailer cannot be written: " + errorText(rc);
            good = false;
        }
    }
    if (d.format->pb != nullptr && avio_closep(&d.format->pb) < 0)
        good = false;
    if (good) {
        std::error_code ec;
        std::filesystem::rename(d.temporaryPath, d.path, ec);
        if (ec) {
            d.lastError = "cannot rename '" + d.temporaryPath + "' to '" + d.path + "': " + ec.message();
            good = false;
        } else {
            d.temporaryPath.clear();
        }
    }
    d.release(true);
    return good;
}

void VideoFileRecorder::clear()
{
    impl_->release(true);
    impl_->failed = false;
}

bool VideoFileRecorder::ok() const
{
    return impl_->open && !impl_->failed;
}

std::int64_t VideoFileRecorder::frameCount() const
{
    return impl_->frames;
}

const std::string& VideoFileRecorder::lastError() const
{
    return impl_->lastError;
}

}  // namespace Corvexis
