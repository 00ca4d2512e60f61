#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "Host/Core/SignalReceiver.h"
#include "Stream/Framework/TrackingStream.h"
#include "Stream/Recording/PlaybackStreamBase.h"

namespace Corvexis {

class ImageStream;
class StreamData;
class TrackingSequence;

// Replays recorded tracking sequences as a live tracking stream: one instrument per sequence (its
// tracker identity), updated and emitted as one TrackingStreamData per step.
//
// Two ways to be paced:
// - on its own timer (no parent): the first sequence's sample times give the schedule
//   (PlaybackStreamBase); step i emits sample i of every sequence, with the device time = the first
//   sequence's time of sample i (rounded to milliseconds) and the arrival time now. Without looping, the
//   stream stops itself (asynchronously) after the last sample.
// - synchronised to a parent image stream: for every record the parent emits, exactly one tracking
//   record with the image's device and arrival times and each sequence's pose interpolated at the
//   image's device time (or, with ignoreTimestampsInSyncMode, the sample at the parent's frame index).
//   Its own requests do not gate the records: they follow the parent's, one for one.
//
// Calibration and relativity can be ignored: the stream then plays clones with identity calibration or
// relative tracking off, leaving the given sequences untouched.
//
// Borrowing: the sequences (and the parent) must outlive the stream and stay unchanged.
// Threading: records are emitted on the timer's thread or on the parent's emitting thread; hooks run on
// the worker; public operations are thread-safe (sequencesMutex_ guards the played sequences and
// switches).
class PlaybackTrackingStream : public TrackingStream,
                               public SignalReceiver,
                               public PlaybackStreamBase<PlaybackTrackingStream>
{
public:
    static constexpr const char* kDefaultName = "Simulated Tracking";

    // Null entries are left out; the first remaining sequence sets the schedule. `parent` (may be
    // null) selects synchronised mode.
    PlaybackTrackingStream(const std::vector<TrackingSequence*>& sequences, ImageStream* parent,
                           const std::string& name = kDefaultName);
    ~PlaybackTrackingStream() override;

    // The sequence played for instrument `index` (a clone when calibration or relativity is ignored);
    // null when out of range. The pointer stays valid until a switch changes. Thread-safe.
    TrackingSequence* playbackTrackingSequence(size_t index) const;
    size_t numTrackingSequences() const { return sequences_.size(); }
    // The parent image stream in synchronised mode, else null. Thread-safe.
    ImageStream* parentStream() const { return parent_; }

    bool ignoreCalibration() const;  // thread-safe
    void setIgnoreCalibration(bool ignore);
    bool ignoreRelativity() const;  // thread-safe
    void setIgnoreRelativity(bool ignore);
    bool ignoreTimestampsInSyncMode() const;  // thread-safe
    void setIgnoreTimestampsInSyncMode(bool ignore);

    bool supportsPausing() const override { return true; }
    bool supportsInstrumentRenaming() const override { return false; }

    // Updates every instrument from its sequence and emits one record with the two timestamps (ms):
    // by sample `index`, or by time (device time / 1000 seconds, interpolated) with the flags of sample
    // `index`. The emitting thread.
    void sendTrackingData(std::uint64_t deviceMs, std::uint64_t arrivalMs, int index, bool byIndex);

protected:
    bool openImpl() override { return true; }
    bool closeImpl() override;
    bool startImpl() override;
    bool stopImpl() override;
    bool pauseImpl() override { return pausePlaybackTimer(); }
    bool resumeImpl() override { return resumePlaybackTimer(); }
    std::optional<WorkContinuation> doWork() override { return std::nullopt; }

    void playbackFrameDue(int index) override;
    void playbackFinished() override;

private:
    void onParentData(const std::shared_ptr<const StreamData>& data);
    // Rebuilds the clones after a switch changed. Caller holds sequencesMutex_.
    void rebuildClonesLocked();
    TrackingSequence* playedLocked(size_t index) const;

    std::vector<TrackingSequence*> sequences_;  // borrowed, never null
    std::vector<std::string> instrumentIds_;    // index-aligned with sequences_
    ImageStream* const parent_;

    mutable std::mutex sequencesMutex_;
    // guarded by sequencesMutex_
    std::vector<std::unique_ptr<TrackingSequence>> clones_;  // empty unless something is ignored
    bool ignoreCalibration_ = false;
    bool ignoreRelativity_ = false;
    bool ignoreTimestampsInSyncMode_ = false;
    int syncCounter_ = 0;  // index of the next parent record when the parent is no playback stream
};

}  // namespace Corvexis
