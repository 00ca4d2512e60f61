#include "Stream/Processing/LiveStreamProcessingAlgorithm.h"

#include <pthread.h>
#include <time.h>

#include <exception>

#include "Host/Core/Log.h"
#include "Host/Core/TrackingSequence.h"
#include "Host/GL/Context.h"
#include "Host/GL/ContextManager.h"
#include "Host/GL/Flush.h"
#include "Host/GL/SyncObject.h"
#include "Host/Lib/TrackedSharedImageSet.h"
#include "Stream/Framework/ImageStreamData.h"
#include "Stream/Framework/InstrumentCalibrationDataComponent.h"
#include "Stream/Framework/Stream.h"
#include "Stream/Framework/TrackingStreamData.h"

namespace Corvexis {

namespace {
constexpr std::string_view kCategory = "LiveStreamProcessingAlgorithm";

std::unique_ptr<TrackedSharedImageSet> makeTrackedSet(std::string name)
{
    auto set = std::make_unique<TrackedSharedImageSet>(std::move(name));
    set->setUseTimestamps(true);
    return set;
}

// The sequence of `set` that receives the samples of the tracker named `name`, or null.
TrackingSequence* findSequence(const TrackedSharedImageSet& set, const std::string& name)
{
    for (int i = 0; i < set.numTracking(); ++i) {
        if (set.tracking(i)->trackerId().name() == name)
            return set.tracking(i);
    }
    return nullptr;
}

// An empty sequence for `id`, named after the tracker.
std::unique_ptr<TrackingSequence> makeSequence(const TrackerID& id)
{
    auto sequence = std::make_unique<TrackingSequence>(id.name());
    sequence->setTrackerId(id);
    return sequence;
}

// Gives `target` the spatial calibration of `source` and a copy of its calibration component.
void copyCalibration(const TrackingSequence& source, TrackingSequence& target)
{
    target.setCalibration(source.calibration());
    const auto* calibration = source.components().get<InstrumentCalibrationDataComponent>();
    if (calibration == nullptr)
        return;
    auto* existing = target.components().get<InstrumentCalibrationDataComponent>();
    if (existing == nullptr)
        target.components().add(std::make_unique<InstrumentCalibrationDataComponent>(*calibration));
    else if (!(*existing == *calibration))
        *existing = *calibration;
}

// Sets the calibration of `instrumentId` from the stream's component into `sequence`, when the stream
// has one for it.
void applyStreamCalibration(const Stream* stream, const std::string& instrumentId, TrackingSequence& sequence)
{
    if (stream == nullptr)
        return;
    const auto* streamCalibrations = stream->components().get<InstrumentCalibrationDataComponent>();
    if (streamCalibrations == nullptr)
        return;
    const std::optional<InstrumentCalibrationDataComponent::Calibration> calibration =
        streamCalibrations->calibration(instrumentId);
    if (!calibration)
        return;
    sequence.setCalibration(calibration->spatial);
    auto& carried = sequence.components().getOrCreate<InstrumentCalibrationDataComponent>();
    if (carried.calibration(instrumentId) != calibration)
        carried.setCalibration(instrumentId, *calibration);
}
}  // namespace

// Buffered images and tracking in one tracked image set, and the sequence of each tracker name in it.
struct LiveStreamProcessingAlgorithm::Buffer
{
    std::unique_ptr<TrackedSharedImageSet> set = makeTrackedSet("Buffer");
    // Points into `set`, whose sequences are never removed.
    std::map<std::string, TrackingSequence*> sequences;

