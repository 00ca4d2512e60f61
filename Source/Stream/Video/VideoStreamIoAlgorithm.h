#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Host/Core/DataList.h"
#include "Host/Core/Parameter.h"
#include "Stream/Framework/StreamIoAlgorithm.h"
#include "Stream/Video/VideoCameraStream.h"

namespace Corvexis {

class ImageStream;

// The input algorithm that creates a video stream, opened and started:
// - file mode: a VideoFileStream on the algorithm's location (or its "filename" parameter), named after
//   the file;
// - camera mode: a camera stream of the back-end "backend" on the device "devicePath", through
//   VideoCameraIoFactory, with its format chosen by chooseCameraFormat. Without "backend" the first
//   back-end that lists the device is used; without "devicePath" the first device of the back-end (or of
//   any back-end). The stream is named after the device's display string.
//
// Configuration: "mode" (0 file, 1 camera; other values log "Unknown mode" and create nothing),
// "filename", "looping" (file mode); "backend", "displayString", "devicePath", "formatIdx" (-1: not
// given), "width", "height" (0: not given), "fps" (0: not given), "codec" (empty: not given) (camera
// mode). The created stream is owned until the host takes it. Threading: compute, configure and
// takeOutput are caller synchronises; stream() is thread-safe; the static operations are thread-safe.
class VideoStreamIoAlgorithm : public StreamIoAlgorithm
{
public:
    enum class StreamingMode : int
    {
        File = 0,
        Camera = 1,
    };

    explicit VideoStreamIoAlgorithm(StreamingMode mode);
    ~VideoStreamIoAlgorithm() override;

    // File mode: "avi", "mkv", "mov", "mp4", "wmv", "ogv", "gif"; camera mode: none.
    std::vector<std::string> supportedFileExtensions() const;
    StreamingMode streamingMode() const { return static_cast<StreamingMode>(mode_.value()); }

    // Camera mode: which back-end and device compute() opens.
    void setBackend(const std::string& backend);
    void setDeviceUID(const std::string& devicePath);

    struct CameraDevice
    {
        std::string backend;
        VideoCameraStream::VideoCameraDeviceInfo device;
    };
    // The devices of every registered camera back-end, back-ends in name order.
    static std::vector<CameraDevice> enumerateCameraStreams();
    // A closed camera stream on `devicePath` from the first back-end that lists it; null when none does.
    static std::unique_ptr<VideoCameraStream> createCameraStream(const std::string& devicePath);

    // The format position to use among `formats` for the requested values (formatIdx < 0, width 0,
    // height 0, fps <= 0 and an empty codec mean "not given"); -1 when there are no formats. Rules, in
    // order: formatIdx when given; format 0 without width; else the formats of that width and of that
    // height (the largest height when height is 0); of several, those within 0.5 of fps (or, without
    // fps, those of the highest rate); of several, the first with that codec (all when none has it) or
    // the first; nothing left: the warning "Did not find requested format. Falling back to default
    // format" and format 0.
    static int chooseCameraFormat(const std::vector<VideoCameraStream::VideoStreamFrameFormat>& formats,
                                  int formatIdx, int width, int height, double fps, const std::string& codec);

    void compute() override;
    void configure(const Properties* properties) override;

    Stream* stream() const override;
    void resetStream() override;
    bool opensStream() const override { return true; }
    bool startsStream() const override { return true; }
    std::unique_ptr<Stream> createPrototypeStream() const override;

protected:
    std::unique_ptr<Stream> releaseStream() override;

private:
    std::unique_ptr<ImageStream> createFileStream() const;
    std::unique_ptr<ImageStream> createConfiguredCamera() const;

    Parameter<int> mode_;
    Parameter<std::string> filename_{"filename", "", this};
    Parameter<bool> looping_{"looping", false, this};
    Parameter<std::string> backend_{"backend", "", this};
    Parameter<std::string> displayString_{"displayString", "", this};
    Parameter<std::string> devicePath_{"devicePath", "", this};
    Parameter<int> formatIdx_{"formatIdx", -1, this};
    Parameter<int> width_{"width", 0, this};
    Parameter<int> height_{"height", 0, this};
    Parameter<double> fps_{"fps", 0.0, this};
    Parameter<std::string> codec_{"codec", "", this};

    mutable std::mutex streamMutex_;
    // guarded by streamMutex_
    std::unique_ptr<ImageStream> ownedStream_;  // until the host takes it
    ImageStream* stream_ = nullptr;
};

// The registered variants: <false> files, <true> cameras.
template <bool camera>
class VideoStreamIoAlgorithmHelper : public VideoStreamIoAlgorithm
{
public:
    VideoStreamIoAlgorithmHelper()
        : VideoStreamIoAlgorithm(camera ? StreamingMode::Camera : StreamingMode::File)
    {
    }

    // Only for an empty input list.
    static bool createCompatible(const DataList& inputs, std::unique_ptr<Algorithm>* algorithm)
    {
        if (!inputs.empty())
            return false;
        if (algorithm != nullptr)
            *algorithm = std::make_unique<VideoStreamIoAlgorithmHelper>();
        return true;
    }
};

}  // namespace Corvexis
