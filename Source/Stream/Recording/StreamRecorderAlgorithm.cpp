#include "Stream/Recording/StreamRecorderAlgorithm.h"

#include <algorithm>
#include <set>
#include <thread>

#include "Host/Core/DataList.h"
#include "Host/Core/Log.h"
#include "Host/Core/SettingsSchema.h"
#include "Host/Core/TrackingInstrument.h"
#include "Host/Core/TrackingSequence.h"
#include "Host/Lib/Files/BackgroundExporter.h"
#include "Host/Lib/SharedImageSet.h"
#include "Host/Lib/TrackedSharedImageSet.h"
#include "Stream/Framework/ImageStream.h"
#include "Stream/Framework/StreamGroupBase.h"
#include "Stream/Framework/TrackingStream.h"
#include "Stream/Recording/ImageStreamRecorder.h"
#include "Stream/Recording/TrackingStreamRecorder.h"

namespace Corvexis {

namespace {

constexpr const char* kCategory = "Stream.StreamRecorderAlgorithm";
constexpr const char* kRestartWithoutStop =
    "stopOnImageSizeChanged must be set to true if restartRecordingOnImageDescriptorsChanged is true.";

bool isLiveExported(const Data* item)
{
    const auto* set = dynamic_cast<const SharedImageSet*>(item);
    return set != nullptr && set->properties().hasParam("liveRecordingPath");
}

}  // namespace

StreamRecorderAlgorithm::StreamRecorderAlgorithm(std::vector<Stream*> streams)
{
    for (Stream* stream : streams) {
        if (stream == nullptr) {
            Log::log(Log::Level::Error, kCategory, "Input stream is nullptr and cannot be recorded");
            continue;
        }
        std::unique_ptr<StreamRecorder> recorder;
        if (auto* image = dynamic_cast<ImageStream*>(stream)) {
            auto imageRecorder = std::make_unique<ImageStreamRecorder>(*image);
            imageRecorders_.push_back(imageRecorder.get());
            imageRecorder->signalDescriptorsChanged.connect(
                this, [this](const std::vector<ImageDescriptor>&) { onDescriptorsChanged(); });
            recorder = std::move(imageRecorder);
        } else if (auto* tracking = dynamic_cast<TrackingStream*>(stream)) {
            auto trackingRecorder = std::make_unique<TrackingStreamRecorder>(*tracking);
            trackingRecorders_.push_back(trackingRecorder.get());
            trackingRecorder->signalInstrumentsChanged.connect(
                this, [this](TrackingStreamRecorder*) { onInstrumentsChanged(); });
            recorder = std::move(trackingRecorder);
        } else {
            Log::log(Log::Level::Error, kCategory, "Unknown input stream cannot be recorded");
            continue;
        }
        recorder->signalLimitReached.connect(this, [this](StreamRecorder* r) { onLimitReached(r); });
        recorder->signalSampleRecorded.connect(
            this, [this](StreamRecorder*, std::uint64_t) { onSampleRecorded(); });
        streams_.push_back(stream);
        recorders_.push_back(std::move(recorder));
    }
    registerAction("stop", "Stop recording", [this] {
        const bool wasRecording = isRecording();
        stop();
        return wasRecording;
    });
    registerAction("start", "Start recording", [this] { return start(); });
}

StreamRecorderAlgorithm::~StreamRecorderAlgorithm()
{
    disconnectAll();
    stop();
    waitForSaves();
}

bool StreamRecorderAlgorithm::createCompatible(const DataList& inputs, std::unique_ptr<Algorithm>* algorithm)
{
    if (inputs.size() == 0)
        return false;
    auto recordable = [](Stream* stream) {
        return dynamic_cast<ImageStream*>(stream) != nullptr ||
               dynamic_cast<TrackingStream*>(stream) != nullptr;
    };
    std::vector<Stream*> streams;
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        auto* stream = dynamic_cast<Stream*>(inputs[i]);
        if (recordable(stream)) {
            streams.push_back(stream);
            continue;
        }
        // A stream group (a device delivering images and tracking, a played tracked set) is recorded
        // through its image substreams, then its tracking substreams; anything else it offers is not.
        auto* group = dynamic_cast<StreamGroupBase*>(inputs[i]);
        if (group == nullptr)
            return false;
        const std::size_t before = streams.size();
        for (Stream* part : group->substreams())
            if (dynamic_cast<ImageStream*>(part) != nullptr)
                streams.push_back(part);
        for (Stream* part : group->substreams())
            if (dynamic_cast<TrackingStream*>(part) != nullptr)
                streams.push_back(part);
        if (streams.size() == before)
            return false;
    }
    if (algorithm != nullptr)
        *algorithm = std::make_unique<StreamRecorderAlgorithm>(std::move(streams));
    return true;
}

