#pragma once

#include <string>

namespace Corvexis {
class SharedImageSet;
class TrackingSequence;
}  // namespace Corvexis

// MetaImage sequence files (".mha", header and pixels in one file): the frames of an image set as one
// W x H x N image, with the per-frame fields that ultrasound research toolkits read from a tracked
// sequence. The header fields are listed in the README ("Files" section). Thread-safe (separate files).
namespace Corvexis::Files {

// Writes `set` (2-D frames of one size and pixel type) to `path` through a temporary file. Frame poses
// come from `tracking` (at each frame's time, or by index when the frame has none) as
// "Seq_FrameNNNN_ProbeToTrackerTransform"; without tracking the transform fields are left out. A
// TrackedSharedImageSet passed with null tracking uses its own sequences. False with *error otherwise.
bool writeMetaImage(const SharedImageSet& set, const TrackingSequence* tracking, const std::string& path,
                    std::string* error = nullptr);

}  // namespace Corvexis::Files
