#pragma once

#include "Host/Core/Properties.h"

namespace Corvexis {

class VideoCameraStream;

// Applies a tree of camera settings through a camera's VideoStreamSettings objects, and reads them back.
// Both camera back-ends implement tryApplySettings / forceApplySettings with it, so the tree has one
// shape everywhere (also on the remote control channel, which forwards it unchanged):
//
//   <any name>
//     Exposure          value=<double>
//     Framerate         value=<double>
//     Gain              value=<double>
//     RegionOfInterest  x=<int> y=<int> w=<int> h=<int>
//
// Each block is optional; blocks with other names are ignored. The result (with an empty name) has one
// block for each of the four names that was asked for, holding the value(s) in force afterwards, their
// limits ("minimum", "maximum" for the numbers; for the region "Increment/x", "Minimum/x", "Maximum/x"
// and so on) and "applied" (true when the requested value is now in force, false when it was refused
// or the camera lacks that control; in the latter case the block holds only "applied").
//
// try: every value is passed as given; values outside the limits are refused one by one and the others
// are still applied. force: every value is first brought within the limits (numbers clamped, the region
// snapped to its steps and moved inside the sensor) and then applied.
//
// Threading: thread-safe as far as the camera's settings objects are (they all are).
class CameraSettingsTree
{
public:
    static Properties apply(VideoCameraStream& camera, const Properties* settings, bool force);
    // Every setting the camera has, in the result shape (each with "applied" true).
    static Properties current(VideoCameraStream& camera);
};

}  // namespace Corvexis
