#include "Stream/Processing/LiveStreamProcessingAlgorithm.h"

#include <pthread.h>
#include <time.h>

#include <exception>

#include "Host/Core/Log.h"
#include "Host/GL/Context.h"
#include "Host/GL/ContextManager.h"
#include "Host/GL/Flush.h"
#include "Host/GL/SyncObject.h"
#include "Host/Lib/SharedImageSet.h"
#include "Stream/Framework/ImageStreamData.h"
#include "Stream/Framework/Stream.h"
#include "Stream/Framework/TrackingStreamData.h"

namespace Corvexis {

namespace {
constexpr std::string_view kCategory = "LiveStreamProcessingAlgorithm";
}

// Buffered images (with timestamps, in an image set) and tracking samples by tracker name.
struct LiveStreamProcessingAlgorithm::Buffer
{
    SharedImageSet images;
    std::map<std::string, TrackingSequence> tracking;
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
    liveContainer_ = std::make_unique<SharedImageSet>("Live Container");
    liveTracking_.clear();
}

double LiveStreamProcessingAlgorithm::extractTimestamp(const StreamData* data) const
{
    if (data == nullptr)
        return 0.0;
    const std::uint64_t ms = useDeviceTimestamps.value() ? data->timestampDevice() : data->timestampArrival();
    return static_cast<double>(ms) / 1000.0;
}

void LiveStreamProcessingAlgorithm::trimImages(Buffer& buffer, std::size_t incoming) const
{
    const std::optional<int> limit = imageBufferSize.value();
    if (!limit)
        return;
    const std::size_t keep = static_cast<std::size_t>(std::max(*limit, 0));
    const std::size_t have = static_cast<std::size_t>(buffer.images.size());
    if (have + incoming <= keep)
        return;
    // Remove the oldest so that exactly `keep` remain once the new ones are in (all, if the frame alone
    // exceeds the limit).
    std::size_t remove = std::min(have, have + incoming - keep);
    while (remove-- > 0)
        buffer.images.remove(0);
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
            trimImages(*input_, frames.size());
            const std::optional<int> limit = imageBufferSize.value();
            std::size_t skip = 0;
            if (limit && frames.size() > static_cast<std::size_t>(std::max(*limit, 0)))
                skip = frames.size() - static_cast<std::size_t>(std::max(*limit, 0));
            for (std::size_t i = skip; i < frames.size(); ++i) {
                input_->images.add(
                    std::shared_ptr<SharedImage>(frames[i]->clone(Image::CloneOptions::Shallow)), time);
                const DataComponentList* components = images->elementwiseComponents().at(i);
                if (components != nullptr)
                    *input_->images.elementwiseComponents().at(
                        static_cast<std::size_t>(input_->images.size() - 1)) = *components;
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
            TrackingSequence& sequence = input_->tracking[instrument.id.name()];
            sequence.trackerId = instrument.id;
            if (limit) {
                const std::size_t keep = static_cast<std::size_t>(std::max(*limit, 1));
                while (sequence.samples.size() >= keep)
                    sequence.samples.pop_front();
            }
            sequence.samples.push_back({instrument.matrix, time, instrument.quality, instrument.status});
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
    trimImages(*handover_, static_cast<std::size_t>(input_->images.size()));
    for (int i = 0; i < input_->images.size(); ++i) {
        handover_->images.add(input_->images.get(i), input_->images.timestamp(i));
        *handover_->images.elementwiseComponents().at(
            static_cast<std::size_t>(handover_->images.size() - 1)) =
            std::move(*input_->images.elementwiseComponents().at(static_cast<std::size_t>(i)));
    }
    input_->images.clear();
    const std::optional<int> limit = trackingBufferSize.value();
    for (auto& [name, sequence] : input_->tracking) {
        TrackingSequence& target = handover_->tracking[name];
        target.trackerId = sequence.trackerId;
        for (const TrackingSample& sample : sequence.samples)
            target.samples.push_back(sample);
        if (limit) {
            const std::size_t keep = static_cast<std::size_t>(std::max(*limit, 1));
            while (target.samples.size() > keep)
                target.samples.pop_front();
        }
    }
    input_->tracking.clear();
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
        for (int i = 0; i < source->images.size(); ++i) {
            liveContainer_->add(source->images.get(i), source->images.timestamp(i));
            *liveContainer_->elementwiseComponents().at(
                static_cast<std::size_t>(liveContainer_->size() - 1)) =
                std::move(*source->images.elementwiseComponents().at(static_cast<std::size_t>(i)));
        }
        source->images.clear();
        for (auto& [name, sequence] : source->tracking) {
            TrackingSequence& target = liveTracking_[name];
            target.trackerId = sequence.trackerId;
            for (const TrackingSample& sample : sequence.samples)
                target.samples.push_back(sample);
        }
        source->tracking.clear();
    }
    std::vector<int> all(static_cast<std::size_t>(liveContainer_->size()));
    for (int i = 0; i < liveContainer_->size(); ++i)
        all[static_cast<std::size_t>(i)] = i;
    liveContainer_->setSelection(all);
    if (!all.empty())
        liveContainer_->setFocus(all.back());
}

OwningDataList LiveStreamProcessingAlgorithm::takeOutput()
{
    if (!liveContainer_)
        return {};
    liveTracking_.clear();
    return OwningDataList(std::move(liveContainer_));
}

int LiveStreamProcessingAlgorithm::bufferedImageCount() const
{
    std::lock_guard lock(bufferMutex_);
    return input_->images.size();
}

int LiveStreamProcessingAlgorithm::bufferedSampleCount(const std::string& trackerName) const
{
    std::lock_guard lock(bufferMutex_);
    const auto it = input_->tracking.find(trackerName);
    return it == input_->tracking.end() ? 0 : static_cast<int>(it->second.samples.size());
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