    TrackingSequence& sequence(const TrackerID& id)
    {
        auto [it, added] = sequences.try_emplace(id.name(), nullptr);
        if (added) {
            it->second = findSequence(*set, id.name());
            if (it->second == nullptr)
                it->second = set->addTracking(makeSequence(id));
        }
        return *it->second;
    }
};

LiveStreamProcessingAlgorithm::LiveStreamProcessingAlgorithm(std::vector<Stream*> inputs,
                                                             bool useProcessingThread,
                                                             bool processingThreadUsesOpenGl)
    : LiveStreamProcessingAlgorithm(std::move(inputs), useProcessingThread, processingThreadUsesOpenGl,
                                    Deferred{})
{
    activate();
}

LiveStreamProcessingAlgorithm::LiveStreamProcessingAlgorithm(std::vector<Stream*> inputs,
                                                             bool useProcessingThread,
                                                             bool processingThreadUsesOpenGl, Deferred)
    : inputs_(std::move(inputs)),
      processingThreadRequested_(useProcessingThread),
      processingThreadUsesOpenGl_(processingThreadUsesOpenGl),
      input_(std::make_unique<Buffer>()),
      handover_(std::make_unique<Buffer>())
{
    useDeviceTimestamps.setLabel("Use device timestamps");
    imageBufferSize.setLabel("Image buffer size");
    trackingBufferSize.setLabel("Tracking buffer size");
    qualityThreshold.setLabel("Quality threshold");
}

LiveStreamProcessingAlgorithm::~LiveStreamProcessingAlgorithm()
{
    deactivate();
}

void LiveStreamProcessingAlgorithm::activate()
{
    for (Stream* stream : inputs_) {
        if (stream != nullptr)
            stream->signalStreamData.connect(
                this, [this](std::shared_ptr<const StreamData> d) { onNewStreamData(d); });
    }
    if (processingThreadRequested_)
        startProcessingThread();
}

void LiveStreamProcessingAlgorithm::deactivate()
{
    disconnectAll();
    stopProcessingThread();
}

void LiveStreamProcessingAlgorithm::compute()
{
    setStatus(Status::Success);
}

void LiveStreamProcessingAlgorithm::start()
{
    running_ = true;
}

void LiveStreamProcessingAlgorithm::stop()
{
    running_ = false;
}

bool LiveStreamProcessingAlgorithm::isRunning() const
{
    return running_.load();
}

void LiveStreamProcessingAlgorithm::createLiveContainer()
{
    liveContainer_ = makeTrackedSet("Live Container");
}

double LiveStreamProcessingAlgorithm::extractTimestamp(const StreamData* data) const
{
    if (data == nullptr)
        return 0.0;
    const std::uint64_t ms = useDeviceTimestamps.value() ? data->timestampDevice() : data->timestampArrival();
    return static_cast<double>(ms) / 1000.0;
}

void LiveStreamProcessingAlgorithm::trimImages(TrackedSharedImageSet& images, std::size_t incoming) const
{
    const std::optional<int> limit = imageBufferSize.value();
    if (!limit)
        return;
    const std::size_t keep = static_cast<std::size_t>(std::max(*limit, 0));
    const std::size_t have = static_cast<std::size_t>(images.size());
    if (have + incoming <= keep)
        return;
    // Remove the oldest so that exactly `keep` remain once the new ones are in (all, if the frame alone
    // exceeds the limit).
    std::size_t remove = std::min(have, have + incoming - keep);
    while (remove-- > 0)
        images.remove(0);
}

void LiveStreamProcessingAlgorithm::trimTracking(TrackedSharedImageSet& tracking) const
{
    const std::optional<int> limit = trackingBufferSize.value();
    if (!limit)
        return;
    const int keep = std::max(*limit, 1);
    for (int i = 0; i < tracking.numTracking(); ++i) {
        TrackingSequence* sequence = tracking.tracking(i);
        if (sequence->size() > keep)
            sequence->removeOldest(sequence->size() - keep);
    }
}

void LiveStreamProcessingAlgorithm::ensureSufficientTracking(const TrackedSharedImageSet& source,
                                                             TrackedSharedImageSet& target)
{
    for (int i = target.numTracking(); i < source.numTracking(); ++i) {
        const TrackingSequence& model = *source.tracking(i);
        TrackingSequence* added = target.addTracking(makeSequence(model.trackerId()));
        copyCalibration(model, *added);
    }
}

void LiveStreamProcessingAlgorithm::moveImages(TrackedSharedImageSet& source, TrackedSharedImageSet& target)
{
    for (int i = 0; i < source.size(); ++i) {
        target.add(source.get(i), source.timestamp(i));
        *target.elementwiseComponents().at(static_cast<std::size_t>(target.size() - 1)) =
            std::move(*source.elementwiseComponents().at(static_cast<std::size_t>(i)));
    }
    source.clear();
}

void LiveStreamProcessingAlgorithm::moveTracking(TrackedSharedImageSet& source, TrackedSharedImageSet& target)
{
    ensureSufficientTracking(source, target);
    for (int i = 0; i < source.numTracking(); ++i) {
        TrackingSequence& from = *source.tracking(i);
        TrackingSequence* to = findSequence(target, from.trackerId().name());
        if (to == nullptr)
            to = target.addTracking(makeSequence(from.trackerId()));
        copyCalibration(from, *to);
        for (const TrackingSequence::Sample& sample : from.samples())
            to->add(sample.matrix, sample.timeSec, sample.quality, sample.status);
        from.clear();
    }
}

void LiveStreamProcessingAlgorithm::moveImagesAndTracking(TrackedSharedImageSet& source,
                                                          TrackedSharedImageSet& target)
{
    moveImages(source, target);
    moveTracking(source, target);
}

void LiveStreamProcessingAlgorithm::selectAllFocusLast()
{
    if (!liveContainer_)
        return;
    std::vector<int> all(static_cast<std::size_t>(liveContainer_->size()));
    for (int i = 0; i < liveContainer_->size(); ++i)
        all[static_cast<std::size_t>(i)] = i;
    liveContainer_->setSelection(all);
    if (!all.empty())
        liveContainer_->setFocus(all.back());
}

void LiveStreamProcessingAlgorithm::onNewStreamData(const std::shared_ptr<const StreamData>& data)
{
    if (auto images = std::dynamic_pointer_cast<const ImageStreamData>(data)) {
        const auto frames = images->images();
        if (frames.empty())
            return;
        const double time = extractTimestamp(images.get()) * 1000.0;  // the image set keeps milliseconds
        std::shared_ptr<GL::SyncObject> sync;
        if (images->containsGlImage() && GL::ContextManager::hasCurrent()) {
            sync = std::make_shared<GL::SyncObject>(GL::SyncObject::create());
            GL::flush();
        }
        {
            std::lock_guard lock(bufferMutex_);
            TrackedSharedImageSet& buffered = *input_->set;
            trimImages(buffered, frames.size());
            const std::optional<int> limit = imageBufferSize.value();
            std::size_t skip = 0;
            if (limit && frames.size() > static_cast<std::size_t>(std::max(*limit, 0)))
                skip = frames.size() - static_cast<std::size_t>(std::max(*limit, 0));
            for (std::size_t i = skip; i < frames.size(); ++i) {
                buffered.add(std::shared_ptr<SharedImage>(frames[i]->clone(Image::CloneOptions::Shallow)),
                             time);
                const DataComponentList* components = images->elementwiseComponents().at(i);
                if (components != nullptr)
                    *buffered.elementwiseComponents().at(static_cast<std::size_t>(buffered.size() - 1)) =
                        *components;
            }
            if (sync)
                pendingSyncs_.push_back(std::move(sync));
        }
        onNewImagesArrived();
        return;
    }
    if (auto tracking = std::dynamic_pointer_cast<const TrackingStreamData>(data)) {
        const double time = extractTimestamp(tracking.get());
        const double threshold = qualityThreshold.value();
        const std::optional<int> limit = trackingBufferSize.value();
        std::lock_guard lock(bufferMutex_);
        for (const TrackingInstrument& instrument : tracking->instruments()) {
            if (instrument.quality < threshold)
                continue;
            TrackingSequence& sequence = input_->sequence(instrument.id);
            if (limit) {
                const int keep = std::max(*limit, 1);
                if (sequence.size() >= keep)
                    sequence.removeOldest(sequence.size() - keep + 1);
            }
            sequence.add(instrument.matrix, time, instrument.quality, instrument.status);
            applyStreamCalibration(tracking->stream(), instrument.id.ID(), sequence);
        }
        // Tracking alone does not wake the derived algorithm: it works on images.
    }
}

void LiveStreamProcessingAlgorithm::onNewImagesArrived()
{
    if (!useProcessingThread_) {
        signalOutputChanged.emitSignal();
        return;
    }
    {
        std::lock_guard lock(threadMutex_);
        wakePending_ = true;
    }
    wake_.notify_one();
}

bool LiveStreamProcessingAlgorithm::backgroundThreadProcessData()
{
    return false;
}

void LiveStreamProcessingAlgorithm::handOver()
{
    std::vector<std::shared_ptr<GL::SyncObject>> syncs;
    std::lock_guard lock(bufferMutex_);
    syncs.swap(pendingSyncs_);
    for (auto& sync : syncs)
        sync->wait();
    std::lock_guard handoverLock(handoverMutex_);
    trimImages(*handover_->set, static_cast<std::size_t>(input_->set->size()));
    moveImagesAndTracking(*input_->set, *handover_->set);
    trimTracking(*handover_->set);
}

void LiveStreamProcessingAlgorithm::moveBufferedDataToLiveContainer()
{
    if (!liveContainer_)
        createLiveContainer();
    {
        std::unique_lock inputLock(bufferMutex_, std::defer_lock);
        std::unique_lock handoverLock(handoverMutex_, std::defer_lock);
        Buffer* source = nullptr;
        if (useProcessingThread_) {
            handoverLock.lock();
            source = handover_.get();
        } else {
            inputLock.lock();
            source = input_.get();
        }
        moveImagesAndTracking(*source->set, *liveContainer_);
    }
    selectAllFocusLast();
}

OwningDataList LiveStreamProcessingAlgorithm::takeOutput()
{
    if (!liveContainer_)
        return {};
    return OwningDataList(std::move(liveContainer_));
}

int LiveStreamProcessingAlgorithm::bufferedImageCount() const
{
    std::lock_guard lock(bufferMutex_);
    return input_->set->size();
}

int LiveStreamProcessingAlgorithm::bufferedSampleCount(const std::string& trackerName) const
{
    std::lock_guard lock(bufferMutex_);
    const auto it = input_->sequences.find(trackerName);
    return it == input_->sequences.end() ? 0 : it->second->size();
}

std::chrono::nanoseconds LiveStreamProcessingAlgorithm::processingThreadCpuTime() const
{
    if (!threadStarted_.load())
        return std::chrono::nanoseconds(0);
    clockid_t clock;
    // thread_ is only changed by start/stopProcessingThread, which callers do not run concurrently.
    if (pthread_getcpuclockid(const_cast<std::thread&>(thread_).native_handle(), &clock) != 0)
        return std::chrono::nanoseconds(0);
    timespec ts{};
    if (clock_gettime(clock, &ts) != 0)
        return std::chrono::nanoseconds(0);
    return std::chrono::seconds(ts.tv_sec) + std::chrono::nanoseconds(ts.tv_nsec);
}

void LiveStreamProcessingAlgorithm::startProcessingThread()
{
    if (threadStarted_.load())
        return;
    {
        std::lock_guard lock(threadMutex_);
        stopRequested_ = false;
        wakePending_ = false;
    }
    useProcessingThread_ = true;
    thread_ = std::thread([this] { runProcessingThread(); });
    threadStarted_ = true;
}

void LiveStreamProcessingAlgorithm::stopProcessingThread()
{
    if (!threadStarted_.load())
        return;
    {
        std::lock_guard lock(threadMutex_);
        stopRequested_ = true;
    }
    wake_.notify_one();
    if (thread_.joinable())
        thread_.join();
    threadStarted_ = false;
}

void LiveStreamProcessingAlgorithm::runProcessingThread()
{
    std::unique_ptr<GL::Context> context;
    if (processingThreadUsesOpenGl_) {
        context = GL::ContextManager::get().createContext();
        if (!context) {
            Log::log(Log::Level::Error, kCategory, "Could not create OpenGL context for processing thread.");
            return;
        }
    }
    try {
        std::unique_lock lock(threadMutex_);
        for (;;) {
            // Sleeps until images arrive (or a stop), then works until the derived algorithm is done.
            wake_.wait(lock, [this] { return stopRequested_ || wakePending_; });
            bool again = true;
            while (again && !stopRequested_) {
                wakePending_ = false;
                lock.unlock();
                handOver();
                processingCalls_.fetch_add(1);
                again = backgroundThreadProcessData();
                lock.lock();
            }
            if (stopRequested_)
                break;
        }
    } catch (const std::exception& e) {
        Log::log(
            Log::Level::Error, kCategory,
            std::string("An unexpected exception occurred while running the processing thread: ") + e.what());
    }
}

}  // namespace Corvexis
