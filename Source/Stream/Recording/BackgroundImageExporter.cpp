#include "Stream/Recording/BackgroundImageExporter.h"

#include "Host/Core/Log.h"
#include "Host/GL/SyncObject.h"
#include "Host/Lib/Files/CorvexisImage.h"
#include "Host/Lib/SharedImage.h"
#include "Host/Lib/SharedImageSet.h"

namespace Corvexis {

namespace {
constexpr const char* kCategory = "BackgroundImageExporter";
}

BackgroundImageExporter::BackgroundImageExporter() = default;

BackgroundImageExporter::~BackgroundImageExporter()
{
    if (initialized_.load())
        finalizeFile();
    // file_'s destructor joins a close still in progress.
}

bool BackgroundImageExporter::initializeFile(SharedImageSet* container, const std::string& path,
                                             bool compression)
{
    if (initialized_.load()) {
        Log::log(Log::Level::Error, kCategory, "Cannot initialize file while a different one is still open.");
        return false;
    }
    if (container == nullptr || path.empty()) {
        Log::log(Log::Level::Error, kCategory, "Cannot initialize file - no container or empty path.");
        return false;
    }
    if (container->empty()) {
        Log::log(Log::Level::Error, kCategory,
                 "Cannot initialize export. Requires a SharedImageSet with at least one image.");
        return false;
    }
    if (!file_)
        file_ = std::make_unique<CorvexisImage>();
    if (!file_->open(path, *container, compression)) {
        Log::log(Log::Level::Error, kCategory, " Could not open file for live recording: " + path);
        std::lock_guard lock(mutex_);
        lastError_ = file_->lastError();
        return false;
    }
    {
        std::lock_guard lock(mutex_);
        path_ = path;
        lastError_.clear();
        stopWriter_ = false;
        queue_.clear();
    }
    failed_.store(false);
    framesWritten_.store(0);
    initialized_.store(true);
    writer_ = std::thread([this] { writerLoop(); });
    return true;
}

bool BackgroundImageExporter::addImage(std::shared_ptr<const SharedImage> image,
                                       std::shared_ptr<GL::SyncObject> sync,
                                       std::optional<double> timestampMs, DataComponentList components)
{
    if (!initialized_.load()) {
        Log::log(Log::Level::Error, kCategory, "Cannot add image - not initialized!");
        return false;
    }
    if (!image)
        return false;
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(Frame{std::move(image), std::move(sync), timestampMs, std::move(components)});
    }
    wake_.notify_one();
    return true;
}

std::shared_future<bool> BackgroundImageExporter::finalizeFile()
{
    if (!initialized_.load()) {
        Log::log(Log::Level::Error, kCategory, "Cannot finalize recording- not initialized!");
        std::promise<bool> refused;
        refused.set_value(false);
        return refused.get_future().share();
    }
    stopWriter();
    auto closed = file_->closeAsync();
    initialized_.store(false);
    Log::log(Log::Level::Debug, kCategory, "Finalized file and reset exporter");
    return closed;
}

std::size_t BackgroundImageExporter::pendingFrames() const
{
    std::lock_guard lock(mutex_);
    return queue_.size() + (writing_ ? 1 : 0);
}

std::string BackgroundImageExporter::lastError() const
{
    std::lock_guard lock(mutex_);
    return lastError_;
}

std::string BackgroundImageExporter::path() const
{
    std::lock_guard lock(mutex_);
    return path_;
}

void BackgroundImageExporter::stopWriter()
{
    {
        std::lock_guard lock(mutex_);
        stopWriter_ = true;
    }
    wake_.notify_one();
    if (writer_.joinable())
        writer_.join();
}

void BackgroundImageExporter::writerLoop()
{
    for (;;) {
        Frame frame;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopWriter_ || !queue_.empty(); });
            if (queue_.empty())
                return;  // stopping, and everything queued was written
            frame = std::move(queue_.front());
            queue_.pop_front();
            writing_ = true;
        }
        if (!failed_.load()) {
            if (frame.sync)
                frame.sync->waitCpu();
            if (file_->append(*frame.image, frame.timestampMs,
                              frame.components.empty() ? nullptr : &frame.components)) {
                framesWritten_.fetch_add(1);
            } else {
                failed_.store(true);
                const std::string error = file_->lastError();
                Log::log(
                    Log::Level::Error, kCategory,
                    "Live recording to " + file_->path() + " failed, later frames are dropped: " + error);
                std::lock_guard lock(mutex_);
                lastError_ = error;
            }
        }
        // The frame's pixels are released here, outside the lock.
        frame = Frame{};
        std::lock_guard lock(mutex_);
        writing_ = false;
    }
}

}  // namespace Corvexis
