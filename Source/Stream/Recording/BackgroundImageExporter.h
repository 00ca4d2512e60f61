#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "Host/Core/DataComponentList.h"

namespace Corvexis {

class CorvexisImage;
class SharedImage;
class SharedImageSet;
namespace GL {
class SyncObject;
}

// Writes the frames of one recording container into a live image file while they are recorded, so
// that a long recording need not stay in memory and a crash loses at most the frames still queued.
//
// addImage() only queues the (shared, not copied) frame; a writer thread of this object appends the
// queued frames to the file in order. The queue is not bounded: a disk slower than the stream makes it
// grow, and the recorder's system memory limit is what stops such a recording in time. finalizeFile() writes what is queued, then closes the file on the
// host writer's closing thread, which renames "<path>.part" to the path.
//
// Threading: initializeFile, addImage and finalizeFile are caller synchronises (the image recorder calls
// them under its lock); the queries are thread-safe. The writer thread is joined by finalizeFile and by
// the destructor, which also finishes an open file.
class BackgroundImageExporter
{
public:
    BackgroundImageExporter();
    ~BackgroundImageExporter();
    BackgroundImageExporter(const BackgroundImageExporter&) = delete;
    BackgroundImageExporter& operator=(const BackgroundImageExporter&) = delete;

    // Opens `path` (as "<path>.part" until finished) with the set's header. Refused, logged at level 4
    // under "BackgroundImageExporter", when a file is open, the set or path is missing, the set has no
    // frame, or the file cannot be created. Caller synchronises.
    bool initializeFile(SharedImageSet* container, const std::string& path, bool compression);
    // Queues one frame for the writer, after waiting on `sync` (may be null) on the writer thread.
    // Caller synchronises.
    bool addImage(std::shared_ptr<const SharedImage> image, std::shared_ptr<GL::SyncObject> sync,
                  std::optional<double> timestampMs, DataComponentList components = {});
    // Writes the queued frames, closes the file asynchronously and resets. The future tells whether the
    // file was finished; the object may be initialised again at once. Caller synchronises.
    std::shared_future<bool> finalizeFile();
    // Thread-safe.
    bool isInitialized() const { return initialized_.load(); }

    // Frames appended to the file so far (of the current or last file). Thread-safe.
    std::uint64_t framesWritten() const { return framesWritten_.load(); }
    // Frames handed to addImage and not yet written. Thread-safe.
    std::size_t pendingFrames() const;
    // True after a write failed (a full disk): later frames of the file are dropped. Thread-safe.
    bool hasFailed() const { return failed_.load(); }
    std::string lastError() const;  // thread-safe
    // The final path of the current or last file. Thread-safe.
    std::string path() const;

private:
    struct Frame
    {
        std::shared_ptr<const SharedImage> image;
        std::shared_ptr<GL::SyncObject> sync;
        std::optional<double> timestampMs;
        DataComponentList components;
    };

    void writerLoop();
    void stopWriter();

    std::unique_ptr<CorvexisImage> file_;  // written by the writer thread while it runs
    std::thread writer_;
    std::atomic<bool> initialized_{false};
    std::atomic<bool> failed_{false};
    std::atomic<std::uint64_t> framesWritten_{0};

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    // guarded by mutex_
    std::deque<Frame> queue_;
    bool writing_ = false;  // the writer holds a frame taken from the queue
    bool stopWriter_ = false;
    std::string lastError_;
    std::string path_;
};

}  // namespace Corvexis
