#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace Corvexis {

class Data;

// The host's frame selector. Headless hosts have no widget, but plug-ins still register how their
// playable data is driven (play, stop, looping, play only the selection), and any front end finds the
// driver for a data item through playbackWrapper().
//
// The registry is process-wide. All static operations are thread-safe; wrappers are called on the
// caller's thread.
class SelectionWidget
{
public:
    // Drives playback of the data items it handles. The Data pointers are borrowed for the call.
    class PlaybackWrapper
    {
    public:
        virtual ~PlaybackWrapper() = default;
        virtual bool handles(const Data* data) const = 0;
        virtual bool isPlaying(const Data* data) const = 0;
        virtual void play(Data* data) = 0;
        virtual void stop(Data* data) = 0;
        virtual bool isLooping(const Data* data) const = 0;
        virtual void setLooping(Data* data, bool looping) = 0;
        // `callback` is called (on the data's producing threads) whenever the widget should refresh;
        // an empty callback removes the one set before. The wrapper keeps the connection until the data
        // or the wrapper goes.
        virtual void setUpdateGuiCallback(Data* data, std::function<void()> callback) = 0;
        virtual void setPlaySelected(Data* data, bool playSelected) = 0;
    };

    // Adds a wrapper; the registry owns it until unregisterPlaybackWrapper or process end. Returns the
    // wrapper (for unregistering), null for a null argument.
    static PlaybackWrapper* registerPlaybackWrapper(std::unique_ptr<PlaybackWrapper> wrapper);
    // Removes and destroys a wrapper registered before (plug-ins do so when they are unloaded, since the
    // wrapper's code lives in them). False when it is not registered.
    static bool unregisterPlaybackWrapper(PlaybackWrapper* wrapper);
    // The most recently registered wrapper that handles `data`, or null. The pointer stays valid until
    // that wrapper is unregistered.
    static PlaybackWrapper* playbackWrapper(const Data* data);
    static int playbackWrapperCount();
};

}  // namespace Corvexis
