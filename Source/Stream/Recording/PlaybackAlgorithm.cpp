#include "Stream/Recording/PlaybackAlgorithm.h"

#include <string>

#include "Host/Core/DataList.h"
#include "Host/Core/Log.h"
#include "Host/Core/TrackingSequence.h"
#include "Host/Lib/SharedImageSet.h"
#include "Host/Lib/TrackedSharedImageSet.h"
#include "Stream/Recording/PlaybackImageStream.h"
#include "Stream/Recording/PlaybackStreamGroup.h"
#include "Stream/Recording/PlaybackTrackingStream.h"

namespace Corvexis {

namespace {

constexpr const char* kCategory = "Stream.PlaybackAlgorithm";

}  // namespace

PlaybackAlgorithm::PlaybackAlgorithm(SharedImageSet* images, std::vector<TrackingSequence*> sequences)
    : images_(images)
{
    for (TrackingSequence* s : sequences)
        if (s != nullptr)
            sequences_.push_back(s);
    // The set's own tracking comes first; sequences given beside it follow.
    if (auto* tracked = dynamic_cast<TrackedSharedImageSet*>(images_)) {
        std::vector<TrackingSequence*> own;
        for (int i = 0; i < tracked->numTracking(); ++i)
            own.push_back(tracked->tracking(i));
        sequences_.insert(sequences_.begin(), own.begin(), own.end());
    }
    for (ParameterBase* p :
         {static_cast<ParameterBase*>(&synchronizedMode), static_cast<ParameterBase*>(&ignoreCalibration),
          static_cast<ParameterBase*>(&delayStart)})
        p->setAttribute("hidden", "true");
}

PlaybackAlgorithm::~PlaybackAlgorithm()
{
    detachLink();
    std::unique_ptr<Stream> owned;
    {
        std::lock_guard lock(outputMutex_);
        owned = std::move(owned_);
    }
}

bool PlaybackAlgorithm::createCompatible(const DataList& inputs, std::unique_ptr<Algorithm>* algorithm)
{
    if (inputs.size() == 0)
        return false;
    SharedImageSet* images = nullptr;
    std::vector<TrackingSequence*> sequences;
    for (size_t i = 0; i < inputs.size(); ++i) {
        Data* item = inputs[i];
        if (auto* set = dynamic_cast<SharedImageSet*>(item); set != nullptr && i == 0) {
            images = set;
        } else if (auto* sequence = dynamic_cast<TrackingSequence*>(item)) {
            sequences.push_back(sequence);
        } else {
            return false;
        }
    }
    if (algorithm != nullptr)
        *algorithm = std::make_unique<PlaybackAlgorithm>(images, std::move(sequences));
    return true;
}

void PlaybackAlgorithm::compute()
{
    if (images_ == nullptr && sequences_.empty()) {
        Log::log(Log::Level::Error, kCategory, "No tracking sequence.");
        setStatus(Status::InvalidInput);
        return;
    }

    std::unique_ptr<PlaybackImageStream> image;
    std::unique_ptr<PlaybackTrackingStream> tracking;
    if (images_ != nullptr) {
        images_->syncMem();
        image = std::make_unique<PlaybackImageStream>(*images_);
    }
    if (!sequences_.empty()) {
        // Named after what it plays, so that several played at once can be told apart.
        std::string name = images_ != nullptr ? images_->name() + " tracking" : sequences_.front()->name();
        // A recorder names every instrument's sequence after the stream, so the instrument tells them
        // apart (unless the sequence name already holds it).
        if (images_ == nullptr) {
            const TrackerID& id = sequences_.front()->trackerId();
            const std::string& instrument = id.name().empty() ? id.ID() : id.name();
            const bool named = name.find(instrument) != std::string::npos ||
                               (!id.ID().empty() && name.find(id.ID()) != std::string::npos);
            if (!instrument.empty() && !named)
                name += (name.empty() ? "" : " ") + instrument;
        }
        if (name.empty() || name == " tracking")
            name = PlaybackTrackingStream::kDefaultName;
        tracking = std::make_unique<PlaybackTrackingStream>(
            sequences_, image && synchronizedMode.value() ? image.get() : nullptr, name);
        tracking->setIgnoreCalibration(ignoreCalibration.value());
    }
    PlaybackImageStream* imageView = image.get();
    PlaybackTrackingStream* trackingView = tracking.get();
    if (imageView) {
        imageView->setLoop(loop.value());
        imageView->setSkipDelayedFrames(skipDelayedFrames.value());
    }
    if (trackingView) {
        trackingView->setLoop(loop.value());
        trackingView->setSkipDelayedFrames(skipDelayedFrames.value());
    }

    std::unique_ptr<Stream> output;
    PlaybackStreamGroup* groupView = nullptr;
    if (image && tracking) {
        auto group =
            std::make_unique<PlaybackStreamGroup>(images_->name().empty() ? "Playback" : images_->name());
        groupView = group.get();
        // Tracking first: a synchronised tracking stream must run before the first image arrives.
        group->addPlaybackStream(std::move(tracking), *trackingView);
        group->addPlaybackStream(std::move(image), *imageView);
        output = std::move(group);
    } else if (image) {
        output = std::move(image);
    } else {
        output = std::move(tracking);
    }

    Stream* outputView = output.get();
    std::unique_ptr<Stream> previous;
    {
        std::lock_guard lock(outputMutex_);
        previous = std::move(owned_);
        owned_ = std::move(output);
        output_ = outputView;
        group_ = groupView;
        imageStream_ = imageView;
        trackingStream_ = trackingView;
    }
    previous.reset();
    clearOutputTaken();

    // The rate chosen by the user wins over the recorded one; otherwise a speed other than 1 applies.
    if (fpsGiven())
        setFps(fpsSetting());
    else if (speedFactor.value() != 1.0)
        setSpeedFactor(speedFactor.value());

    if (!outputView->open()) {
        setStatus(Status::Error);
        return;
    }
    if (!delayStart.value() && !outputView->start()) {
        setStatus(Status::Error);
        return;
    }
    setStatus(Status::Success);
    signalOutputChanged.emitSignal();
}

Stream* PlaybackAlgorithm::stream() const
{
    std::lock_guard lock(outputMutex_);
    return output_;
}

Data* PlaybackAlgorithm::dataGroup() const
{
    std::lock_guard lock(outputMutex_);
    return group_;
}

void PlaybackAlgorithm::resetStream()
{
    std::lock_guard lock(outputMutex_);
    output_ = nullptr;
    group_ = nullptr;
    imageStream_ = nullptr;
    trackingStream_ = nullptr;
}

std::unique_ptr<Stream> PlaybackAlgorithm::releaseStream()
{
    std::lock_guard lock(outputMutex_);
    return std::move(owned_);
}

int PlaybackAlgorithm::validityValue() const
{
    std::lock_guard lock(outputMutex_);
    if (imageStream_ != nullptr)
        return static_cast<int>(imageStream_->timestampsValidity());
    if (trackingStream_ != nullptr)
        return static_cast<int>(trackingStream_->timestampsValidity());
    return 0;
}

bool PlaybackAlgorithm::timestampValid() const
{
    return validityValue() != 0;
}

bool PlaybackAlgorithm::timestampValidAndEquidistant() const
{
    return validityValue() == 1;
}

std::optional<double> PlaybackAlgorithm::calculatedInitialFps() const
{
    std::lock_guard lock(outputMutex_);
    if (imageStream_ != nullptr)
        return imageStream_->calculatedInitialFps();
    if (trackingStream_ != nullptr)
        return trackingStream_->calculatedInitialFps();
    return std::nullopt;
}

bool PlaybackAlgorithm::setFps(double fps)
{
    PlaybackImageStream* image = nullptr;
    PlaybackTrackingStream* tracking = nullptr;
    {
        std::lock_guard lock(outputMutex_);
        image = imageStream_;
        tracking = trackingStream_;
    }
    // Through one member: a grouped stream hands it to the group, which sets every member.
    if (image != nullptr && !image->setFps(fps))
        return false;
    if (image == nullptr && tracking != nullptr && !tracking->setFps(fps))
        return false;
    storeFps(fps);
    return true;
}

bool PlaybackAlgorithm::setSpeedFactor(double value)
{
    PlaybackImageStream* image = nullptr;
    PlaybackTrackingStream* tracking = nullptr;
    {
        std::lock_guard lock(outputMutex_);
        image = imageStream_;
        tracking = trackingStream_;
    }
    bool ok = true;
    if (image != nullptr)
        ok = image->setSpeedFactor(value);
    else if (tracking != nullptr)
        ok = tracking->setSpeedFactor(value);
    if (ok && value >= 0.001)
        speedFactor.setValue(value);
    return ok;
}

void PlaybackAlgorithm::setLoop(bool value)
{
    loop.setValue(value);
    std::lock_guard lock(outputMutex_);
    if (imageStream_ != nullptr)
        imageStream_->setLoop(value);
    if (trackingStream_ != nullptr)
        trackingStream_->setLoop(value);
}

void PlaybackAlgorithm::setSkipDelayedFrames(bool value)
{
    skipDelayedFrames.setValue(value);
    std::lock_guard lock(outputMutex_);
    if (imageStream_ != nullptr)
        imageStream_->setSkipDelayedFrames(value);
    if (trackingStream_ != nullptr)
        trackingStream_->setSkipDelayedFrames(value);
}

void PlaybackAlgorithm::configuration(Properties* properties) const
{
    PlaybackAlgorithmBase::configuration(properties);
    if (properties == nullptr)
        return;
    // Always hidden from property editors, whatever the parameters' own attributes say.
    for (const char* key : {"Synchronized Mode", "Ignore Calibration", "Delay Start"})
        properties->setParamAttribute(key, "hidden", "true");
}

}  // namespace Corvexis
