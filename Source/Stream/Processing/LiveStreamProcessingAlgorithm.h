#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "Host/Core/Parameter.h"
#include "Host/Core/SignalReceiver.h"
#include "Host/Lib/Algorithm.h"
#include "Host/Lib/TrackedSharedImageSet.h"

namespace Corvexis {

class Stream;
class StreamData;

namespace GL {
class SyncObject;
}

// Base of algorithms that work on the recent history of live streams. It listens to any number of
// streams, buffers their images (with timestamps and per-image components) and their tracking samples
// (one sequence per tracker name) in a tracked image set, keeps both bounded ("imageBufferSize" images,
// "trackingBufferSize" samples per tracker; none = unbounded), drops samples below "qualityThreshold",
// and hands what it collected to the derived algorithm: on demand (moveBufferedDataToLiveContainer) or
// on its own processing thread, which calls backgroundThreadProcessData whenever new images arrived and
// sleeps otherwise. Image timestamps are in milliseconds (as every image set keeps them), tracking
// sample times in seconds; both come from the arrival clock or, with "useDeviceTimestamps", the device
// clock.
//
// Calibration: when the emitting stream carries an InstrumentCalibrationDataComponent, the calibration
// of each buffered instrument goes with its samples: the sequence's spatial calibration is set from it
// (so TrackingSequence::matrix() gives calibrated poses), and the sequence carries an
// InstrumentCalibrationDataComponent holding that instrument's calibration, temporal offset included.
// The stream's component is read on the stream's thread: whoever changes it synchronises with the
// stream's deliveries.
//
// Buffers: the input buffer is filled on the streams' threads under bufferMutex_. With a processing
// thread, the thread moves the input buffer into the hand-over buffer (under handoverMutex_, applying the
// same limits) each time it wakes, and moveBufferedDataToLiveContainer drains the hand-over buffer;
// without one it drains the input buffer. Sequences are matched by tracker name and never removed from
// a buffer (only emptied), so a tracker keeps its place. Lock order: bufferMutex_ before
// handoverMutex_; threadMutex_ is never held with either. The live container belongs to the derived
// algorithm's thread: caller synchronises.
//
// Threading: the stream callbacks run on the streams' threads; start, stop, isRunning, the parameters
// and the counters are thread-safe; the rest is caller synchronises.
class LiveStreamProcessingAlgorithm : public Algorithm, public SignalReceiver
{
public:
    // Connects to every input's records (null entries are skipped); starts the processing thread when
    // `useProcessingThread`, with a graphics context of its own when `processingThreadUsesOpenGl`.
    LiveStreamProcessingAlgorithm(std::vector<Stream*> inputs, bool useProcessingThread,
                                  bool processingThreadUsesOpenGl = false);
    // Disconnects the streams and stops the processing thread.
    ~LiveStreamProcessingAlgorithm() override;

    void compute() override;
    void start();
    void stop();
    bool isRunning() const;

    // Replaces an owned live container by a new empty one.
    virtual void createLiveContainer();
    // Moves every buffered image and tracking sample into the live container (made when missing) and
    // selects all its frames, focusing the last.
    virtual void moveBufferedDataToLiveContainer();
    // The live container in a list; empty when there is none. Afterwards there is none.
    OwningDataList takeOutput() override;

    // 0 for null; otherwise the device or arrival timestamp in seconds. Thread-safe.
    double extractTimestamp(const StreamData* data) const;

    // Gives `target` as many tracking sequences as `source` has: the missing ones are appended empty,
    // with the tracker identifier, name and calibration of the source's sequence at that index. Caller
    // synchronises.
    static void ensureSufficientTracking(const TrackedSharedImageSet& source, TrackedSharedImageSet& target);

    // Images waiting in the input buffer, and samples of one tracker there. Thread-safe.
    int bufferedImageCount() const;
    int bufferedSampleCount(const std::string& trackerName) const;
    // Calls of backgroundThreadProcessData so far. Thread-safe.
    std::uint64_t processingCalls() const { return processingCalls_.load(); }
    // CPU time used by the processing thread so far (zero without one). Thread-safe.
    std::chrono::nanoseconds processingThreadCpuTime() const;

