#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "Host/Core/SignalReceiver.h"
#include "Stream/Framework/TrackingStream.h"
#include "Stream/Recording/StreamRecorder.h"

namespace Corvexis {

class TrackingSequence;
class TrackingStreamData;

// Records a tracking stream into one TrackingSequence per instrument (the first maxInstruments() of
// the stream's instruments at start), or only the recording instrument when recordAllInstruments() is
// off. Samples whose quality is below the threshold (NaN counts as 0) are dropped and counted. Each
// stored sample counts kBytesPerSample bytes towards the bytes limit.
//
// Locks: sequencesMutex_ guards the sequences and settings; taken after the base's lock is released and
// never held while a signal is emitted.
// Threading: public operations are thread-safe; records arrive on the stream's emitting thread.
class TrackingStreamRecorder : public StreamRecorder, public SignalReceiver
{
public:
    static constexpr std::uint64_t kBytesPerSample = 148;

    explicit TrackingStreamRecorder(TrackingStream& stream);
    ~TrackingStreamRecorder() override;

    // The sequences, handed over. Caller synchronises.
    OwningDataList takeOutput() override;
    TrackingStream& stream() const override { return trackingStream_; }

    // Setters refuse while recording (false, logged). Thread-safe.
    int maxInstruments() const;
    bool setMaxInstruments(int count);
    int maxDevices() const { return maxInstruments(); }
    bool setMaxDevices(int count) { return setMaxInstruments(count); }
    bool recordAllInstruments() const;
    bool setRecordAllInstruments(bool all);
    bool recordAllDevices() const { return recordAllInstruments(); }
    bool setRecordAllDevices(bool all) { return setRecordAllInstruments(all); }
    std::string recordingInstrument() const;
    bool setRecordingInstrument(const std::string& id);
    int recordingDevice() const;  // index among the stream's instruments, -1 when not found
    bool setRecordingDevice(int index);
    double qualityThreshold() const;
    bool setQualityThreshold(double threshold);
    // Samples dropped for low quality in the current or last recording. Thread-safe.
    int droppedSamples() const;

    // The sequence of instrument `id` (or of the instrument at `index`), null when none, with the lock
    // that keeps it valid; hold it only briefly. Thread-safe.
    std::pair<std::unique_lock<std::mutex>, TrackingSequence*> currentRecordingSequence(
        const std::string& id);
    std::pair<std::unique_lock<std::mutex>, TrackingSequence*> currentRecordingStream(int index);

    // The instrument list of the stream changed; on the thread that changed it.
    Signal<TrackingStreamRecorder*> signalInstrumentsChanged;

protected:
    void init() override;
    void finalize() override;
    std::uint64_t processStreamData(const StreamData& data) override;

private:
    void onInstrumentsUpdated();
    // Bytes stored for instrument `id` of the record. Needs sequencesMutex_.
    std::uint64_t recordInstrument(const TrackingStreamData& record, const std::string& id, double recordTime,
                                   bool deviceTime, bool bothTimestamps);
    TrackingSequence* findLocked(const std::string& id) const;

    TrackingStream& trackingStream_;

    mutable std::mutex sequencesMutex_;
    // guarded by sequencesMutex_
    std::vector<std::pair<std::string, std::unique_ptr<TrackingSequence>>> sequences_;  // stream order
    std::string recordingInstrument_;
    int maxInstruments_ = 8;
    bool recordAll_ = true;
    double qualityThreshold_ = 0.2;
    int lowQualityCount_ = 0;
};

}  // namespace Corvexis
