#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "Host/Core/Parameter.h"
#include "Host/Core/TypedImage.h"
#include "Stream/Framework/ImageStream.h"

namespace Corvexis {

namespace FFmpegHelper {
class VideoCapture;
}
class ImageStreamData;
class Progress;
class Selection;
class SharedImageSet;
class StreamFps;

// Plays a video file as a live image stream: a capture thread decodes frame after frame, paced at the
// file's nominal rate, and emits each as a 3-channel 8-bit RGB ImageStreamData (device time = frame
// index / rate, in ms). Playback can loop, can be limited to the frames selected on the stream (as a
// Selectable its elements are the frames and its focus is the frame shown last), and can be
// positioned while not running; positioning then shows the chosen frame at once.
//
// Lifecycle: open creates the reader (size, rate, count), start runs the capture thread, the end of
// the file or selection without looping requests a stop by itself, pause/resume are stop/start (the
// position is kept), close destroys the reader and emits signalStreamEnded.
//
// Threading: requests and hooks as Stream (hooks on the worker thread); frames are emitted on the
// capture thread. Frame indices are atomics; positionMutex_ makes "advance the next frame unless
// someone set it meanwhile" indivisible; startStopMutex_ (recursive) serialises start, stop, open,
// close, the stopped-state positioning and extraction, which all use the reader. Order:
// startStopMutex_ before positionMutex_. Every public operation is thread-safe.
class VideoFileStream : public ImageStream
{
public:
    VideoFileStream();
    ~VideoFileStream() override;

    void setFilename(const std::string& path);
    std::string filename() const;
    int numFrames() const { return frameCount_.load(); }
    // Index of the frame read last.
    int lastFrame() const { return lastFrame_.load(); }
    // Index of the frame read next.
    int nextFrame() const { return nextFrame_.load(); }
    void setLooping(bool looping);
    bool looping() const;
    void setPlaySelected(bool playSelected);
    bool playSelected() const;
    int width() const { return width_.load(); }
    int height() const { return height_.load(); }
    double nominalFps() const { return fps_.load(); }
    // The measured rate of emitted frames.
    double measuredFps() const;

    // Positions at frame 0 (showing it when not running); false when not open.
    bool reset() override;
    // Positions at `frame` clamped to the file; when not running, reads and emits that frame at once.
    void setNextFrame(int frame);

    // Selectable: the frames of the file.
    int size() const override { return frameCount_.load(); }
    // Clamps and positions (see setNextFrame) when the frame differs from the one shown.
    void setFocus(int frame) override;

    // Reads the selected frames (first to last) and hands each to `callback` with both time stamps
    // set to frame index / rate in ms, with progress and cancellation through `progress` (may be
    // null). Refused with a warning while the capture thread runs or when not open. The position is
    // restored afterwards. Caller's thread.
    using FrameCallback = std::function<void(std::shared_ptr<ImageStreamData>)>;
    void extractFrames(const Selection& selection, const FrameCallback& callback, Progress* progress);
    // As above, collected into a new image set (empty when refused).
    std::unique_ptr<SharedImageSet> extractFrames(const Selection& selection, Progress* progress);

    std::string describe() const override;
    // "Selection <duration>, <n> frames, <memory>".
    std::string describeSegment(int frames) const;

    ThreadingMode threadingMode() const override { return ThreadingMode::WorkerThread; }

    static constexpr const char* kDefaultName = "Video File Stream";

protected:
    bool openImpl() override;
    bool closeImpl() override;
    bool startImpl() override;
    bool stopImpl() override;
    bool pauseImpl() override { return stopImpl(); }
    bool resumeImpl() override { return startImpl(); }
    // Frames come from the capture thread; the worker only runs the transitions.
    std::optional<WorkContinuation> doWork() override { return std::nullopt; }
    // Records hold one image; the focus is a frame number.
    int describedImageIndex() const override { return 0; }

private:
    void captureLoop();
    // Reads the next frame (by the rules of looping and play-selected) into `image`. Caller holds the
    // reader: the capture thread, or startStopMutex_ while no capture thread runs.
    bool readFrame(TypedImage<std::uint8_t>& image);
    bool readAndStream(TypedImage<std::uint8_t>& image);
    std::shared_ptr<ImageStreamData> makeRecord(const TypedImage<std::uint8_t>& image) const;
    bool captureThreadRunning() const;

    Parameter<std::string> filename_{"filename", "", this};
    Parameter<bool> looping_{"looping", false, this};
    Parameter<bool> playSelected_{"playSelected", false, this};

    std::atomic<int> frameCount_{0};
    std::atomic<int> lastFrame_{0};
    std::atomic<int> nextFrame_{0};
    std::atomic<int> width_{0};
    std::atomic<int> height_{0};
    std::atomic<double> fps_{0.0};
    std::mutex positionMutex_;

    std::unique_ptr<StreamFps> rateMeter_;

    mutable std::recursive_mutex startStopMutex_;
    // guarded by startStopMutex_ (the capture thread uses the reader without it while it runs)
    std::unique_ptr<std::thread> captureThread_;
    // True while the capture thread's loop runs; it clears it when it leaves by itself.
    std::atomic<bool> captureActive_{false};
    std::unique_ptr<FFmpegHelper::VideoCapture> capture_;

    // Capture thread only: the steady-clock time of the next frame.
    std::chrono::steady_clock::time_point deadline_;
};

}  // namespace Corvexis