OwningDataList StreamRecorderAlgorithm::recordFor(const std::vector<Stream*>& streams,
                                                  std::chrono::milliseconds duration,
                                                  DataCombinationMode mode)
{
    StreamRecorderAlgorithm algorithm(streams);
    algorithm.setSaveToFile(false);
    algorithm.setDataCombinationMode(mode);
    algorithm.compute();
    if (algorithm.status() != Status::Success)
        return {};
    for (Stream* stream : algorithm.recordedStreams()) {
        if (stream->currentState() == Stream::State::Running)
            continue;
        if (stream->currentState() == Stream::State::Closed)
            stream->open();
        stream->start();
    }
    std::this_thread::sleep_for(duration);
    algorithm.stop();
    return algorithm.takeOutput();
}

bool StreamRecorderAlgorithm::configurationValid() const
{
    if (restartOnImageChange.value() && !stopOnImageSizeChanged.value()) {
        Log::log(Log::Level::Error, kCategory, kRestartWithoutStop);
        return false;
    }
    return true;
}

void StreamRecorderAlgorithm::compute()
{
    if (!configurationValid()) {
        setStatus(Status::Error);
        return;
    }
    if (recorders_.empty()) {
        Log::log(Log::Level::Error, kCategory, "No input streams found, cannot record anything.");
        setStatus(Status::Error);
        return;
    }
    setStatus(start() ? Status::Success : Status::Error);
}

bool StreamRecorderAlgorithm::start()
{
    std::lock_guard lock(signalMutex_);
    return startLocked();
}

bool StreamRecorderAlgorithm::startLocked()
{
    if (started_)
        return false;
    const bool live = liveStreamRecording.value();
    const int kept = framesKeptInMemory.value();
    if (saveToFile.value() && saveRecordingsAsync.value() && live && kept >= 0)
        Log::log(
            Log::Level::Warning, kCategory,
            "While saving the output of stream recorder to disk on the fly with a limited number of images "
            "and asynchronous file save of the .cvx file, the final output given by this algorithm might "
            "change after being retrieved. Additionally, the output SharedImageSet MUST be destroyed on the "
            "main thread. To avoid this anomaly, call saveRecordingsAsync(false); this will block the "
            "algorithm output until the returned data is guaranteed to match the one saved to disk.");
    if (live && kept == 0)
        Log::log(
            Log::Level::Warning, kCategory,
            "No image frames are kept in memory. Image data is NOT added to the data model and only saved to "
            "disk.");
    if (!configurationValid())
        return false;

    liveExportPaths_.assign(imageRecorders_.size(), std::string());
    if (live && saveToFile.value() && !saveAsDicom.value() && !imageRecorders_.empty()) {
        const std::string base = BackgroundExporter::preparePatientFilenames(
            savePath.value(), patientName.value(), patientNameSuffix.value());
        if (base.empty()) {
            Log::log(Log::Level::Error, kCategory, "Cannot create the save directory " + savePath.value());
            std::lock_guard lock(outputMutex_);
            saveError_ = "cannot create the directory '" + savePath.value() + "'";
            return false;
        }
        liveBase_ = base;
        for (std::size_t i = 0; i < imageRecorders_.size(); ++i) {
            liveExportPaths_[i] = i == 0 ? base : base + "_stream" + std::to_string(i);
            imageRecorders_[i]->setNextAsyncRecordingOptions(liveExportPaths_[i], compress.value());
            imageRecorders_[i]->setMaxImagesKeptInMemory(kept);
        }
    } else {
        liveBase_.clear();
        for (auto* recorder : imageRecorders_) {
            recorder->setNextAsyncRecordingOptions({}, false);
            recorder->setMaxImagesKeptInMemory(-1);
        }
    }

    for (auto& recorder : recorders_) {
        recorder->setTimeLimit(timeLimit.value());
        recorder->setSystemMemoryLimit(systemMemLimit.value());
        recorder->setRecordBothTimestamps(recordBothTimestamps.value());
        recorder->setCaptureMode(static_cast<StreamRecorder::CaptureMode>(captureMode.value()));
        recorder->setRecordedBytesLimit(static_cast<std::size_t>(recordedBytesLimit.value()));
    }
    for (auto* recorder : imageRecorders_) {
        recorder->setSamplesLimit(imageSamplesLimit.value());
        recorder->setUseDeviceTimestamp(useDeviceImages.value());
    }
    for (auto* recorder : trackingRecorders_) {
        recorder->setSamplesLimit(trackingSamplesLimit.value());
        recorder->setUseDeviceTimestamp(useDeviceTracking.value());
        recorder->setQualityThreshold(trackingQualityThreshold.value());
    }
    {
        std::lock_guard lock(outputMutex_);
        restarting_ = false;
        limitReached_ = false;
    }
    started_ = true;
    for (auto& recorder : recorders_)
        recorder->start();
    return true;
}

