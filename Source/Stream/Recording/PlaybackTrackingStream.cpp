#include "Stream/Recording/PlaybackTrackingStream.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <set>

#include <Eigen/Core>

#include "Host/Core/Log.h"
#include "Host/Core/TrackingSequence.h"
#include "Stream/Framework/ImageStream.h"
#include "Stream/Framework/StreamData.h"
#include "Stream/Framework/TrackingStreamData.h"
#include "Stream/Recording/PlaybackImageStream.h"

namespace Corvexis {

namespace {

constexpr const char* kCategory = "Stream.PlaybackTrackingStream";

std::uint64_t nowMs()
{
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::system_clock::now().time_since_epoch())
                                          .count());
}

std::uint64_t toMs(double seconds)
{
    return static_cast<std::uint64_t>(std::llround(std::max(seconds, 0.0) * 1000.0));
}

}  // namespace

PlaybackTrackingStream::PlaybackTrackingStream(const std::vector<TrackingSequence*>& sequences,
                                               ImageStream* parent, const std::string& name)
    : TrackingStream(name), PlaybackStreamBase<PlaybackTrackingStream>(*this), parent_(parent)
{
    for (TrackingSequence* s : sequences)
        if (s != nullptr)
            sequences_.push_back(s);

    // One instrument per sequence, identified by its tracker; unnamed or repeated identities get a
    // number so that every sequence keeps an instrument of its own.
    std::set<std::string> used;
    for (size_t k = 0; k < sequences_.size(); ++k) {
        TrackerID id = sequences_[k]->trackerId();
        std::string base =
            id.ID().empty() ? (sequences_[k]->name().empty() ? "playback" : sequences_[k]->name()) : id.ID();
        std::string unique = base;
        for (int n = 1; used.count(unique) != 0; ++n)
            unique = base + "-" + std::to_string(n);
        used.insert(unique);
        id.setID(unique);
        registry().create(id, true);
        instrumentIds_.push_back(unique);
    }

    if (!sequences_.empty()) {
        const auto first = sequences_.front()->timestamps();
        for (size_t k = 1; k < sequences_.size(); ++k) {
            if (sequences_[k]->timestamps() != first) {
                Log::log(Log::Level::Warning, kCategory,
                         "Timestamps between two tracking sequences are different!!");
                break;
            }
        }
        setTimestamps(sequences_.front()->size(), first);
    } else {
        setTimestamps(0, std::nullopt);
    }

    if (parent_ != nullptr) {
        parent_->signalStreamData.connect(
            this, [this](const std::shared_ptr<const StreamData>& data) { onParentData(data); });
    }
}

PlaybackTrackingStream::~PlaybackTrackingStream()
{
    disconnectAll();
    close();
    stopPlaybackTimer();
}

TrackingSequence* PlaybackTrackingStream::playedLocked(size_t index) const
{
    if (index >= sequences_.size())
        return nullptr;
    return clones_.empty() ? sequences_[index] : clones_[index].get();
}

TrackingSequence* PlaybackTrackingStream::playbackTrackingSequence(size_t index) const
{
    std::lock_guard lock(sequencesMutex_);
    return playedLocked(index);
}

bool PlaybackTrackingStream::ignoreCalibration() const
{
    std::lock_guard lock(sequencesMutex_);
    return ignoreCalibration_;
}

void PlaybackTrackingStream::setIgnoreCalibration(bool ignore)
{
    std::lock_guard lock(sequencesMutex_);
    ignoreCalibration_ = ignore;
    rebuildClonesLocked();
}

bool PlaybackTrackingStream::ignoreRelativity() const
{
    std::lock_guard lock(sequencesMutex_);
    return ignoreRelativity_;
}

void PlaybackTrackingStream::setIgnoreRelativity(bool ignore)
{
    std::lock_guard lock(sequencesMutex_);
    ignoreRelativity_ = ignore;
    rebuildClonesLocked();
}

bool PlaybackTrackingStream::ignoreTimestampsInSyncMode() const
{
    std::lock_guard lock(sequencesMutex_);
    return ignoreTimestampsInSyncMode_;
}

