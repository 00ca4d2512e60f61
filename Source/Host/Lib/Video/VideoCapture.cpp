#include "Host/Lib/Video/VideoCapture.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

namespace Corvexis::FFmpegHelper {

namespace {

std::string errorText(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof(text));
    return text;
}

double rateOf(AVRational r)
{
    return (r.num > 0 && r.den > 0) ? av_q2d(r) : 0.0;
}

}  // namespace

struct VideoCapture::Impl
{
    std::string path;
    AVFormatContext* format = nullptr;
    AVCodecContext* decoder = nullptr;
    SwsContext* scaler = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    int streamIndex = -1;
    AVRational timeBase{1, 1};
    int width = 0;
    int height = 0;
    int frameCount = 0;
    double rate = 0.0;
    int forwardDecodeLimit = 100;
    // Presentation time stamps of every frame, ascending (empty when not indexed).
    std::vector<std::int64_t> timestamps;

    // Index the next read must return.
    int wanted = 0;
    // Index of the frame the decoder produces next if nothing is discarded; -1 when unknown (after a
    // seek, until the first frame tells).
    int decoded = 0;
    bool flushed = false;  // end of input sent to the decoder
    bool inputEnded = false;
    std::string lastError;

    ~Impl()
    {
        sws_freeContext(scaler);
        av_frame_free(&frame);
        av_packet_free(&packet);
        avcodec_free_context(&decoder);
        avformat_close_input(&format);
    }

    [[noreturn]] void fail(const std::string& what, int code = 0) const
    {
        std::string text = "Cannot read video '" + path + "': " + what;
        if (code != 0)
            text += " (" + errorText(code) + ")";
        throw std::runtime_error(text);
    }

    void open(bool indexFrames)
    {
        int rc = avformat_open_input(&format, path.c_str(), nullptr, nullptr);
        if (rc < 0)
            fail("the file cannot be opened", rc);
        rc = avformat_find_stream_info(format, nullptr);
        if (rc < 0)
            fail("the stream information cannot be read", rc);
        const AVCodec* codec = nullptr;
        streamIndex = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
        if (streamIndex < 0)
            fail("it has no video stream", streamIndex);
        if (codec == nullptr)
            fail("no decoder for its video codec");
        AVStream* stream = format->streams[streamIndex];
        timeBase = stream->time_base;
        decoder = avcodec_alloc_context3(codec);
        packet = av_packet_alloc();
        frame = av_frame_alloc();
        if (decoder == nullptr || packet == nullptr || frame == nullptr)
            fail("out of memory");
        rc = avcodec_parameters_to_context(decoder, stream->codecpar);
        if (rc < 0)
            fail("the codec parameters are invalid", rc);
        decoder->thread_count = 0;  // as many as the machine has
        decoder->pkt_timebase = timeBase;
        rc = avcodec_open2(decoder, codec, nullptr);
        if (rc < 0)
            fail(std::string("the decoder '") + codec->name + "' cannot be opened", rc);
        width = decoder->width;
        height = decoder->height;
        if (width <= 0 || height <= 0)
            fail("the video has no size");
        rate = rateOf(stream->avg_frame_rate);
        if (rate <= 0.0)
            rate = rateOf(stream->r_frame_rate);
        if (indexFrames)
            index();
        else if (stream->nb_frames > 0)
            frameCount =
                static_cast<int>(std::min<std::int64_t>(stream->nb_frames, std::numeric_limits<int>::max()));
        else if (format->duration > 0 && rate > 0.0)
            frameCount = static_cast<int>(std::llround(format->duration / double(AV_TIME_BASE) * rate));
    }