void StreamRecorderAlgorithm::stop()
{
    std::lock_guard lock(signalMutex_);
    ++stopRequests_;
    stopLocked();
}

void StreamRecorderAlgorithm::stopLocked()
{
    if (!started_)
        return;
    started_ = false;
    for (auto& recorder : recorders_)
        recorder->stop();

    std::vector<std::pair<bool, OwningDataList>> outputs;
    std::vector<std::string> livePaths;
    const bool dropImages = liveStreamRecording.value() && framesKeptInMemory.value() == 0;
    for (auto& recorder : recorders_) {
        const bool isImage = dynamic_cast<ImageStreamRecorder*>(recorder.get()) != nullptr;
        OwningDataList output = recorder->takeOutput();
        if (isImage) {
            for (std::size_t i = 0; i < output.size(); ++i)
                if (const auto* set = dynamic_cast<const SharedImageSet*>(output[i]))
                    if (const std::string* path = set->properties().paramText("liveRecordingPath"))
                        livePaths.push_back(*path);
            if (dropImages)
                output.clear();
        }
        outputs.emplace_back(isImage, std::move(output));
    }
    auto recording = std::make_unique<OwningDataList>(arrangeOutputs(std::move(outputs)));

    OwningDataList* stored = recording.get();
    {
        std::lock_guard lock(outputMutex_);
        ++finished_;
        savedFiles_.insert(savedFiles_.end(), livePaths.begin(), livePaths.end());
        if (recording->empty())
            return;
        recordings_.push_back(std::move(recording));
    }
    // The recording stays in recordings_ (at a stable address) until takeOutput, which waits for saves.
    if (saveToFile.value())
        save(*stored);
}

void StreamRecorderAlgorithm::restart()
{
    std::uint64_t requestsBefore = 0;
    {
        std::lock_guard lock(signalMutex_);
        requestsBefore = stopRequests_;
        stopLocked();
        std::lock_guard output(outputMutex_);
        restarting_ = true;
    }
    signalStopped.emitSignal();
    std::lock_guard lock(signalMutex_);
    // A stop asked for while the stopped signal ran wins over the restart.
    if (stopRequests_ == requestsBefore)
        startLocked();
}

