#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "Host/Core/ImageDescriptor.h"
#include "Host/Core/MemImage.h"
#include "Host/Core/TrackingInstrument.h"
#include "Stream/Framework/StreamGroup.h"
#include "Stream/Framework/Substream.h"
#include "Stream/Framework/TrackingStream.h"
#include "Stream/Framework/TrackingSubstream.h"

namespace Corvexis {

// A simulated imaging device with a built-in tracker: one worker produces, every 10 ms, a 100 x 100
// unsigned-byte ramp image that slides by one grey level per frame and the poses of two instruments,
// emitted as one compound record whose parts go to an image substream and a tracking substream (both
// named after the group followed by " (child)").
//
// Per cycle, with the counter c (0 to 255) and the group time t (starting at 0, + 0.05 per cycle):
// pixel p = y * width + x holds (p + c) mod 256; instrument k (0 and 1, "faketrk-<k>", "instrument <k>")
// has the pose T(5 sin t, 25 cos t, 0) * R(x axis, t / 10), quality 0.8 - 0.1 k + c * 0.00078125 and the
// timestamp t truncated to an integer. Both parts carry the same arrival and device timestamps.
//
// The group itself is the proxy stream (a TrackingStream reporting the two instruments through
// devices()); it supports pausing, and all its hooks succeed without action.
//
// Threading: the picture, counter and time are touched only by the worker; instrumentsMutex_ guards the
// instruments, which devices() reads from any thread.
class FakeImageTrackingStreamGroup : public TrackingStream, public StreamGroup<FakeImageTrackingStreamGroup>
{
public:
    FakeImageTrackingStreamGroup();
    ~FakeImageTrackingStreamGroup() override;

    std::vector<TrackingInstrument> devices() const override;  // thread-safe
    bool supportsPausing() const override { return true; }

    // The substreams as created; null once removed from the group. Thread-safe.
    ImageSubstream* imageSubstream() const;
    TrackingSubstream* trackingSubstream() const;

    static constexpr int kWidth = 100;
    static constexpr int kHeight = 100;

protected:
    bool openImpl() override { return true; }
    bool closeImpl() override { return true; }
    bool startImpl() override { return true; }
    bool stopImpl() override { return true; }
    bool pauseImpl() override { return true; }
    bool resumeImpl() override { return true; }
    std::optional<WorkContinuation> doWork() override;

private:
    // The first current substream of type S, or null. Thread-safe.
    template <typename S>
    S* findSubstream() const;

    const ImageDescriptor descriptor_{ImageDescriptor::kUByte, kWidth, kHeight, 1, 1};
    std::unique_ptr<MemImage> image_;
    int counter_ = 0;
    double time_ = 0.0;

    mutable std::mutex instrumentsMutex_;
    // guarded by instrumentsMutex_
    std::vector<TrackingInstrument> instruments_;
};

}  // namespace Corvexis
