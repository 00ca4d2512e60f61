#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include <Eigen/Core>

#include "Host/Core/TrackingSequence.h"
#include "Host/Lib/SharedImageSet.h"

namespace Corvexis {

// An image set that carries the tracking recorded with it: one or more owned tracking sequences, the
// first of which places the frames. A frame's pose is the first sequence's pose at the frame's time
// (frame timestamps are milliseconds, sequence times seconds), or, when timestamps are not used or the
// frame has none, the sample with the frame's index.
//
// Threading: caller synchronises, as for SharedImageSet.
class TrackedSharedImageSet : public SharedImageSet
{
public:
    explicit TrackedSharedImageSet(std::string name = {});
    // Takes over the frames and metadata of `set` (left empty).
    explicit TrackedSharedImageSet(SharedImageSet&& set);
    ~TrackedSharedImageSet() override;

    // A deep copy of frames (as `options` says), metadata, tracking sequences and the timestamp switch.
    std::unique_ptr<TrackedSharedImageSet> cloneTracked(
        Image::CloneOptions options = Image::CloneOptions::Deep) const;

    Kind kind() const override { return Kind::TrackedImageSet; }

    // Appends a sequence (null is ignored) and returns it.
    TrackingSequence* addTracking(std::unique_ptr<TrackingSequence> sequence);
    int numTracking() const { return static_cast<int>(tracking_.size()); }
    // The sequence at `index`, or null when out of range.
    TrackingSequence* tracking(int index = 0) const;
    // Removes and hands over the sequence at `index`; null when out of range.
    std::unique_ptr<TrackingSequence> takeTracking(int index);

    // Whether frame poses come from the frame times (true initially) or from the sample indices.
    bool useTimestamps() const { return useTimestamps_; }
    void setUseTimestamps(bool use) { useTimestamps_ = use; }

    // The pose of frame `frame` from sequence `sequence`; identity when either is out of range or the
    // sequence is empty.
    Eigen::Matrix4d frameMatrix(int frame, int sequence = 0) const;
    // Sets every frame's matrix (SharedImage::setMatrix) to its pose from the first sequence.
    void applyTrackingToFrames();

private:
    std::vector<std::unique_ptr<TrackingSequence>> tracking_;
    bool useTimestamps_ = true;
};

}  // namespace Corvexis
