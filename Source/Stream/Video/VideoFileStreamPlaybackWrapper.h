#pragma once

#include <map>
#include <mutex>

#include "Host/Core/SignalConnection.h"
#include "Host/Lib/SelectionWidget.h"

namespace Corvexis {

class DataDeletionWatch;

// Lets the host's frame selector drive a VideoFileStream: play and stop are the stream's start and
// stop, looping and play-selected its flags, and the refresh callback follows its frames and state
// changes. Data that is not a VideoFileStream is not handled (every operation ignores it).
//
// Threading: all operations are thread-safe; mutex_ guards the connections kept per stream, which
// end when the stream or the wrapper is destroyed.
class VideoFileStreamPlaybackWrapper : public SelectionWidget::PlaybackWrapper
{
public:
    VideoFileStreamPlaybackWrapper();
    ~VideoFileStreamPlaybackWrapper() override;

    bool handles(const Data* data) const override;
    bool isPlaying(const Data* data) const override;
    void play(Data* data) override;
    void stop(Data* data) override;
    bool isLooping(const Data* data) const override;
    void setLooping(Data* data, bool looping) override;
    void setUpdateGuiCallback(Data* data, std::function<void()> callback) override;
    void setPlaySelected(Data* data, bool playSelected) override;

private:
    struct Connections;
    void forget(const Data* data);

    std::mutex mutex_;
    // guarded by mutex_
    std::map<const Data*, std::unique_ptr<Connections>> connections_;
};

}  // namespace Corvexis
