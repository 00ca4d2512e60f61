#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace Corvexis::FFmpegHelper {

// Reads the video stream of any file the FFmpeg build can demux, frame by frame, with frame-accurate
// positioning.
//
// Frame indices are positions in presentation order. When `indexFrames` is true the constructor scans
// every packet of the video stream once (no decoding), so the frame count is exact and a frame index
// maps to its exact time stamp; otherwise the container's announced count (or duration x rate) is used
// and positions are derived from the nominal rate. Positioning seeks to the key frame at or before the
// target and decodes forward to it, unless the target lies less than `forwardDecodeLimit` frames ahead
// of the current read position, where decoding forward is cheaper than a seek.
//
// Not thread-safe: caller synchronises (one thread at a time per object).
class VideoCapture
{
public:
    // Opens `path`. Throws std::runtime_error naming the file and FFmpeg's reason when the file cannot
    // be opened, has no video stream, or its decoder is missing.
    VideoCapture(const std::string& path, bool indexFrames = true, int forwardDecodeLimit = 100);
    ~VideoCapture();
    VideoCapture(const VideoCapture&) = delete;
    VideoCapture& operator=(const VideoCapture&) = delete;

    int width() const;
    int height() const;
    // Number of frames: exact when indexed, else what the container announces (0 when unknown).
    int numberOfFrames() const;
    // Nominal frames per second (average rate, else the stream's base rate); 0 when unknown.
    double fps() const;
    // Index of the frame the next read returns.
    int position() const;

    // Makes the next read return frame `frame` (clamped to 0 ... numberOfFrames() - 1). The seek itself
    // happens lazily on the next read. False when the index is negative.
    bool setPosition(int frame);

    // Decodes the next frame into `buffer` as 8-bit interleaved pixels of `width` x `height` with
    // `channels` (1 grey, 3 RGB, 4 RGBA), scaling when the size differs; `time` receives its
    // presentation time in seconds. False at the end of the stream or on failure (an error is kept in
    // lastError()). The buffer must hold width x height x channels bytes.
    bool readNextFrameResized(std::uint8_t* buffer, int width, int height, int channels, double& time);
    // As above at the video's own size.
    bool readNextFrame(std::uint8_t* buffer, int channels, double& time);

    // The reason of the last failed read; empty after a successful one.
    const std::string& lastError() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace Corvexis::FFmpegHelper
