#pragma once

#include <any>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Stream/Video/CaptureThread.h"
#include "Stream/Video/VideoCameraStream.h"

namespace Corvexis {

class SyntheticCameraSensor;

// A virtual camera of the "Synthetic" back-end: a fixed list of devices and formats, and a sensor that
// paints a moving test card (see SyntheticCameraSensor) whose exposure, gain, frame rate and region of
// interest are real state: they change the brightness, the delivery rate and the size of the frames.
//
// Devices (devicePath: displayString: formats as index width x height @ fps codec):
//   "synthetic:0": "Synthetic Camera 0": 0 640x480@30 RGB3, 1 640x480@60 RGB3, 2 1280x720@30 RGB3,
//                  3 320x240@30 RGB3, 4 320x240@30 YUYV (3 and 4 differ only in codec)
//   "synthetic:1": "Synthetic Camera 1": 0 320x240@15 RGB3, 1 160x120@30 RGB3
// Whatever the codec, frames are emitted as 8-bit RGB, as every back-end does.
//
// The virtual device delivers frame k of a session at k / frame rate after the session opened (the
// schedule restarts when the rate changes); the capture thread polls it every 0.999 / rate seconds
// (cameraPollingPeriod) and emits each delivered frame as ImageStreamData on signalStreamData, with both
// time stamps set to the system time of the delivery.
//
// Settings: getSettings("Exposure" | "Framerate" | "Gain" | "RegionOfInterest") returns a
// std::shared_ptr to the VideoStreamSettings class of that name; the objects share the sensor, so they
// stay usable for as long as anyone holds them. tryApplySettings / forceApplySettings take and return
// the tree described in CameraSettingsTree.h.
//
// Lifecycle: constructed on a device path (an unknown path leaves the device empty and open fails);
// format 0 is selected at construction. open starts a device session, start runs the capture thread,
// stop joins it, close ends the session. setFormat on an open camera closes
// and reopens the session (joining and restarting the capture thread when it ran), so the new size and
// rate hold from the next frame on.
//
// Threading: requests and hooks as Stream; frames are emitted on the capture thread; every public
// operation is thread-safe. sessionMutex_ guards the session and the capture thread; the capture thread
// never takes it (CaptureThread waits on a mutex of its own), so joining under it is safe.
class SyntheticCameraStream : public VideoCameraStream
{
public:
    static constexpr const char* kBackendName = "Synthetic";
    static constexpr const char* kDefaultName = "Synthetic Video Camera";

    explicit SyntheticCameraStream(const std::string& devicePath);
    ~SyntheticCameraStream() override;

    // The fixed device list above.
    static std::vector<VideoCameraDeviceInfo> enumerateDevices();

    bool setFormat(int index) override;
    std::any getSettings(const std::string& name) override;
    Properties tryApplySettings(const Properties* settings) override;
    Properties forceApplySettings(const Properties* settings) override;

    // How many device sessions were opened so far (a reopen by setFormat counts). Thread-safe.
    int sessionCount() const { return sessionCount_.load(); }
    // Frames delivered in the current session. Thread-safe.
    std::uint64_t framesDelivered() const { return framesDelivered_.load(); }

    ThreadingMode threadingMode() const override { return ThreadingMode::WorkerThread; }

protected:
    bool openImpl() override;
    bool closeImpl() override;
    bool startImpl() override;
    bool stopImpl() override;
    bool pauseImpl() override { return stopImpl(); }
    bool resumeImpl() override { return startImpl(); }
    // Frames come from the capture thread; the worker only runs the transitions.
    std::optional<WorkContinuation> doWork() override { return std::nullopt; }
    bool workerThreadRequiresOpenGl() const override { return false; }

private:
    // Caller holds sessionMutex_.
    void openSessionLocked();
    void captureLoop();

    const std::shared_ptr<SyntheticCameraSensor> sensor_;
    bool deviceKnown_ = false;  // fixed at construction

    mutable std::mutex sessionMutex_;
    // guarded by sessionMutex_
    bool sessionOpen_ = false;
    CaptureThread capture_;

    std::atomic<int> sessionCount_{0};
    std::atomic<std::uint64_t> framesDelivered_{0};
};

}  // namespace Corvexis
