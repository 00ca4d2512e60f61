#pragma once

#include <any>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Stream/Video/CaptureThread.h"
#include "Stream/Video/VideoCameraStream.h"

namespace Corvexis {

// A camera of the "V4L2" back-end: a Video4Linux2 capture device (/dev/video*).
//
// Enumeration opens every /dev/videoN node that can capture and stream, and lists its card name, its
// identifier (the device's bus information, "<bus>:<node>" when two capture nodes share it, the node
// path when the driver gives none) and its native formats: every pixel format, frame size and frame
// interval the driver reports (stepwise and continuous ranges contribute their largest size and
// highest rate); codec is the pixel format's four characters. No device gives an empty list and no
// error.
//
// Capture: open negotiates 8-bit RGB of the chosen format's size (libv4l2 converts from the native
// pixel format, compressed ones included) and the format's frame rate, maps the driver's buffers and
// starts streaming; the capture thread polls every 0.999 / rate seconds (cameraPollingPeriod), dequeues
// a ready buffer, emits it as ImageStreamData on signalStreamData and queues the buffer again. A failed
// dequeue logs "Failed to read frames from video stream, leaving capture thread now." and ends the
// thread (the stream stays Running but produces nothing, as for a camera that was unplugged).
//
// Settings, where the device has the control: "Exposure" (absolute exposure; setting it switches the
// automatic exposure to manual), "Gain", "Framerate" (the stream parameter, within 1 ... the format's
// rate; drivers may refuse while streaming) and "RegionOfInterest" (the crop selection, steps of 1).
// The settings objects reach the device through a handle of their own, so they work whether or not the
// stream is open. tryApplySettings / forceApplySettings: the tree of CameraSettingsTree.h.
//
// Lifecycle and threading as SyntheticCameraStream: setFormat on an open camera closes and reopens the
// device (and restarts a running capture); sessionMutex_ guards the device handle, its buffers and the
// capture thread, which never takes it. Every public operation is thread-safe.
class V4l2CameraStream : public VideoCameraStream
{
public:
    static constexpr const char* kBackendName = "V4L2";
    static constexpr const char* kDefaultName = "V4L2 Video Camera";

    // `devicePath` is an identifier from enumerateDevices, or a node path such as "/dev/video0".
    explicit V4l2CameraStream(const std::string& devicePath);
    ~V4l2CameraStream() override;

    static std::vector<VideoCameraDeviceInfo> enumerateDevices();

    // The device node this camera uses; empty when the device was not found.
    const std::string& node() const { return node_; }

    bool setFormat(int index) override;
    std::any getSettings(const std::string& name) override;
    Properties tryApplySettings(const Properties* settings) override;
    Properties forceApplySettings(const Properties* settings) override;

    ThreadingMode threadingMode() const override { return ThreadingMode::WorkerThread; }

protected:
    bool openImpl() override;
    bool closeImpl() override;
    bool startImpl() override;
    bool stopImpl() override;
    bool pauseImpl() override { return stopImpl(); }
    bool resumeImpl() override { return startImpl(); }
    std::optional<WorkContinuation> doWork() override { return std::nullopt; }
    bool workerThreadRequiresOpenGl() const override { return false; }

private:
    struct Buffer
    {
        void* start = nullptr;
        std::size_t length = 0;
    };

    // Caller holds sessionMutex_.
    bool openDeviceLocked();
    void closeDeviceLocked();
    void captureLoop();

    std::string node_;  // fixed at construction

    mutable std::mutex sessionMutex_;
    // guarded by sessionMutex_ (the capture thread uses fd_, buffers_ and the frame size while it runs;
    // they change only after it was joined)
    int fd_ = -1;
    std::vector<Buffer> buffers_;
    int frameWidth_ = 0;
    int frameHeight_ = 0;
    int bytesPerLine_ = 0;
    CaptureThread capture_;
};

}  // namespace Corvexis
