#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "Host/Core/DataComponentList.h"
#include "Host/Core/OwningDataList.h"
#include "Host/Core/Signal.h"
#include "Host/Core/SignalConnection.h"
#include "Host/Core/Timer.h"

namespace Corvexis {

class ElementwiseDataComponentList;
class Stream;
class StreamData;

// Listens to one stream and stores every record it receives while recording, so that a live run becomes
// ordinary data. This base owns the recording state machine, the limits and the statistics; subclasses
// store the records of their stream type.
//
// States (one place, start() and stop()):
//   idle --start()--> starting (init() runs, statistics cleared, timer started) --> recording
//   recording --stop() or a limit--> stopping (finalize() runs) --> idle
// The recorder counts as recording in all three non-idle states.
//
// Locks: mutex_ guards the flags, limits and statistics below; it is never held while init(),
// finalize(), processStreamData() or a signal runs, so subclasses take their own lock in those hooks and
// a receiver of the signals may call stop() or start() again (the recorder algorithm restarts from
// inside signalLimitReached).
//
// Threading: records arrive on the stream's emitting thread (onStreamData); every public operation is
// thread-safe.
class StreamRecorder
{
public:
    // OnRequest: a record is stored only after setCaptureNextSample() armed a one-shot flag.
    enum class CaptureMode : int
    {
        Continuous = 0,
        OnRequest = 1,
    };

    // Connects to the stream's data signal; the stream must outlive the recorder.
    explicit StreamRecorder(Stream& stream);
    virtual ~StreamRecorder();
    StreamRecorder(const StreamRecorder&) = delete;
    StreamRecorder& operator=(const StreamRecorder&) = delete;

    // The recorded data, handed over; empties the recorder. Call after stop(). Caller synchronises.
    virtual OwningDataList takeOutput() = 0;
    // Thread-safe.
    virtual Stream& stream() const { return stream_; }

    // From idle only; false otherwise. With a time limit, a stream that is not running is asked to start
    // (asynchronously). Thread-safe (not from init()).
    bool start();
    // From recording only (not while starting or stopping); false otherwise. Thread-safe.
    bool stop();

    bool isRecording() const;                  // recording, starting or stopping; thread-safe
    bool hasReachedLimit() const;              // thread-safe
    bool hasReachedMemoryLimit() const;        // thread-safe
    bool allStreamsRunning() const;            // the stream is Running; thread-safe
    double passedTime() const;                 // seconds of the current or last recording; thread-safe
    int recordedSamples() const;               // thread-safe
    std::uint64_t recordedBytes() const;       // thread-safe
    std::uint64_t recordedBytesLimit() const;  // thread-safe
    double timeLimit() const;                  // thread-safe
    double samplesLimit() const;               // thread-safe
    double systemMemoryLimit() const;          // thread-safe

    CaptureMode captureMode() const;        // thread-safe
    void setCaptureMode(CaptureMode mode);  // thread-safe
    // Arms the one-shot flag of CaptureMode::OnRequest. Thread-safe.
    void setCaptureNextSample();

    bool usesDeviceTimestamps() const;  // thread-safe
    bool recordBothTimestamps() const;  // thread-safe
    // The setters below refuse while recording (false, logged at level 4). Thread-safe.
    bool setUseDeviceTimestamp(bool use);
    bool setRecordBothTimestamps(bool both);
    bool setTimeLimit(double seconds);              // 0: none
    bool setSamplesLimit(int samples);              // 0: none
    bool setSystemMemoryLimit(double fraction);     // fraction of physical memory in use; <= 0.001: none
    bool setRecordedBytesLimit(std::size_t bytes);  // 0: none

    // A limit (time, samples, bytes or memory) stopped the recording; emitted on the emitting thread of
    // the stream, after the recorder stopped.
    Signal<StreamRecorder*> signalLimitReached;
    // After every stored record, with the recorded byte total; on the stream's emitting thread.
    Signal<StreamRecorder*, std::uint64_t> signalSampleRecorded;

protected:
    // Starting: prepare empty storage. Runs on the thread of start() without mutex_.
    virtual void init() = 0;
    // Stopping: complete the storage (data components, pending exports). Thread of stop(), no mutex_.
    virtual void finalize() = 0;
    // Stores one record; the bytes stored, 0 when nothing was. Emitting thread, no mutex_.
    virtual std::uint64_t processStreamData(const StreamData& data) = 0;

    // Brings `list` up to `count` entries with copies of the record's components (and a
    // TimestampDataComponent each when both timestamps are recorded). Caller synchronises `list`.
    void recordFrameDataComponents(ElementwiseDataComponentList& list, const StreamData& data,
                                   int count) const;
    // Seconds: the device or arrival time of the record (milliseconds / 1000); 0 for null. Thread-safe.
    double extractTimestamp(const StreamData* data) const;
    // A copy of the stream's data components for the recorded containers, without the host's own
    // bookkeeping entries (deletion watches), which mean nothing on a recording. Thread-safe as far as the
    // stream's components are (they change only while it is configured).
    DataComponentList streamComponents() const;
    // Clears samples, bytes and the limit flags. Thread-safe.
    void resetRecordingStatistics();
    // The fraction of physical memory in use, 0 when unknown. Virtual so that tests can simulate a full
    // machine. Thread-safe.
    virtual double memoryUsageRatio() const;
    // For subclasses that emit a signal while storing a record (processStreamData): runs `emit` with the
    // record not counted as in flight, so that a receiver may stop or restart the recording. True when
    // the recording still (or again) runs afterwards and the record should be stored; false when it
    // was stopped. Emitting thread.
    bool emitOutsideRecord(const std::function<void()>& emit);
    // Ends the connection to the stream; subclasses call it first thing in their destructor so that no
    // record reaches a half-destroyed recorder. Thread-safe.
    void disconnectStream();

private:
    void onStreamData(const std::shared_ptr<const StreamData>& data);

    Stream& stream_;
    SignalConnection connection_;

    mutable std::mutex mutex_;
    // guarded by mutex_
    bool recording_ = false;
    bool starting_ = false;
    bool stopping_ = false;
    CaptureMode captureMode_ = CaptureMode::Continuous;
    bool captureNext_ = false;
    double timeLimitSec_ = 0.0;
    double samplesLimit_ = 0.0;
    double systemMemoryLimit_ = 0.0;
    std::uint64_t bytesLimit_ = 0;
    bool useDeviceTimestamp_ = false;
    bool recordBothTimestamps_ = false;
    int samples_ = 0;
    std::uint64_t bytes_ = 0;
    bool limitReached_ = false;
    bool memoryLimitReached_ = false;
    double stoppedSeconds_ = 0.0;  // duration of the last recording, frozen at stop
    std::uint64_t session_ = 0;    // counts start() calls; a record counts for the recording it began in
    // Records accepted and not yet counted. stop() waits until they are, so that output and statistics
    // agree; they never wait for anything stop() holds (signals are emitted outside, see
    // emitOutsideRecord).
    int inFlight_ = 0;
    std::condition_variable idle_;

    Timer timer_;  // thread-safe itself
};

}  // namespace Corvexis
