#include "Stream/Video/VideoStreamIoAlgorithm.h"

#include <filesystem>

#include "Host/Core/Log.h"
#include "Stream/Video/VideoFileStream.h"

namespace Corvexis {

namespace {
constexpr const char* kCategory = "Stream.VideoStreamIoAlgorithm";
}

VideoStreamIoAlgorithm::VideoStreamIoAlgorithm(StreamingMode mode)
    : mode_("mode", static_cast<int>(mode), this)
{
}

VideoStreamIoAlgorithm::~VideoStreamIoAlgorithm()
{
    disconnectAll();
    detachLink();
}

std::vector<std::string> VideoStreamIoAlgorithm::supportedFileExtensions() const
{
    if (streamingMode() != StreamingMode::File)
        return {};
    return {"avi", "mkv", "mov", "mp4", "wmv", "ogv", "gif"};
}

void VideoStreamIoAlgorithm::configure(const Properties* properties)
{
    StreamIoAlgorithm::configure(properties);
    if (mode_.value() != 0 && mode_.value() != 1)
        Log::log(Log::Level::Error, kCategory, "Unknown mode");
}

void VideoStreamIoAlgorithm::compute()
{
    {
        std::unique_ptr<VideoFileStream> previous;
        std::lock_guard lock(streamMutex_);
        previous = std::move(ownedStream_);
        stream_ = nullptr;
    }
    clearOutputTaken();
    std::unique_ptr<VideoFileStream> created;
    if (streamingMode() == StreamingMode::File) {
        const std::string path = location().empty() ? filename_.value() : location();
        created = std::make_unique<VideoFileStream>();
        created->setFilename(path);
        created->setName(std::filesystem::path(path).stem().string());
        created->setLooping(looping_.value());
    } else {
        Log::log(Log::Level::Error, kCategory, "camera streams are not available in this build");
    }
    if (!created || !created->open() || !created->start()) {
        created.reset();
        Log::log(Log::Level::Error, kCategory, "Could not open video stream");
        setStatus(Status::Error);
        return;
    }
    {
        std::lock_guard lock(streamMutex_);
        stream_ = created.get();
        ownedStream_ = std::move(created);
    }
    setStatus(Status::Success);
    signalOutputChanged.emitSignal();
}

Stream* VideoStreamIoAlgorithm::stream() const
{
    std::lock_guard lock(streamMutex_);
    return stream_;
}

void VideoStreamIoAlgorithm::resetStream()
{
    std::lock_guard lock(streamMutex_);
    stream_ = nullptr;
}

std::unique_ptr<Stream> VideoStreamIoAlgorithm::createPrototypeStream() const
{
    return std::make_unique<VideoFileStream>();
}

std::unique_ptr<Stream> VideoStreamIoAlgorithm::releaseStream()
{
    std::lock_guard lock(streamMutex_);
    return std::move(ownedStream_);
}

}  // namespace Corvexis
