#pragma once

#include <any>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Host/Core/Properties.h"
#include "Stream/Framework/ImageStream.h"

namespace Corvexis {

class StreamFps;

// Base of the camera streams: a device, the frame formats it offers, the format in use and the measured
// frame rate. Back-ends (see VideoCameraIoFactory) derive from it and capture; cameras with controls
// also hand out VideoStreamSettings objects through getSettings().
//
// Threading: as ImageStream. deviceInfo() is fixed at construction; the current format is guarded by
// formatMutex_; every public operation is thread-safe.
class VideoCameraStream : public ImageStream
{
public:
    struct VideoStreamFrameFormat
    {
        std::int32_t formatIndex = 0;  // the back-end's number for the format
        std::uint64_t width = 0;       // pixels
        std::uint64_t height = 0;      // pixels
        double fps = 0.0;              // frames per second
        std::uint64_t bitsPerPixel = 0;
        std::string codec;  // e.g. the four characters of the pixel format ("YUYV", "MJPG", "RGB3")

        bool operator==(const VideoStreamFrameFormat&) const = default;
    };

    struct VideoCameraDeviceInfo
    {
        std::string displayString;  // device name
        std::string devicePath;     // the device's unique identifier
        std::vector<VideoStreamFrameFormat> formats;
    };

    explicit VideoCameraStream(const std::string& name);
    ~VideoCameraStream() override;

    const VideoCameraDeviceInfo& deviceInfo() const { return deviceInfo_; }
    // The format in use; default-constructed before the first setFormat.
    VideoStreamFrameFormat format() const;
    // The measured rate of emitted frames (60 frames, updated every 2 s, one decimal).
    double fps() const;

    // Makes formats[index] the current format; false (nothing changes) when index is out of range.
    // Back-ends extend it to reopen an open device.
    virtual bool setFormat(int index);
    // Back-ends that can reset the device do so; false here.
    virtual bool reset() override { return false; }

    // Camera settings: for the names "Exposure", "Framerate", "Gain" and "RegionOfInterest" a camera
    // with that control returns std::shared_ptr<VideoStreamSettings::<Class>>; an empty std::any
    // otherwise (and always here).
    virtual std::any getSettings(const std::string& name);
    // Applies what can be applied of `settings` (keys as the names above, values as their
    // configuration) and returns the settings as applied; empty here.
    virtual Properties tryApplySettings(const Properties* settings);
    // Applies all of `settings` or reports in the result what failed; empty here.
    virtual Properties forceApplySettings(const Properties* settings);

    // While running: "Live video with resolution WxH, R FPS" or "..., R nominal FPS, M actual FPS" when
    // the measured rate differs from the nominal one by 1 or more; otherwise "Video Stream".
    std::string describe() const override;

protected:
    // Back-ends fill this in their constructor, before the stream is used by other threads.
    VideoCameraDeviceInfo deviceInfo_;

private:
    mutable std::mutex formatMutex_;
    // guarded by formatMutex_
    VideoStreamFrameFormat format_;
    std::unique_ptr<StreamFps> rateMeter_;
};

}  // namespace Corvexis