void PlaybackTrackingStream::setIgnoreTimestampsInSyncMode(bool ignore)
{
    std::lock_guard lock(sequencesMutex_);
    ignoreTimestampsInSyncMode_ = ignore;
}

void PlaybackTrackingStream::rebuildClonesLocked()
{
    clones_.clear();
    if (!ignoreCalibration_ && !ignoreRelativity_)
        return;
    for (TrackingSequence* s : sequences_) {
        auto clone = s->clone();
        if (ignoreCalibration_)
            clone->setCalibration(Eigen::Matrix4d::Identity());
        if (ignoreRelativity_)
            clone->setRelativeTracking(false);
        clones_.push_back(std::move(clone));
    }
}

bool PlaybackTrackingStream::closeImpl()
{
    stopPlaybackTimer();
    signalStreamEnded.emitSignal();
    return true;
}

bool PlaybackTrackingStream::startImpl()
{
    // In synchronised mode the parent's records pace this stream.
    return parent_ != nullptr || startPlaybackTimer();
}

bool PlaybackTrackingStream::stopImpl()
{
    stopPlaybackTimer();
    return true;
}

void PlaybackTrackingStream::sendTrackingData(std::uint64_t deviceMs, std::uint64_t arrivalMs, int index,
                                              bool byIndex)
{
    std::unique_ptr<TrackingStreamData> record;
    {
        std::lock_guard lock(sequencesMutex_);
        for (size_t k = 0; k < sequences_.size(); ++k) {
            const TrackingSequence* s = playedLocked(k);
            if (s->empty())
                continue;
            const int i = std::clamp(index, 0, s->size() - 1);
            if (byIndex) {
                registry().update(instrumentIds_[k], s->matrix(i), s->quality(i), deviceMs, s->status(i));
            } else {
                const double t = static_cast<double>(deviceMs) / 1000.0;
                registry().update(instrumentIds_[k], s->matrixAt(t), s->qualityAt(t), deviceMs, s->status(i));
            }
        }
        record = createTrackingStreamData();
        record->setTimestampDevice(deviceMs);
        record->setTimestampArrival(arrivalMs);
        if (const TrackingSequence* first = playedLocked(0)) {
            const auto* components =
                first->elementwiseComponents().at(static_cast<size_t>(std::max(index, 0)));
            if (components != nullptr && components->size() > 0)
                record->components() = *components;
        }
    }
    signalStreamData.emitSignal(std::shared_ptr<const StreamData>(std::move(record)));
}

void PlaybackTrackingStream::playbackFrameDue(int index)
{
    std::uint64_t deviceMs = 0;
    const std::uint64_t arrivalMs = nowMs();
    {
        std::lock_guard lock(sequencesMutex_);
        const TrackingSequence* first = playedLocked(0);
        if (first != nullptr && first->hasTimestamps() && index < first->size())
            deviceMs = toMs(first->timestamp(index));
    }
    sendTrackingData(deviceMs != 0 ? deviceMs : arrivalMs, arrivalMs, index, true);
}

void PlaybackTrackingStream::playbackFinished()
{
    setPlaybackFocus(0);
    signalStreamEnded.emitSignal();
    stopAsync();
}

void PlaybackTrackingStream::onParentData(const std::shared_ptr<const StreamData>& data)
{
    // Every parent record is answered, whatever this stream's own state: a group opens, starts and
    // closes its members one after the other, and a record must not be lost in between.
    if (!data || data->stream() != parent_)
        return;
    int index = 0;
    if (auto* playback = dynamic_cast<PlaybackImageStream*>(parent_)) {
        index = playback->playbackFocus();
    } else {
        std::lock_guard lock(sequencesMutex_);
        index = syncCounter_++;
        const TrackingSequence* first = playedLocked(0);
        if (first != nullptr && first->size() > 0)
            syncCounter_ %= first->size();
    }
    setPlaybackFocus(index);
    sendTrackingData(data->timestampDevice(), data->timestampArrival(), index, ignoreTimestampsInSyncMode());
}

}  // namespace Corvexis
