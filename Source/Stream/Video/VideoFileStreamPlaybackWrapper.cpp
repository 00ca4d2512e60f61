#include "Stream/Video/VideoFileStreamPlaybackWrapper.h"

#include "Host/Core/DataDeletionWatch.h"
#include "Stream/Video/VideoFileStream.h"

namespace Corvexis {

struct VideoFileStreamPlaybackWrapper::Connections
{
    SignalConnection data;
    SignalConnection state;
    SignalConnection ended;
    std::unique_ptr<DataDeletionWatch> watch;

    ~Connections()
    {
        data.disconnect();
        state.disconnect();
        ended.disconnect();
    }
};

namespace {

VideoFileStream* asStream(Data* data)
{
    return dynamic_cast<VideoFileStream*>(data);
}

const VideoFileStream* asStream(const Data* data)
{
    return dynamic_cast<const VideoFileStream*>(data);
}

}  // namespace

VideoFileStreamPlaybackWrapper::VideoFileStreamPlaybackWrapper() = default;

VideoFileStreamPlaybackWrapper::~VideoFileStreamPlaybackWrapper()
{
    std::map<const Data*, std::unique_ptr<Connections>> connections;
    {
        std::lock_guard lock(mutex_);
        connections.swap(connections_);
    }
}

bool VideoFileStreamPlaybackWrapper::handles(const Data* data) const
{
    return asStream(data) != nullptr;
}

bool VideoFileStreamPlaybackWrapper::isPlaying(const Data* data) const
{
    const VideoFileStream* stream = asStream(data);
    return stream != nullptr && stream->currentState() == Stream::State::Running;
}

void VideoFileStreamPlaybackWrapper::play(Data* data)
{
    if (VideoFileStream* stream = asStream(data))
        stream->start();
}

void VideoFileStreamPlaybackWrapper::stop(Data* data)
{
    if (VideoFileStream* stream = asStream(data))
        stream->stop();
}

bool VideoFileStreamPlaybackWrapper::isLooping(const Data* data) const
{
    const VideoFileStream* stream = asStream(data);
    return stream != nullptr && stream->looping();
}

void VideoFileStreamPlaybackWrapper::setLooping(Data* data, bool looping)
{
    if (VideoFileStream* stream = asStream(data))
        stream->setLooping(looping);
}

void VideoFileStreamPlaybackWrapper::setPlaySelected(Data* data, bool playSelected)
{
    if (VideoFileStream* stream = asStream(data))
        stream->setPlaySelected(playSelected);
}

void VideoFileStreamPlaybackWrapper::forget(const Data* data)
{
    std::unique_ptr<Connections> removed;  // destroyed outside the lock
    std::lock_guard lock(mutex_);
    auto it = connections_.find(data);
    if (it == connections_.end())
        return;
    removed = std::move(it->second);
    connections_.erase(it);
}

void VideoFileStreamPlaybackWrapper::setUpdateGuiCallback(Data* data, std::function<void()> callback)
{
    VideoFileStream* stream = asStream(data);
    if (stream == nullptr)
        return;
    forget(data);
    if (!callback)
        return;
    auto connections = std::make_unique<Connections>();
    connections->data = stream->signalStreamData.connect([callback](const auto&) { callback(); });
    connections->state = stream->signalStateChanged.connect([callback](const auto&) { callback(); });
    connections->ended = stream->signalStreamEnded.connect([callback] { callback(); });
    // The connections end with the stream's signals; the watch only tells which entries are stale.
    connections->watch = std::make_unique<DataDeletionWatch>(*stream, [] {});
    std::lock_guard lock(mutex_);
    // Entries of destroyed streams are dropped here, where no watch is running.
    for (auto it = connections_.begin(); it != connections_.end();) {
        if (it->second->watch->dataDeleted())
            it = connections_.erase(it);
        else
            ++it;
    }
    connections_[data] = std::move(connections);
}

}  // namespace Corvexis