OwningDataList StreamRecorderAlgorithm::arrangeOutputs(
    std::vector<std::pair<bool, OwningDataList>> outputs) const
{
    std::vector<std::unique_ptr<SharedImageSet>> sets;
    std::vector<std::unique_ptr<TrackingSequence>> sequences;
    OwningDataList individual;
    bool wellFormed = true;
    for (auto& [isImage, list] : outputs) {
        for (std::size_t i = 0; i < list.size(); ++i) {
            const bool fits = isImage ? dynamic_cast<SharedImageSet*>(list[i]) != nullptr
                                      : dynamic_cast<TrackingSequence*>(list[i]) != nullptr;
            wellFormed = wellFormed && fits;
        }
    }
    const int mode = dataCombinationMode.value();
    if (!wellFormed || mode < 0 || mode > 3) {
        Log::log(Log::Level::Error, kCategory,
                 wellFormed ? "Unknown data combination mode." : "Recorders output type is incorrect.");
        // Nothing recorded is lost: the items are handed over as they came.
        for (auto& entry : outputs)
            individual.append(std::move(entry.second));
        return individual;
    }
    if (mode == static_cast<int>(DataCombinationMode::Individual)) {
        for (auto& entry : outputs)
            individual.append(std::move(entry.second));
        return individual;
    }
    for (auto& [isImage, list] : outputs) {
        for (auto& item : list.takeAll()) {
            if (isImage)
                sets.emplace_back(static_cast<SharedImageSet*>(item.release()));
            else
                sequences.emplace_back(static_cast<TrackingSequence*>(item.release()));
        }
    }
    OwningDataList arranged;
    const bool combine = !sequences.empty() && !sets.empty() &&
                         (mode == static_cast<int>(DataCombinationMode::FirstTracking) ||
                          mode == static_cast<int>(DataCombinationMode::OneOnOne));
    if (!combine) {
        for (auto& set : sets)
            arranged.add(std::move(set));
        for (auto& sequence : sequences)
            arranged.add(std::move(sequence));
        return arranged;
    }
    std::size_t firstUnpaired = 0;
    for (std::size_t i = 0; i < sets.size(); ++i) {
        std::unique_ptr<TrackingSequence> tracking;
        if (mode == static_cast<int>(DataCombinationMode::FirstTracking))
            tracking = sequences.front()->clone();
        else if (i < sequences.size())
            tracking = std::move(sequences[i]);
        if (!tracking) {
            arranged.add(std::move(sets[i]));
            continue;
        }
        auto tracked = std::make_unique<TrackedSharedImageSet>(std::move(*sets[i]));
        tracked->setUseTimestamps(true);
        tracked->addTracking(std::move(tracking));
        tracked->applyTrackingToFrames();
        arranged.add(std::move(tracked));
    }
    // The first sequence lives on in every tracked set; the others (and, one on one, those without an
    // image set) are added on their own.
    firstUnpaired = mode == static_cast<int>(DataCombinationMode::FirstTracking) ? 1 : sets.size();
    for (std::size_t i = firstUnpaired; i < sequences.size(); ++i)
        if (sequences[i])
            arranged.add(std::move(sequences[i]));
    return arranged;
}

void StreamRecorderAlgorithm::save(const OwningDataList& recording)
{
    DataList items;
    for (std::size_t i = 0; i < recording.size(); ++i)
        if (!isLiveExported(recording[i]))
            items.add(recording[i]);
    if (items.size() == 0)
        return;
    // A live recording's files and its data file share one base name.
    const std::string base = !liveBase_.empty()
                                 ? liveBase_
                                 : BackgroundExporter::preparePatientFilenames(
                                       savePath.value(), patientName.value(), patientNameSuffix.value());
    if (base.empty()) {
        std::lock_guard lock(outputMutex_);
        saveError_ = "cannot create the directory '" + savePath.value() + "'";
        Log::log(Log::Level::Error, kCategory, "Cannot save the recording: " + saveError_);
        return;
    }
    const auto type =
        saveAsDicom.value() ? BackgroundExporter::FileType::Dicom : BackgroundExporter::FileType::Native;
    const std::string patient = patientName.value();
    {
        std::lock_guard lock(outputMutex_);
        for (std::size_t i = 0; i < items.size(); ++i)
            ++beingSaved_[items[i]];
    }
    auto job = [this, items, base, type, patient] {
        BackgroundExporter exporter;
        exporter.setFileType(type);
        const bool ok = exporter.save(items, base, patient);
        std::lock_guard lock(outputMutex_);
        for (std::size_t i = 0; i < items.size(); ++i)
            if (auto it = beingSaved_.find(items[i]); it != beingSaved_.end() && --it->second == 0)
                beingSaved_.erase(it);
        if (ok) {
            const auto files = exporter.lastSavedFiles();
            savedFiles_.insert(savedFiles_.end(), files.begin(), files.end());
        } else {
            saveError_ = exporter.lastError();
            Log::log(Log::Level::Error, kCategory, "Saving the recording failed: " + saveError_);
        }
        return ok;
    };
    if (saveRecordingsAsync.value()) {
        auto done = std::async(std::launch::async, [job] {
                        const bool ok = job();
                        Log::log(Log::Level::Info, kCategory, "Saving data completed.");
                        return ok;
                    }).share();
        std::lock_guard lock(outputMutex_);
        pendingSaves_.push_back(std::move(done));
    } else {
        Log::log(Log::Level::Info, kCategory, "Saving recordings in blocking fashion.");
        job();
    }
}

OwningDataList StreamRecorderAlgorithm::takeOutput()
{
    waitForSaves();
    std::lock_guard lock(outputMutex_);
    OwningDataList output;
    for (auto& recording : recordings_)
        output.append(std::move(*recording));
    recordings_.clear();
    return output;
}