    Parameter<bool> useDeviceTimestamps{"useDeviceTimestamps", false, this};
    Parameter<std::optional<int>> imageBufferSize{"imageBufferSize", std::nullopt, this};
    Parameter<std::optional<int>> trackingBufferSize{"trackingBufferSize", std::nullopt, this};
    Parameter<double> qualityThreshold{"qualityThreshold", 0.2, this};

protected:
    // Derived classes construct with this tag and call activate() at the end of their constructor, and
    // deactivate() first in their destructor: streams deliver on their own threads, and a delivery must
    // not reach this object's virtual operations while the derived part is being built or torn down.
    struct Deferred
    {
    };
    LiveStreamProcessingAlgorithm(std::vector<Stream*> inputs, bool useProcessingThread,
                                  bool processingThreadUsesOpenGl, Deferred);
    // Connects the inputs and starts the processing thread when it was asked for. Once; caller synchronises.
    void activate();
    // Disconnects the inputs (waiting for deliveries in progress) and stops the processing thread.
    // Caller synchronises.
    void deactivate();

    // New images were buffered: wakes the processing thread, or without one emits signalOutputChanged.
    // The emitting stream's thread.
    virtual void onNewImagesArrived();
    // The derived algorithm's work on the processing thread; true asks to be called again at once. The
    // base does nothing and returns false.
    virtual bool backgroundThreadProcessData();

    // Starts the processing thread (once); it sleeps until images arrive. Caller synchronises.
    void startProcessingThread();
    // Wakes and joins the processing thread. Caller synchronises (not from the thread itself).
    void stopProcessingThread();

    // The live container (null when there is none). Caller synchronises (the thread that moves data
    // into it).
    TrackedSharedImageSet* liveContainer() const { return liveContainer_.get(); }

    // Move every image (with timestamp and components) / every tracking sample of `source` to the end
    // of `target`, leaving `source` without images / with emptied sequences. Tracking goes to the
    // target's sequence of the same tracker name (appended when missing) together with the source
    // sequence's calibration. Caller synchronises both sets.
    static void moveImages(TrackedSharedImageSet& source, TrackedSharedImageSet& target);
    static void moveTracking(TrackedSharedImageSet& source, TrackedSharedImageSet& target);
    static void moveImagesAndTracking(TrackedSharedImageSet& source, TrackedSharedImageSet& target);
    // Selects every frame of the live container and focuses the last. Caller synchronises.
    void selectAllFocusLast();

private:
    struct Buffer;

    void onNewStreamData(const std::shared_ptr<const StreamData>& data);
    void runProcessingThread();
    // Processing thread: settles the fences, then moves the input buffer into the hand-over buffer.
    void handOver();
    void trimImages(TrackedSharedImageSet& images, std::size_t incoming) const;
    void trimTracking(TrackedSharedImageSet& tracking) const;

    // Set for good by startProcessingThread: from then on the hand-over buffer is the one drained.
    std::atomic<bool> useProcessingThread_{false};
    const std::vector<Stream*> inputs_;
    const bool processingThreadRequested_;
    const bool processingThreadUsesOpenGl_;
    std::atomic<bool> running_{false};
    std::atomic<std::uint64_t> processingCalls_{0};

    mutable std::mutex bufferMutex_;
    // guarded by bufferMutex_
    std::unique_ptr<Buffer> input_;
    std::vector<std::shared_ptr<GL::SyncObject>> pendingSyncs_;

    mutable std::mutex handoverMutex_;
    // guarded by handoverMutex_
    std::unique_ptr<Buffer> handover_;

    std::mutex threadMutex_;
    std::condition_variable wake_;
    // guarded by threadMutex_
    bool stopRequested_ = false;
    bool wakePending_ = false;
    std::thread thread_;
    std::atomic<bool> threadStarted_{false};

    std::unique_ptr<TrackedSharedImageSet> liveContainer_;
};

}  // namespace Corvexis
