#include "Stream/Video/VideoStreamIoAlgorithm.h"

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "Host/Core/Log.h"
#include "Stream/Video/VideoCameraIoFactory.h"
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

void VideoStreamIoAlgorithm::setBackend(const std::string& backend)
{
    backend_.setValue(backend);
}

void VideoStreamIoAlgorithm::setDeviceUID(const std::string& devicePath)
{
    devicePath_.setValue(devicePath);
}

void VideoStreamIoAlgorithm::configure(const Properties* properties)
{
    StreamIoAlgorithm::configure(properties);
    if (mode_.value() != 0 && mode_.value() != 1)
        Log::log(Log::Level::Error, kCategory, "Unknown mode");
}

std::vector<VideoStreamIoAlgorithm::CameraDevice> VideoStreamIoAlgorithm::enumerateCameraStreams()
{
    std::vector<CameraDevice> found;
    auto& factory = VideoCameraIoFactory::get();
    for (const auto& backend : factory.backends(false))
        for (auto& device : factory.devices(backend))
            found.push_back(CameraDevice{backend, std::move(device)});
    return found;
}

std::unique_ptr<VideoCameraStream> VideoStreamIoAlgorithm::createCameraStream(const std::string& devicePath)
{
    for (const auto& entry : enumerateCameraStreams())
        if (entry.device.devicePath == devicePath)
            return VideoCameraIoFactory::get().openDevice(entry.backend, devicePath);
    return nullptr;
}

int VideoStreamIoAlgorithm::chooseCameraFormat(
    const std::vector<VideoCameraStream::VideoStreamFrameFormat>& formats, int formatIdx, int width,
    int height, double fps, const std::string& codec)
{
    if (formats.empty())
        return -1;
    const int count = static_cast<int>(formats.size());
    auto fallBack = [] {
        Log::log(Log::Level::Warning, kCategory,
                 "Did not find requested format. Falling back to default format");
        return 0;
    };
    if (formatIdx >= 0)
        return formatIdx < count ? formatIdx : fallBack();
    if (width <= 0)
        return 0;

    std::vector<int> candidates;
    std::uint64_t largestHeight = 0;
    for (int i = 0; i < count; ++i)
        if (formats[static_cast<std::size_t>(i)].width == static_cast<std::uint64_t>(width))
            largestHeight = std::max(largestHeight, formats[static_cast<std::size_t>(i)].height);
    const std::uint64_t wantedHeight = height > 0 ? static_cast<std::uint64_t>(height) : largestHeight;
    for (int i = 0; i < count; ++i) {
        const auto& f = formats[static_cast<std::size_t>(i)];
        if (f.width == static_cast<std::uint64_t>(width) && f.height == wantedHeight)
            candidates.push_back(i);
    }
    auto at = [&](int i) -> const VideoCameraStream::VideoStreamFrameFormat& {
        return formats[static_cast<std::size_t>(i)];
    };

    if (candidates.size() >= 2) {
        if (fps > 0.0) {
            std::erase_if(candidates, [&](int i) { return !(std::abs(at(i).fps - fps) < 0.5); });
        } else {
            double highest = 0.0;
            for (int i : candidates)
                highest = std::max(highest, at(i).fps);
            std::erase_if(candidates, [&](int i) { return at(i).fps != highest; });
        }
    }
    if (candidates.size() >= 2) {
        if (!codec.empty()) {
            const auto match = std::find_if(candidates.begin(), candidates.end(),
                                            [&](int i) { return at(i).codec == codec; });
            if (match != candidates.end())
                candidates = {*match};
        } else {
            // erase rather than resize(1): GCC 12 at -O3 reports a false array-bounds error for the latter.
            candidates.erase(candidates.begin() + 1, candidates.end());
        }
    }
    if (candidates.empty())
        return fallBack();
    return candidates.front();
}

std::unique_ptr<ImageStream> VideoStreamIoAlgorithm::createFileStream() const
{
    const std::string path = location().empty() ? filename_.value() : location();
    auto created = std::make_unique<VideoFileStream>();
    created->setFilename(path);
    created->setName(std::filesystem::path(path).stem().string());
    created->setLooping(looping_.value());
    return created;
}

std::unique_ptr<ImageStream> VideoStreamIoAlgorithm::createConfiguredCamera() const
{
    auto& factory = VideoCameraIoFactory::get();
    std::string backend = backend_.value();
    std::string devicePath = devicePath_.value();
    if (devicePath.empty()) {
        // The first device of the back-end, or of any back-end.
        for (const auto& entry : enumerateCameraStreams()) {
            if (backend.empty() || entry.backend == backend) {
                backend = entry.backend;
                devicePath = entry.device.devicePath;
                break;
            }
        }
    }
    std::unique_ptr<VideoCameraStream> camera =
        backend.empty() ? createCameraStream(devicePath) : factory.openDevice(backend, devicePath);
    if (!camera)
        return nullptr;
    const auto& formats = camera->deviceInfo().formats;
    if (formats.empty()) {
        Log::log(Log::Level::Error, kCategory, "Camera cannot be opened. No supported formats");
        return nullptr;
    }
    const int chosen = chooseCameraFormat(formats, formatIdx_.value(), width_.value(), height_.value(),
                                          fps_.value(), codec_.value());
    if (!camera->setFormat(chosen))
        return nullptr;
    if (!camera->deviceInfo().displayString.empty())
        camera->setName(camera->deviceInfo().displayString);
    else if (!displayString_.value().empty())
        camera->setName(displayString_.value());
    return camera;
}

void VideoStreamIoAlgorithm::compute()
{
    {
        std::unique_ptr<ImageStream> previous;
        std::lock_guard lock(streamMutex_);
        previous = std::move(ownedStream_);
        stream_ = nullptr;
    }
    clearOutputTaken();
    std::unique_ptr<ImageStream> created;
    if (streamingMode() == StreamingMode::File)
        created = createFileStream();
    else if (streamingMode() == StreamingMode::Camera)
        created = createConfiguredCamera();
    else
        Log::log(Log::Level::Error, kCategory, "Unknown mode");
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
    // A camera's parameters depend on its device; only the file stream has a prototype.
    if (streamingMode() != StreamingMode::File)
        return nullptr;
    return std::make_unique<VideoFileStream>();
}

std::unique_ptr<Stream> VideoStreamIoAlgorithm::releaseStream()
{
    std::lock_guard lock(streamMutex_);
    return std::move(ownedStream_);
}

}  // namespace Corvexis