std::future<OwningDataList> StreamRecorderAlgorithm::takeOutputAsync()
{
    return std::async(std::launch::async, [this] { return takeOutput(); });
}

void StreamRecorderAlgorithm::waitForSaves()
{
    std::vector<std::shared_future<bool>> pending;
    {
        std::lock_guard lock(outputMutex_);
        pending = pendingSaves_;
    }
    for (auto& save : pending)
        save.wait();
    std::lock_guard lock(outputMutex_);
    pendingSaves_.erase(std::remove_if(pendingSaves_.begin(), pendingSaves_.end(),
                                       [](const std::shared_future<bool>& f) {
                                           return f.wait_for(std::chrono::seconds(0)) ==
                                                  std::future_status::ready;
                                       }),
                        pendingSaves_.end());
}

bool StreamRecorderAlgorithm::isDataBeingSaved(const Data* data) const
{
    std::lock_guard lock(outputMutex_);
    return beingSaved_.count(data) > 0;
}

std::string StreamRecorderAlgorithm::lastRecordedFile() const
{
    std::lock_guard lock(outputMutex_);
    return savedFiles_.empty() ? std::string() : savedFiles_.back();
}

std::vector<std::string> StreamRecorderAlgorithm::savedFiles() const
{
    std::lock_guard lock(outputMutex_);
    return savedFiles_;
}

std::string StreamRecorderAlgorithm::saveError() const
{
    std::lock_guard lock(outputMutex_);
    return saveError_;
}

void StreamRecorderAlgorithm::onLimitReached(StreamRecorder* recorder)
{
    bool restartNow = false;
    {
        std::lock_guard lock(signalMutex_);
        if (!started_)
            return;
        {
            std::lock_guard output(outputMutex_);
            limitReached_ = true;
        }
        restartNow = limitRestartRecording.value() && !recorder->hasReachedMemoryLimit();
        if (!restartNow)
            stopLocked();
    }
    if (restartNow)
        restart();
    else
        signalStopped.emitSignal();
}

void StreamRecorderAlgorithm::onSampleRecorded()
{
    const std::uint64_t limit = recordedBytesLimit.value();
    if (limit > 0 && recordedBytes() >= limit) {
        bool restartNow = false;
        {
            std::lock_guard lock(signalMutex_);
            if (!started_)
                return;
            {
                std::lock_guard output(outputMutex_);
                limitReached_ = true;
            }
            restartNow = limitRestartRecording.value();
            if (!restartNow)
                stopLocked();
        }
        if (restartNow)
            restart();
        else
            signalStopped.emitSignal();
        return;
    }
    signalProgress.emitSignal();
}

void StreamRecorderAlgorithm::onInstrumentsChanged()
{
    {
        std::lock_guard lock(signalMutex_);
        if (!started_ || !stopOnDeviceListChanged.value())
            return;
        Log::log(Log::Level::Info, kCategory, "Stopping stream recording. Instrument list changed");
        stopLocked();
    }
    signalStopped.emitSignal();
}

void StreamRecorderAlgorithm::onDescriptorsChanged()
{
    {
        std::lock_guard lock(signalMutex_);
        if (!started_ || !stopOnImageSizeChanged.value())
            return;
        if (!restartOnImageChange.value()) {
            Log::log(Log::Level::Info, kCategory, "Stopping stream recording. Input image structure changed");
            stopLocked();
        }
    }
    if (restartOnImageChange.value())
        restart();
    else
        signalStopped.emitSignal();
}

bool StreamRecorderAlgorithm::isRecording() const
{
    std::lock_guard lock(signalMutex_);
    return started_;
}

bool StreamRecorderAlgorithm::limitReached() const
{
    {
        std::lock_guard lock(outputMutex_);
        if (limitReached_)
            return true;
    }
    return std::any_of(recorders_.begin(), recorders_.end(),
                       [](const auto& r) { return r->hasReachedLimit(); });
}

bool StreamRecorderAlgorithm::isRestarting() const
{
    std::lock_guard lock(outputMutex_);
    return restarting_;
}

int StreamRecorderAlgorithm::finishedRecordings() const
{
    std::lock_guard lock(outputMutex_);
    return finished_;
}

