#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "Host/Core/ImageDescriptor.h"
#include "Host/Core/Properties.h"
#include "Host/Core/Signal.h"
#include "Host/Core/SignalReceiver.h"
#include "Stream/Framework/ImageStream.h"
#include "Stream/Framework/TaskManager.h"
#include "Stream/Recording/StreamRecorder.h"

namespace Corvexis {

class BackgroundImageExporter;
class SharedImage;
class SharedImageSet;
namespace GL {
class SyncObject;
}

// Records an image stream into one SharedImageSet per image slot of its records (most streams have
// one). Frames are shared with the stream, not copied, unless a cap of frames kept in memory is set:
// then each frame is copied once (the stream may reuse its buffers) and only the newest N frames keep
// their own pixels, the older ones pointing at frame 0's. With a next export path, every frame is also
// handed to a BackgroundImageExporter per slot, which writes "<path>.bin" (slot 0) or
// "<path>_<slot>.bin" while recording.
//
// A change of the record layout (number of images) starts new containers and statistics; a changed
// descriptor is reported through signalDescriptorsChanged, on which the recorder algorithm stops or
// restarts.
//
// Locks: containersMutex_ guards the containers, exporters and options; it is taken after the base's
// lock is released and never held while a signal is emitted.
// Threading: public operations are thread-safe; records arrive on the stream's emitting thread.
class ImageStreamRecorder : public StreamRecorder, public SignalReceiver
{
public:
    explicit ImageStreamRecorder(ImageStream& stream);
    ~ImageStreamRecorder() override;

    // The containers, handed over (after waiting for a pending GL sync). Caller synchronises.
    OwningDataList takeOutput() override;
    ImageStream& stream() const override { return imageStream_; }

    // Refused while recording (false, logged). An empty path turns live export off. Thread-safe.
    bool setNextAsyncRecordingOptions(const std::string& path, bool compression);
    int maxImagesKeptInMemory() const;          // -1: all; thread-safe
    void setMaxImagesKeptInMemory(int frames);  // thread-safe
    // True while export files are still being finished. Thread-safe.
    bool exportTasksRunning();
    // Frames written to the live files so far, over all slots. Thread-safe.
    std::uint64_t exportedFrames() const;
    // True when a live file could not be written (a full disk). Thread-safe.
    bool exportFailed() const;

    // The container of slot `index` (null when none) with the lock that keeps it valid; hold the lock
    // only briefly. Thread-safe.
    std::pair<std::unique_lock<std::mutex>, SharedImageSet*> currentRecordingContainer(int index);

    // The new descriptors when the layout or a descriptor of the records changed; emitting thread.
    Signal<const std::vector<ImageDescriptor>&> signalDescriptorsChanged;
    // After the containers were changed for a new layout; emitting thread.
    Signal<ImageStreamRecorder*> signalRecorderChanged;

protected:
    void init() override;
    void finalize() override;
    std::uint64_t processStreamData(const StreamData& data) override;

private:
    // Makes containers (and exporters) for the slots from `first` to images.size(). Needs containersMutex_.
    void createOutputObjects(const std::vector<std::shared_ptr<const SharedImage>>& images,
                             std::size_t first);
    // The recorder's own copy of a frame, in a spare frame when one fits. Needs containersMutex_.
    std::shared_ptr<SharedImage> copyFrame(const SharedImage& image);
    // Keeps a frame that left its container for reuse, when nothing else uses it. Needs containersMutex_.
    void recycle(std::shared_ptr<SharedImage> frame);
    // Finishes open exports (on the task manager) and drops containers. Needs containersMutex_.
    void dropContainers();

    ImageStream& imageStream_;
    TaskManager taskManager_;

    mutable std::mutex containersMutex_;
    // guarded by containersMutex_
    std::vector<std::unique_ptr<SharedImageSet>> containers_;
    std::vector<ImageDescriptor> descriptors_;
    std::vector<std::unique_ptr<BackgroundImageExporter>> exporters_;
    std::vector<std::string> exportPaths_;
    std::string nextExportPath_;
    bool compression_ = false;
    Properties metaData_{"StreamMetaData"};
    int maxImagesKeptInMemory_ = -1;
    bool firstRecord_ = true;
    bool accepting_ = false;  // between init() and finalize()
    std::shared_ptr<GL::SyncObject> pendingSync_;
    std::vector<std::shared_ptr<SharedImage>> spareFrames_;
    std::uint64_t exportedBefore_ = 0;  // frames of exports finished in this recording
    bool exportFailedBefore_ = false;
};

}  // namespace Corvexis
