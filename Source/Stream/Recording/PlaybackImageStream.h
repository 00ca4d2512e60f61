#pragma once

#include <optional>
#include <string>

#include "Stream/Framework/ImageStream.h"
#include "Stream/Recording/PlaybackStreamBase.h"

namespace Corvexis {

class SharedImageSet;

// Replays a recorded image set as a live image stream, with the recorded timing (PlaybackStreamBase):
// frame i becomes an ImageStreamData holding (a shallow copy of) image i, its per-frame components, the
// arrival time now and the device time = the frame's recorded timestamp, rounded to whole milliseconds
// (the arrival time when the frame has none).
//
// Life cycle: open succeeds at once; start plays from the playback focus; pause and resume hold and
// continue the position; stop ends the play-out. Without looping, after the last frame the focus
// returns to 0, the stream goes back to Open by itself and signalStreamEnded is emitted, so the next
// start plays from the beginning. The set must stay unchanged while the stream lives.
//
// Threading: frames are emitted on the timer's thread; hooks run on the worker (which needs no graphics
// context); public operations are thread-safe.
class PlaybackImageStream : public ImageStream, public PlaybackStreamBase<PlaybackImageStream>
{
public:
    // Borrows `set` (it must outlive the stream). The name defaults to the set's name.
    explicit PlaybackImageStream(SharedImageSet& set, const std::string& name = {});
    ~PlaybackImageStream() override;

    // The set played. Thread-safe (the reference never changes).
    SharedImageSet& data() const { return set_; }
    // Moves the focus back to frame 0 and the stream to Open. Refused (false) while Running.
    // Thread-safe.
    bool reset() override;
    // From the set's property "topDown" (true when absent). Thread-safe.
    bool topDown() const override { return topDown_; }
    bool supportsPausing() const override { return true; }

protected:
    bool openImpl() override { return true; }
    bool closeImpl() override;
    bool startImpl() override;
    bool stopImpl() override;
    bool pauseImpl() override { return pausePlaybackTimer(); }
    bool resumeImpl() override { return resumePlaybackTimer(); }
    bool workerThreadRequiresOpenGl() const override { return false; }
    // The timer emits; the worker has nothing to do.
    std::optional<WorkContinuation> doWork() override { return std::nullopt; }

    void playbackFrameDue(int index) override;
    void playbackFinished() override;

private:
    SharedImageSet& set_;
    const bool topDown_;
};

}  // namespace Corvexis