double StreamRecorderAlgorithm::passedTime() const
{
    double seconds = 0.0;
    for (const auto& recorder : recorders_)
        seconds = std::max(seconds, recorder->passedTime());
    return seconds;
}

int StreamRecorderAlgorithm::recordedFrames() const
{
    int frames = 0;
    for (const auto* recorder : imageRecorders_)
        frames += recorder->recordedSamples();
    return frames;
}

int StreamRecorderAlgorithm::recordedTrackingData() const
{
    int samples = 0;
    for (const auto* recorder : trackingRecorders_)
        samples += recorder->recordedSamples();
    return samples;
}

std::uint64_t StreamRecorderAlgorithm::recordedBytes() const
{
    std::uint64_t bytes = 0;
    for (const auto& recorder : recorders_)
        bytes += recorder->recordedBytes();
    return bytes;
}

std::uint64_t StreamRecorderAlgorithm::exportedFrames() const
{
    std::uint64_t frames = 0;
    for (const auto* recorder : imageRecorders_)
        frames += recorder->exportedFrames();
    return frames;
}

StreamRecorder* StreamRecorderAlgorithm::recorder(int index) const
{
    return index >= 0 && index < numRecorders() ? recorders_[static_cast<std::size_t>(index)].get() : nullptr;
}

ImageStreamRecorder* StreamRecorderAlgorithm::imageRecorder(int index) const
{
    return index >= 0 && index < static_cast<int>(imageRecorders_.size())
               ? imageRecorders_[static_cast<std::size_t>(index)]
               : nullptr;
}

TrackingStreamRecorder* StreamRecorderAlgorithm::trackingRecorder(int index) const
{
    return index >= 0 && index < static_cast<int>(trackingRecorders_.size())
               ? trackingRecorders_[static_cast<std::size_t>(index)]
               : nullptr;
}

ImageStream* StreamRecorderAlgorithm::imageStream(int index) const
{
    if (index < 0 || index >= static_cast<int>(imageRecorders_.size())) {
        Log::log(Log::Level::Error, kCategory, "Index exceeds range of available image streams");
        return nullptr;
    }
    return &imageRecorders_[static_cast<std::size_t>(index)]->stream();
}

TrackingStream* StreamRecorderAlgorithm::trackingStream(int index) const
{
    if (index < 0 || index >= static_cast<int>(trackingRecorders_.size())) {
        Log::log(Log::Level::Error, kCategory, "Index exceeds range of available tracking streams");
        return nullptr;
    }
    return &trackingRecorders_[static_cast<std::size_t>(index)]->stream();
}

std::vector<TrackingInstrument> StreamRecorderAlgorithm::allTrackingInstruments() const
{
    std::vector<TrackingInstrument> all;
    for (const auto* recorder : trackingRecorders_) {
        const auto instruments = recorder->stream().instruments();
        all.insert(all.end(), instruments.begin(), instruments.end());
    }
    return all;
}

bool StreamRecorderAlgorithm::isCompressSupported() const
{
    for (const auto* recorder : imageRecorders_) {
        const auto descriptor = recorder->stream().descriptor();
        if (!descriptor) {
            Log::log(
                Log::Level::Warning, kCategory,
                "Compression support unknown: image stream has not emitted any frames yet; support will be "
                "determined when recording starts.");
            return false;
        }
        if (descriptor->pixelType != ImageDescriptor::kUByte) {
            Log::log(Log::Level::Warning, kCategory,
                     "Cannot enable compression: ImageStream pixel type is not unsigned char");
            return false;
        }
    }
    return true;
}

void StreamRecorderAlgorithm::setCompressSave(bool enable)
{
    if (enable) {
        // Unknown support (no frame yet) is settled per frame by the image recorders.
        for (const auto* recorder : imageRecorders_) {
            const auto descriptor = recorder->stream().descriptor();
            if (descriptor && descriptor->pixelType != ImageDescriptor::kUByte) {
                Log::log(Log::Level::Warning, kCategory,
                         "Cannot enable compression: ImageStream pixel type is not unsigned char");
                return;
            }
            if (!descriptor)
                Log::log(
                    Log::Level::Warning, kCategory,
                    "Compression support unknown: image stream has not emitted any frames yet; support will "
                    "be determined when recording starts.");
        }
    }
    compress = enable;
}

void StreamRecorderAlgorithm::setCaptureNextSample()
{
    for (auto& recorder : recorders_)
        recorder->setCaptureNextSample();
}