    // Reads every packet of the video stream once, keeping its time stamp, then rewinds.
    void index()
    {
        std::int64_t previous = AV_NOPTS_VALUE;
        bool complete = true;
        while (av_read_frame(format, packet) >= 0) {
            if (packet->stream_index == streamIndex) {
                std::int64_t ts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
                if (ts == AV_NOPTS_VALUE) {
                    complete = false;
                    ts = previous == AV_NOPTS_VALUE ? 0
                                                    : previous + std::max<std::int64_t>(packet->duration, 1);
                }
                timestamps.push_back(ts);
                previous = ts;
            }
            av_packet_unref(packet);
        }
        std::sort(timestamps.begin(), timestamps.end());
        frameCount = static_cast<int>(timestamps.size());
        if (!complete)
            timestamps.clear();  // guessed stamps would mislead; fall back to counting frames
        if (!seekTo(0))
            fail("it cannot be rewound after indexing");
        if (frameCount == 0)
            fail("its video stream has no frames");
    }

    std::int64_t timestampOf(int frameIndex) const
    {
        if (!timestamps.empty())
            return timestamps[static_cast<std::size_t>(frameIndex)];
        AVStream* stream = format->streams[streamIndex];
        const std::int64_t start = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
        if (rate <= 0.0)
            return start;
        return start + static_cast<std::int64_t>(std::llround(frameIndex / rate / av_q2d(timeBase)));
    }

    // Positions the demuxer at the key frame at or before `frameIndex`.
    bool seekTo(int frameIndex)
    {
        avcodec_flush_buffers(decoder);
        flushed = false;
        inputEnded = false;
        int rc = -1;
        if (frameIndex > 0)
            rc = av_seek_frame(format, streamIndex, timestampOf(frameIndex), AVSEEK_FLAG_BACKWARD);
        if (rc < 0 || frameIndex == 0) {
            // To the very start: by time, or by byte for formats without time seeking (gif).
            rc = avformat_seek_file(format, streamIndex, std::numeric_limits<std::int64_t>::min(), 0, 0, 0);
            if (rc < 0)
                rc = av_seek_frame(format, streamIndex, 0, AVSEEK_FLAG_BYTE);
            decoded = 0;
            return rc >= 0;
        }
        decoded = -1;
        return true;
    }

    // The index of the frame just decoded.
    int indexOfFrame()
    {
        const std::int64_t ts = frame->best_effort_timestamp;
        if (ts != AV_NOPTS_VALUE && !timestamps.empty()) {
            auto it = std::lower_bound(timestamps.begin(), timestamps.end(), ts);
            if (it != timestamps.end() && *it == ts)
                return static_cast<int>(it - timestamps.begin());
        }
        if (decoded >= 0)
            return decoded;
        if (ts != AV_NOPTS_VALUE && rate > 0.0) {
            AVStream* stream = format->streams[streamIndex];
            const std::int64_t start = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
            return static_cast<int>(std::llround((ts - start) * av_q2d(timeBase) * rate));
        }
        return 0;
    }

    // Decodes the next frame in presentation order into `frame`. 0: a frame; AVERROR_EOF: end.
    int decodeNext()
    {
        for (;;) {
            int rc = avcodec_receive_frame(decoder, frame);
            if (rc == 0)
                return 0;
            if (rc != AVERROR(EAGAIN))
                return rc;
            if (flushed)
                return AVERROR_EOF;
            rc = av_read_frame(format, packet);
            if (rc < 0) {
                inputEnded = true;
                flushed = true;
                avcodec_send_packet(decoder, nullptr);
                continue;
            }
            if (packet->stream_index == streamIndex) {
                rc = avcodec_send_packet(decoder, packet);
                if (rc < 0 && rc != AVERROR(EAGAIN) && rc != AVERROR_INVALIDDATA) {
                    av_packet_unref(packet);
                    return rc;
                }
            }
            av_packet_unref(packet);
        }
    }

