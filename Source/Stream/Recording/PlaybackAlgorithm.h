#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "Stream/Recording/PlaybackAlgorithmBase.h"

namespace Corvexis {

class DataList;
class ImageStream;
class PlaybackImageStream;
class PlaybackStreamGroup;
class PlaybackTrackingStream;
class SharedImageSet;
class TrackingSequence;
class TrackingStream;

// "Streaming;Playback": turns recorded data back into live streams. Inputs (createCompatible):
// - an image set, possibly a tracked image set, possibly followed by tracking sequences: an image
//   stream, plus a tracking stream over the set's sequences (or the given ones) when there are any;
//   with tracking both go into one PlaybackStreamGroup, the tracking synchronised to the images unless
//   "Synchronized Mode" is off;
// - tracking sequences alone: a tracking stream on its own timer.
// The tracking stream is named after the image set ("<set> tracking") or its first sequence and that
// sequence's instrument ("<sequence> <instrument>", unless the sequence's name already holds it).
// compute() creates the streams, applies loop, skipping, calibration and the rate or speed, opens them
// and, unless "Delay Start" is set, starts them. The output (takeOutput) is the group, or the single
// stream.
//
// Keys: "Synchronized Mode", "Ignore Calibration", "Delay Start" (written with "hidden" = "true"),
// "Loop", "Speed Factor", "Skip Delayed Frames", and "Fps" (read only, PlaybackAlgorithmBase).
//
// Borrowing: the input data must outlive the streams. Threading: caller synchronises (the host's
// algorithm thread); the streams run on their own threads.
class PlaybackAlgorithm : public PlaybackAlgorithmBase
{
public:
    // Null entries are ignored.
    PlaybackAlgorithm(SharedImageSet* images, std::vector<TrackingSequence*> sequences);
    ~PlaybackAlgorithm() override;

    static bool createCompatible(const DataList& inputs, std::unique_ptr<Algorithm>* algorithm);

    // Creates, opens and (unless delayed) starts the streams. Status InvalidInput, with the error
    // "No tracking sequence." when there is neither an image set nor a sequence.
    void compute() override;

    // The output stream: the group, or the single stream; null before compute and after the host
    // destroyed it.
    Stream* stream() const override;
    Data* dataGroup() const override;
    PlaybackImageStream* imageStream() const { return imageStream_; }
    PlaybackTrackingStream* trackingStream() const { return trackingStream_; }
    PlaybackStreamGroup* streamGroup() const { return group_; }
    void resetStream() override;

    // Validity of the played timestamps (the image stream's, else the tracking stream's).
    bool timestampValid() const;
    bool timestampValidAndEquidistant() const;
    std::optional<double> calculatedInitialFps() const;

    // Store the setting and forward it to the streams (rate and speed through the group).
    bool setFps(double fps);
    bool setSpeedFactor(double speedFactor);
    void setLoop(bool loop);
    void setSkipDelayedFrames(bool skip);

    void configuration(Properties* properties) const override;

    Parameter<bool> synchronizedMode{"Synchronized Mode", true, this};
    Parameter<bool> ignoreCalibration{"Ignore Calibration", false, this};
    Parameter<bool> delayStart{"Delay Start", false, this};

protected:
    std::unique_ptr<Stream> releaseStream() override;

private:
    int validityValue() const;

    SharedImageSet* images_ = nullptr;
    std::vector<TrackingSequence*> sequences_;

    // Guards the output: resetStream comes from the thread that destroys the stream.
    mutable std::mutex outputMutex_;
    // guarded by outputMutex_
    std::unique_ptr<Stream> owned_;  // until taken
    // Views into the current output (owned_ or the host's); cleared by resetStream.
    Stream* output_ = nullptr;
    PlaybackStreamGroup* group_ = nullptr;
    PlaybackImageStream* imageStream_ = nullptr;
    PlaybackTrackingStream* trackingStream_ = nullptr;
};

}  // namespace Corvexis
