#include "Stream/Recording/ImageStreamRecorder.h"

#include <algorithm>
#include <thread>

#include "Host/Core/ElementwiseDataComponentList.h"
#include "Host/Core/Log.h"
#include "Host/GL/ContextManager.h"
#include "Host/GL/SyncObject.h"
#include "Host/Lib/SharedImage.h"
#include "Host/Lib/SharedImageSet.h"
#include "Stream/Framework/ImageStream.h"
#include "Stream/Framework/ImageStreamData.h"
#include "Stream/Recording/BackgroundImageExporter.h"

namespace Corvexis {

namespace {

constexpr const char* kCategory = "Stream.ImageStreamRecorder";
// Room reserved in each new container, so that the first seconds of a recording do not reallocate.
constexpr std::size_t kReservedFrames = 100;
// Frames whose pixels were given up and are kept for reuse by the next copies.
constexpr std::size_t kSpareFrames = 4;

int exportThreads()
{
    return std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
}

}  // namespace

ImageStreamRecorder::ImageStreamRecorder(ImageStream& stream)
    : StreamRecorder(stream), imageStream_(stream), taskManager_(exportThreads(), "RecorderExport")
{
}

ImageStreamRecorder::~ImageStreamRecorder()
{
    disconnectStream();
    disconnectAll();
    std::lock_guard lock(containersMutex_);
    dropContainers();
}

bool ImageStreamRecorder::setNextAsyncRecordingOptions(const std::string& path, bool compression)
{
    if (isRecording()) {
        Log::log(Log::Level::Error, kCategory,
                 "Cannot change the recording file path and compression type during recording.");
        return false;
    }
    std::lock_guard lock(containersMutex_);
    nextExportPath_ = path;
    compression_ = compression;
    return true;
}

int ImageStreamRecorder::maxImagesKeptInMemory() const
{
    std::lock_guard lock(containersMutex_);
    return maxImagesKeptInMemory_;
}

void ImageStreamRecorder::setMaxImagesKeptInMemory(int frames)
{
    std::lock_guard lock(containersMutex_);
    maxImagesKeptInMemory_ = frames;
}

bool ImageStreamRecorder::exportTasksRunning()
{
    return !taskManager_.allReady();
}

std::uint64_t ImageStreamRecorder::exportedFrames() const
{
    std::lock_guard lock(containersMutex_);
    std::uint64_t frames = exportedBefore_;
    for (const auto& exporter : exporters_)
        frames += exporter->framesWritten();
    return frames;
}

bool ImageStreamRecorder::exportFailed() const
{
    std::lock_guard lock(containersMutex_);
    bool failed = exportFailedBefore_;
    for (const auto& exporter : exporters_)
        failed = failed || exporter->hasFailed();
    return failed;
}

std::pair<std::unique_lock<std::mutex>, SharedImageSet*> ImageStreamRecorder::currentRecordingContainer(
    int index)
{
    std::unique_lock lock(containersMutex_);
    SharedImageSet* set = index >= 0 && index < static_cast<int>(containers_.size())
                              ? containers_[static_cast<std::size_t>(index)].get()
                              : nullptr;
    return {std::move(lock), set};
}

void ImageStreamRecorder::init()
{
    std::lock_guard lock(containersMutex_);
    dropContainers();
    exportedBefore_ = 0;
    exportFailedBefore_ = false;
    firstRecord_ = true;
    accepting_ = true;
    metaData_ = Properties("StreamMetaData");
    imageStream_.configuration(&metaData_);
}

void ImageStreamRecorder::dropContainers()
{
    for (auto& exporter : exporters_) {
        if (exporter->isInitialized()) {
            auto closed = exporter->finalizeFile();
            taskManager_.waitFor(taskManager_.addTask([closed] { closed.wait(); }));
        }
        exportedBefore_ += exporter->framesWritten();
        exportFailedBefore_ = exportFailedBefore_ || exporter->hasFailed();
    }
    exporters_.clear();
    containers_.clear();
    spareFrames_.clear();
    descriptors_.clear();
    exportPaths_.clear();
}

void ImageStreamRecorder::createOutputObjects(const std::vector<std::shared_ptr<const SharedImage>>& images,
                                              std::size_t first)
{
    for (std::size_t slot = first; slot < images.size(); ++slot) {
        auto set = std::make_unique<SharedImageSet>(imageStream_.name());
        set->properties().setParam("topDown", imageStream_.topDown());
        if (!metaData_.empty())
            set->properties().addSubProperties(std::make_unique<Properties>(metaData_));
        set->reserve(kReservedFrames);
        set->setModality(images[slot]->modality());
        containers_.push_back(std::move(set));
        descriptors_.push_back(images[slot]->descriptor());
        exporters_.push_back(std::make_unique<BackgroundImageExporter>());
        exportPaths_.push_back(nextExportPath_.empty() ? std::string()
                               : slot == 0             ? nextExportPath_ + ".bin"
                                           : nextExportPath_ + "_" + std::to_string(slot) + ".bin");
    }
}

std::uint64_t ImageStreamRecorder::processStreamData(const StreamData& data)
{
    const auto* record = dynamic_cast<const ImageStreamData*>(&data);
    if (record == nullptr)
        return 0;
    const auto images = record->images();
    if (images.empty())
        return 0;
    std::vector<ImageDescriptor> descriptors;
    descriptors.reserve(images.size());
    for (const auto& image : images)
        descriptors.push_back(image->descriptor());

    bool layoutChanged = false;
    bool descriptorChanged = false;
    {
        std::lock_guard lock(containersMutex_);
        if (!accepting_)
            return 0;
        if (!firstRecord_ && images.size() != containers_.size()) {
            layoutChanged = true;
        } else if (!firstRecord_) {
            for (std::size_t i = 0; i < images.size(); ++i)
                descriptorChanged =
                    descriptorChanged || !descriptors_[i].isApproximatelyEqual(descriptors[i]);
        }
    }
    // Receivers may stop or restart the recording; the state is looked at again below.
    if ((layoutChanged || descriptorChanged) &&
        !emitOutsideRecord([&] { signalDescriptorsChanged.emitSignal(descriptors); }))
        return 0;

    bool containersChanged = false;
    std::uint64_t bytes = 0;
    {
        std::unique_lock lock(containersMutex_);
        if (!accepting_)
            return 0;
        if (!firstRecord_ && images.size() != containers_.size()) {
            dropContainers();
            firstRecord_ = true;
            lock.unlock();
            resetRecordingStatistics();
            lock.lock();
            if (!accepting_)
                return 0;
            containersChanged = true;
        }
        if (firstRecord_) {
            createOutputObjects(images, 0);
            firstRecord_ = false;
        } else if (descriptorChanged) {
            for (std::size_t i = 0; i < std::min(descriptors.size(), descriptors_.size()); ++i)
                descriptors_[i] = descriptors[i];
            createOutputObjects(images, containers_.size());
            containersChanged = true;
        }

        if (record->containsGlImage()) {
            if (GL::ContextManager::hasCurrent())
                pendingSync_ = std::make_shared<GL::SyncObject>(GL::SyncObject::create());
            else
                Log::log(
                    Log::Level::Warning, kCategory,
                    "ImageStreamData contains GL images, but the emitting thread does not have a GL context. "
                    "Cannot create GL sync object. Recorded GL images may be incomplete.");
        }

        const double timestampMs = extractTimestamp(&data) * 1000.0;
        const int cap = maxImagesKeptInMemory_;
        for (std::size_t slot = 0; slot < images.size() && slot < containers_.size(); ++slot) {
            SharedImageSet& set = *containers_[slot];
            std::shared_ptr<SharedImage> frame;
            if (cap < 0 || (cap == 0 && !set.empty())) {
                // Shared with the record: the stream never changes an emitted frame's pixels, so the
                // container may keep the very same image. (With a cap of 0 only frame 0 stays in the
                // container; every later frame leaves it at once, so it is not copied either.)
                frame = std::const_pointer_cast<SharedImage>(images[slot]);
            } else {
                frame = copyFrame(*images[slot]);
            }
            set.add(frame, timestampMs);
            bytes += images[slot]->descriptor().byteSize();

            if (!exportPaths_[slot].empty()) {
                BackgroundImageExporter& exporter = *exporters_[slot];
                if (set.size() == 1 && !exporter.isInitialized()) {
                    bool compress = compression_;
                    if (compress && images[slot]->pixelType() != ImageDescriptor::kUByte) {
                        Log::log(Log::Level::Warning, "ImageStreamRecorder",
                                 "Compression requires unsigned char images. Disabling compression for this "
                                 "recording.");
                        compress = false;
                        compression_ = false;
                    }
                    exporter.initializeFile(&set, exportPaths_[slot], compress);
                }
                if (exporter.isInitialized()) {
                    const DataComponentList* perImage = record->elementwiseComponents().at(slot);
                    exporter.addImage(frame, pendingSync_, timestampMs,
                                      perImage ? *perImage : DataComponentList{});
                }
            }

            if (cap >= 0 && set.size() > cap + 1) {
                // Only the newest `cap` frames (and frame 0, which the others point at) keep pixels.
                const int index = set.size() - cap - 1;
                auto placeholder =
                    std::make_shared<SharedImage>(*set.get(0), SharedImage::CloneOptions::Shallow);
                placeholder->makeExclusive(Image::Location::Memory);
                std::shared_ptr<SharedImage> released = set.get(index);
                set.replace(index, std::move(placeholder));
                recycle(std::move(released));
            }
            recordFrameDataComponents(set.elementwiseComponents(), data, set.size());
        }
    }
    if (containersChanged)
        signalRecorderChanged.emitSignal(this);
    return bytes;
}

void ImageStreamRecorder::finalize()
{
    std::lock_guard lock(containersMutex_);
    accepting_ = false;
    for (auto& set : containers_)
        set->components() = streamComponents();
    for (std::size_t i = 0; i < exporters_.size(); ++i) {
        BackgroundImageExporter& exporter = *exporters_[i];
        if (!exporter.isInitialized())
            continue;
        auto closed = exporter.finalizeFile();
        taskManager_.waitFor(taskManager_.addTask([closed] { closed.wait(); }));
        containers_[i]->properties().setParam("liveRecordingPath", exportPaths_[i]);
    }
    nextExportPath_.clear();
    firstRecord_ = true;
}

std::shared_ptr<SharedImage> ImageStreamRecorder::copyFrame(const SharedImage& image)
{
    // A frame whose pixels were given up is reused when it has the same layout: writing into memory
    // that is already mapped costs a plain copy, a fresh allocation costs the page faults on top.
    for (auto it = spareFrames_.begin(); it != spareFrames_.end(); ++it) {
        if ((*it)->descriptor() == image.descriptor()) {
            std::shared_ptr<SharedImage> frame = std::move(*it);
            spareFrames_.erase(it);
            *frame = image;
            return frame;
        }
    }
    return std::make_shared<SharedImage>(image, SharedImage::CloneOptions::DeepMemory);
}

void ImageStreamRecorder::recycle(std::shared_ptr<SharedImage> frame)
{
    // Only a frame nobody else holds (the exporter may still be writing it) and whose pixels no clone
    // shares may be written again.
    if (frame && frame.use_count() == 1 && !frame->sharesStorage() && frame->hasMem() && !frame->hasGl() &&
        spareFrames_.size() < kSpareFrames)
        spareFrames_.push_back(std::move(frame));
}

OwningDataList ImageStreamRecorder::takeOutput()
{
    std::lock_guard lock(containersMutex_);
    if (pendingSync_) {
        // Waiting borrows a context when this thread has none.
        if (!pendingSync_->waitCpu())
            Log::log(
                Log::Level::Warning, kCategory,
                "ImageStreamData contains GL images, but the emitting thread does not have a GL context. "
                "Cannot synchronize GL contexts. Results may be incomplete");
        pendingSync_.reset();
    }
    OwningDataList output;
    for (auto& set : containers_)
        output.add(std::move(set));
    containers_.clear();
    descriptors_.clear();
    return output;
}

}  // namespace Corvexis
