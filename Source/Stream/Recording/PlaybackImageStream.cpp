#include "Stream/Recording/PlaybackImageStream.h"

#include <chrono>
#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include "Host/Lib/SharedImage.h"
#include "Host/Lib/SharedImageSet.h"
#include "Stream/Framework/ImageStreamData.h"

namespace Corvexis {

namespace {

// The set's frame times in seconds, when every frame has one.
std::optional<std::vector<double>> frameTimesSec(const SharedImageSet& set)
{
    if (!set.hasTimestamps())
        return std::nullopt;
    std::vector<double> times;
    times.reserve(static_cast<size_t>(set.size()));
    for (int i = 0; i < set.size(); ++i)
        times.push_back(set.timestamp(i).value_or(0.0) / 1000.0);
    return times;
}

}  // namespace

PlaybackImageStream::PlaybackImageStream(SharedImageSet& set, const std::string& name)
    : ImageStream(name.empty() ? set.name() : name),
      PlaybackStreamBase<PlaybackImageStream>(*this),
      set_(set),
      topDown_(set.properties().param("topDown", true))
{
    setModality(set.modality());
    setTimestamps(set.size(), frameTimesSec(set));
}

PlaybackImageStream::~PlaybackImageStream()
{
    close();
    stopPlaybackTimer();
}

bool PlaybackImageStream::reset()
{
    if (currentState() == State::Running)
        return false;
    setPlaybackFocus(0);
    changeState(State::Open);
    return true;
}

bool PlaybackImageStream::closeImpl()
{
    stopPlaybackTimer();
    signalStreamEnded.emitSignal();
    return true;
}

bool PlaybackImageStream::startImpl()
{
    // Frames are handed out as shallow copies on the timer's thread, which has no graphics context.
    set_.syncMem();
    return startPlaybackTimer();
}

bool PlaybackImageStream::stopImpl()
{
    stopPlaybackTimer();
    return true;
}

void PlaybackImageStream::playbackFrameDue(int index)
{
    std::shared_ptr<SharedImage> image = set_.get(index);
    if (!image)
        return;
    auto record = std::make_shared<ImageStreamData>(this, image);
    const auto now = std::chrono::system_clock::now();
    record->setTimestampArrival(now);
    if (const std::optional<double> ms = set_.timestamp(index))
        record->setTimestampDevice(static_cast<std::uint64_t>(std::llround(std::max(*ms, 0.0))));
    else
        record->setTimestampDevice(record->timestampArrival());
    if (const DataComponentList* components = set_.elementwiseComponents().at(static_cast<size_t>(index)))
        record->elementwiseComponents().append(*components);
    signalStreamData.emitSignal(std::shared_ptr<const StreamData>(std::move(record)));
}

void PlaybackImageStream::playbackFinished()
{
    setPlaybackFocus(0);
    changeState(State::Open);
    signalStreamEnded.emitSignal();
}

}  // namespace Corvexis
