#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "Stream/Framework/Stream.h"
#include "Stream/Framework/StreamGroup.h"

namespace Corvexis {

class PlaybackStreamControl;

// Plays several recorded streams as one device (an image set with its tracking): each member is a
// playback stream taken over as a wrapped substream (SubstreamWrapper), so opening, starting, pausing,
// stopping or closing the group or any member brings all of them along. A member's setFps and
// setSpeedFactor come here and are applied to every member, and a running group restarts once so that
// all play the new schedule from the same moment.
//
// The group itself produces nothing (its members emit their own records); it runs no worker thread, so
// its transitions run on the requesting thread and act synchronously on the members.
//
// Ownership: owns its members (through their wrappers). Threading: requests and the setters are
// thread-safe, but not from a member's own worker or timer thread; mutex_ guards the member list.
class PlaybackStreamGroup : public Stream, public StreamGroup<PlaybackStreamGroup>
{
public:
    explicit PlaybackStreamGroup(const std::string& name = "Playback");
    ~PlaybackStreamGroup() override;

    Kind kind() const override { return Kind::Compound; }
    bool supportsPausing() const override { return true; }
    ThreadingMode threadingMode() const override { return ThreadingMode::NoWorkerThread; }

    // Takes `stream` over as a member; `control` is its playback part (the same object). Its rate and
    // speed requests are routed to this group from now on. Caller synchronises (set-up time).
    void addPlaybackStream(std::unique_ptr<Stream> stream, PlaybackStreamControl& control);

    // Applies the setting to every member (false when any refused it) and restarts a running group.
    // Thread-safe, as above.
    bool setFps(double fps);
    bool setSpeedFactor(double speedFactor);

    // The members' streams, in the order added. Thread-safe.
    std::vector<Stream*> members() const;

protected:
    bool openImpl() override { return true; }
    bool closeImpl() override { return true; }
    bool startImpl() override { return true; }
    bool stopImpl() override { return true; }
    bool pauseImpl() override { return true; }
    bool resumeImpl() override { return true; }
    std::optional<WorkContinuation> doWork() override { return std::nullopt; }

private:
    void restartIfRunning();

    mutable std::mutex mutex_;
    // guarded by mutex_
    std::vector<PlaybackStreamControl*> controls_;
};

}  // namespace Corvexis
