#include "Host/Lib/TrackedSharedImageSet.h"

namespace Corvexis {

TrackedSharedImageSet::TrackedSharedImageSet(std::string name) : SharedImageSet(std::move(name)) {}

TrackedSharedImageSet::TrackedSharedImageSet(SharedImageSet&& set) : SharedImageSet(std::move(set)) {}

TrackedSharedImageSet::~TrackedSharedImageSet() = default;

std::unique_ptr<TrackedSharedImageSet> TrackedSharedImageSet::cloneTracked(Image::CloneOptions options) const
{
    auto copy = std::make_unique<TrackedSharedImageSet>(std::move(*clone(options)));
    copy->setName(name());
    for (const auto& sequence : tracking_)
        copy->addTracking(sequence->clone());
    copy->setUseTimestamps(useTimestamps_);
    return copy;
}

TrackingSequence* TrackedSharedImageSet::addTracking(std::unique_ptr<TrackingSequence> sequence)
{
    if (!sequence)
        return nullptr;
    tracking_.push_back(std::move(sequence));
    return tracking_.back().get();
}

TrackingSequence* TrackedSharedImageSet::tracking(int index) const
{
    if (index < 0 || index >= numTracking())
        return nullptr;
    return tracking_[static_cast<std::size_t>(index)].get();
}

std::unique_ptr<TrackingSequence> TrackedSharedImageSet::takeTracking(int index)
{
    if (index < 0 || index >= numTracking())
        return nullptr;
    auto taken = std::move(tracking_[static_cast<std::size_t>(index)]);
    tracking_.erase(tracking_.begin() + index);
    return taken;
}

Eigen::Matrix4d TrackedSharedImageSet::frameMatrix(int frame, int sequence) const
{
    const TrackingSequence* ts = tracking(sequence);
    if (!ts || ts->empty() || frame < 0 || frame >= size())
        return Eigen::Matrix4d::Identity();
    const std::optional<double> timeMs = timestamp(frame);
    if (useTimestamps_ && timeMs && ts->hasTimestamps())
        return ts->matrixAt(*timeMs / 1000.0);
    return ts->matrix(std::min(frame, ts->size() - 1));
}

void TrackedSharedImageSet::applyTrackingToFrames()
{
    for (int i = 0; i < size(); ++i)
        get(i)->setMatrix(frameMatrix(i));
}

}  // namespace Corvexis