void StreamRecorderAlgorithm::setLimits(double timeSec, double systemMemory, int imageSamples,
                                        int trackingSamples, std::uint64_t bytes)
{
    Configurable::ChangeBatch batch(*this);
    timeLimit = timeSec;
    systemMemLimit = systemMemory;
    imageSamplesLimit = imageSamples;
    trackingSamplesLimit = trackingSamples;
    recordedBytesLimit = bytes;
}

void StreamRecorderAlgorithm::setTimestampSource(bool images, bool tracking)
{
    Configurable::ChangeBatch batch(*this);
    useDeviceImages = images;
    useDeviceTracking = tracking;
}

void StreamRecorderAlgorithm::setSavePath(const std::string& path)
{
    if (path.empty())
        Log::log(Log::Level::Warning, kCategory,
                 "The saving path is empty. This could lead to the inability to save the recorded stream.");
    savePath = path;
}

void StreamRecorderAlgorithm::setNumberOfDataToKeep(int count)
{
    numberOfDataToKeepLimit = count == 0 ? std::optional<int>() : std::optional<int>(count);
}

int StreamRecorderAlgorithm::numberOfDataToKeep() const
{
    const auto count = numberOfDataToKeepLimit.value();
    if (!count)
        return 0;
    return *count < 1 ? -1 : *count;
}

void StreamRecorderAlgorithm::configure(const Properties* properties)
{
    if (properties == nullptr)
        return;
    // An older key counts when the newer one is absent, or holds just the current value: hosts apply
    // settings on top of the current configuration, so the newer key is then present without having
    // been given.
    const auto unchanged = [properties](const ParameterBase& parameter) {
        const std::string* text = properties->paramText(parameter.name());
        return text == nullptr || *text == parameter.valueText();
    };
    const bool takeAutoSave = unchanged(saveToFile);
    const bool takeOlderCount = unchanged(numberOfDataToKeepLimit);
    Configurable::ChangeBatch batch(*this);
    Configurable::configure(properties);
    bool flag = false;
    if (takeAutoSave && properties->getParam("autoSave", flag))
        saveToFile = flag;
    if (properties->getParam("restartRecordingOnImageDescriptorsChanged", flag))
        restartOnImageChange = flag;
    if (takeOlderCount) {
        int count = 0;
        if (properties->getParam("numberOfDataToKeep", count) || properties->getParam("nSweepsData", count))
            numberOfDataToKeepLimit = std::optional<int>(count);
    }
}

void StreamRecorderAlgorithm::configuration(Properties* properties) const
{
    if (properties == nullptr)
        return;
    Configurable::configuration(properties);
    if (Properties* old = properties->subProperties("RecordingStatus"))
        properties->removeSubProperties(old);
    Properties* status = properties->addSubProperties("RecordingStatus");
    status->setParam("recording", isRecording());
    status->setParam("restarting", isRestarting());
    status->setParam("limitReached", limitReached());
    status->setParam("recordings", finishedRecordings());
    status->setParam("passedTime", passedTime());
    status->setParam("frames", recordedFrames());
    status->setParam("trackingSamples", recordedTrackingData());
    status->setParam("bytes", recordedBytes());
    status->setParam("exportedFrames", exportedFrames());
    bool exportFailed = false;
    for (const auto* recorder : imageRecorders_)
        exportFailed = exportFailed || recorder->exportFailed();
    status->setParam("exportFailed", exportFailed);
    std::string files;
    for (const auto& file : savedFiles())
        files += (files.empty() ? "" : "\n") + file;
    status->setParam("savedFiles", files);
    status->setParam("saveError", saveError());
}

void StreamRecorderAlgorithm::describeSettings(Properties* schema) const
{
    if (schema == nullptr)
        return;
    Configurable::describeSettings(schema);
    SettingsSchema::add(*schema, "autoSave", true, "older name of saveToFile");
    SettingsSchema::add(*schema, "restartRecordingOnImageDescriptorsChanged", false,
                        "older name of restartRecordingOnImageSizeChanged; wins when given");
    SettingsSchema::add(*schema, "numberOfDataToKeep", 1, "older name of numberOfDataToKeepLimit");
    SettingsSchema::add(*schema, "nSweepsData", 1, "older name of numberOfDataToKeepLimit");
    schema->setParamAttribute("dataCombinationMode", "values", "Individual, all, FirstTracking, OneOnOne");
}

}  // namespace Corvexis
