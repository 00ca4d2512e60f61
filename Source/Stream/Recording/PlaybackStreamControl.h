#pragma once

namespace Corvexis {

class Stream;
class PlaybackStreamGroup;

// What a playback stream group needs of its members, whatever their stream type: the rate and speed
// settings without forwarding to the group and without restarting (the group restarts once for all).
// Implemented by PlaybackStreamBase<T>.
class PlaybackStreamControl
{
public:
    virtual ~PlaybackStreamControl() = default;

    // As setFps / setSpeedFactor, but acting on this stream only and leaving a running stream running.
    // False when refused. Thread-safe.
    virtual bool applyFps(double fps) = 0;
    virtual bool applySpeedFactor(double speedFactor) = 0;
    // The stream itself.
    virtual Stream& playbackStream() = 0;

    // The group that receives this stream's setFps and setSpeedFactor calls; null when none. Set by the
    // group; caller synchronises (before the stream is shared with other threads).
    void setPlaybackGroup(PlaybackStreamGroup* group) { group_ = group; }
    PlaybackStreamGroup* playbackGroup() const { return group_; }

private:
    PlaybackStreamGroup* group_ = nullptr;
};

}  // namespace Corvexis