    bool convert(std::uint8_t* buffer, int dstWidth, int dstHeight, int channels)
    {
        AVPixelFormat target = AV_PIX_FMT_RGB24;
        if (channels == 1)
            target = AV_PIX_FMT_GRAY8;
        else if (channels == 4)
            target = AV_PIX_FMT_RGBA;
        else if (channels != 3) {
            lastError = "unsupported channel count " + std::to_string(channels);
            return false;
        }
        const auto source = static_cast<AVPixelFormat>(frame->format);
        // Bicubic, as FFmpeg's own command-line conversion, so that both give the same pixels.
        scaler = sws_getCachedContext(scaler, frame->width, frame->height, source, dstWidth, dstHeight,
                                      target, SWS_BICUBIC, nullptr, nullptr, nullptr);
        if (scaler == nullptr) {
            lastError = "no conversion from this pixel format";
            return false;
        }
        // Colour matrix and range as the frame states them (unspecified: BT.601 limited range).
        const int* coefficients = sws_getCoefficients(frame->colorspace);
        const int fullRange = frame->color_range == AVCOL_RANGE_JPEG ? 1 : 0;
        sws_setColorspaceDetails(scaler, coefficients, fullRange, sws_getCoefficients(SWS_CS_DEFAULT), 1, 0,
                                 1 << 16, 1 << 16);
        std::uint8_t* planes[4] = {buffer, nullptr, nullptr, nullptr};
        int strides[4] = {dstWidth * channels, 0, 0, 0};
        sws_scale(scaler, frame->data, frame->linesize, 0, frame->height, planes, strides);
        return true;
    }

    bool read(std::uint8_t* buffer, int dstWidth, int dstHeight, int channels, double& time)
    {
        lastError.clear();
        if (buffer == nullptr || dstWidth <= 0 || dstHeight <= 0) {
            lastError = "invalid destination";
            return false;
        }
        if (frameCount > 0 && wanted >= frameCount && !timestamps.empty()) {
            lastError = "end of video";
            return false;
        }
        const bool sequential = decoded >= 0 && wanted >= decoded && wanted - decoded < forwardDecodeLimit;
        if (!sequential && !seekTo(wanted)) {
            lastError = "seek failed";
            return false;
        }
        bool rewound = false;
        for (;;) {
            const int rc = decodeNext();
            if (rc != 0) {
                lastError = rc == AVERROR_EOF ? "end of video" : errorText(rc);
                return false;
            }
            const int got = indexOfFrame();
            decoded = got + 1;
            if (got < wanted) {
                av_frame_unref(frame);
                continue;
            }
            if (got > wanted && !rewound) {
                // The seek landed after the target (an inexact index): decode from the start instead.
                av_frame_unref(frame);
                rewound = true;
                if (!seekTo(0)) {
                    lastError = "seek failed";
                    return false;
                }
                continue;
            }
            const std::int64_t ts = frame->best_effort_timestamp;
            time = ts != AV_NOPTS_VALUE ? ts * av_q2d(timeBase) : (rate > 0.0 ? got / rate : 0.0);
            const bool ok = convert(buffer, dstWidth, dstHeight, channels);
            av_frame_unref(frame);
            wanted = got + 1;
            return ok;
        }
    }
};

VideoCapture::VideoCapture(const std::string& path, bool indexFrames, int forwardDecodeLimit)
    : impl_(std::make_unique<Impl>())
{
    impl_->path = path;
    impl_->forwardDecodeLimit = std::max(1, forwardDecodeLimit);
    impl_->open(indexFrames);
}

VideoCapture::~VideoCapture() = default;

int VideoCapture::width() const
{
    return impl_->width;
}

int VideoCapture::height() const
{
    return impl_->height;
}

int VideoCapture::numberOfFrames() const
{
    return impl_->frameCount;
}

double VideoCapture::fps() const
{
    return impl_->rate;
}

int VideoCapture::position() const
{
    return impl_->wanted;
}

bool VideoCapture::setPosition(int frame)
{
    if (frame < 0)
        return false;
    if (impl_->frameCount > 0)
        frame = std::min(frame, impl_->frameCount - 1);
    impl_->wanted = frame;
    return true;
}

bool VideoCapture::readNextFrameResized(std::uint8_t* buffer, int width, int height, int channels,
                                        double& time)
{
    return impl_->read(buffer, width, height, channels, time);
}

bool VideoCapture::readNextFrame(std::uint8_t* buffer, int channels, double& time)
{
    return impl_->read(buffer, impl_->width, impl_->height, channels, time);
}

const std::string& VideoCapture::lastError() const
{
    return impl_->lastError;
}

}  // namespace Corvexis::FFmpegHelper
