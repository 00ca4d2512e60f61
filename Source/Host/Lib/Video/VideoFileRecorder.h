#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "Host/Core/TypedImage.h"

namespace Corvexis {

// Writes 8-bit images one at a time into a video file through FFmpeg: any container FFmpeg can mux
// and any video encoder it offers, with encoder options as key/value pairs.
//
// The file is written under a temporary name (the path plus ".partial") and renamed to the path only
// by finalize(), so a recording that fails or is abandoned never stands under its final name.
//
// Images whose size differs from the configured one are scaled; 1 (grey), 3 (RGB) and 4 (RGBA)
// channels are accepted. Frame time stamps count frames at the configured rate.
//
// Not thread-safe: caller synchronises.
class VideoFileRecorder
{
public:
    using Options = std::vector<std::pair<std::string, std::string>>;

    // Output pixel formats: the encoder's own preferred format, or planar YUV 4:2:0 (what players
    // expect; used when the encoder supports it, else the encoder's preferred format).
    enum OutputPixelFormat : int
    {
        EncoderDefault = 0,
        Yuv420 = 1,
    };

    VideoFileRecorder();
    // An unfinished recording is abandoned (as clear()).
    ~VideoFileRecorder();
    VideoFileRecorder(const VideoFileRecorder&) = delete;
    VideoFileRecorder& operator=(const VideoFileRecorder&) = delete;

    // Opens the encoder and the temporary file and writes the header. `container` is an FFmpeg muxer
    // name ("matroska", "mp4"); empty picks it from the path's extension. Returns 0 on success, else a
    // negative FFmpeg error code; lastError() then explains (for a missing or unusable encoder it lists
    // the video encoders this FFmpeg build offers). A recording in progress is abandoned first.
    int initialize(int width, int height, int fps, int outputPixelFormat, const std::string& container,
                   const std::string& encoder, const Options& options, const std::string& path);

    // Encodes one image. False (and ok() false from then on) when writing fails; false without effect
    // when not initialised or the image is not 1, 3 or 4 channels of one slice.
    bool encodeFrame(const TypedImage<std::uint8_t>& image);

    // Flushes the encoder, writes the trailer, closes and renames the file. False when nothing was
    // being recorded or writing failed (the temporary file is then removed).
    bool finalize();

    // Abandons the recording: closes and removes the temporary file.
    void clear();

    // Initialised and no write failed since.
    bool ok() const;
    // Frames encoded since initialize.
    std::int64_t frameCount() const;
    const std::string& lastError() const;

    // The names of the video encoders this FFmpeg build offers, without hardware-only ones when
    // `softwareOnly`, sorted.
    static std::vector<std::string> availableEncoders(bool softwareOnly);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace Corvexis
