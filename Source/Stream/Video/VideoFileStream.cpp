#include "Stream/Video/VideoFileStream.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <stdexcept>

#include "Host/Core/Log.h"
#include "Host/GL/ContextManager.h"
#include "Host/Lib/Progress.h"
#include "Host/Lib/Selection.h"
#include "Host/Lib/SharedImage.h"
#include "Host/Lib/SharedImageSet.h"
#include "Host/Lib/Video/VideoCapture.h"
#include "Stream/Framework/ImageStreamData.h"
#include "Stream/Framework/StreamFps.h"

namespace Corvexis {

namespace {

constexpr const char* kCategory = "Stream.VideoFileStream";

std::uint64_t nowMs()
{
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::system_clock::now().time_since_epoch())
                                          .count());
}

// "m:ss.mmm" (hours added when needed).
std::string durationText(double seconds)
{
    if (!std::isfinite(seconds) || seconds < 0.0)
        seconds = 0.0;
    const auto totalMs = static_cast<long long>(std::llround(seconds * 1000.0));
    const long long hours = totalMs / 3'600'000;
    const long long minutes = (totalMs / 60'000) % 60;
    const long long secs = (totalMs / 1000) % 60;
    const long long ms = totalMs % 1000;
    char text[64];
    if (hours > 0)
        std::snprintf(text, sizeof(text), "%lld:%02lld:%02lld.%03lld", hours, minutes, secs, ms);
    else
        std::snprintf(text, sizeof(text), "%lld:%02lld.%03lld", minutes, secs, ms);
    return text;
}

std::string bytesText(double bytes)
{
    const char* units[] = {"B", "KB", "MB", "GB", "TB"};
    int unit = 0;
    while (bytes >= 1024.0 && unit < 4) {
        bytes /= 1024.0;
        ++unit;
    }
    char text[64];
    std::snprintf(text, sizeof(text), unit == 0 ? "%.0f %s" : "%.1f %s", bytes, units[unit]);
    return text;
}

std::string rateText(double fps)
{
    char text[32];
    std::snprintf(text, sizeof(text), "%.4g", fps);
    return text;
}

}  // namespace

VideoFileStream::VideoFileStream() : ImageStream(kDefaultName), rateMeter_(std::make_unique<StreamFps>())
{
    rateMeter_->setNumberOfFrames(60);
    rateMeter_->setUpdateInterval(2.0);
    rateMeter_->setRounding(1);
    rateMeter_->connect(this);
}

VideoFileStream::~VideoFileStream()
{
    close();
    rateMeter_->disconnect(this);
}

void VideoFileStream::setFilename(const std::string& path)
{
    filename_.setValue(path);
}

std::string VideoFileStream::filename() const
{
    return filename_.value();
}

void VideoFileStream::setLooping(bool looping)
{
    looping_.setValue(looping);
}

bool VideoFileStream::looping() const
{
    return looping_.value();
}

void VideoFileStream::setPlaySelected(bool playSelected)
{
    playSelected_.setValue(playSelected);
}

bool VideoFileStream::playSelected() const
{
    return playSelected_.value();
}

double VideoFileStream::measuredFps() const
{
    return rateMeter_->fps();
}

bool VideoFileStream::captureThreadRunning() const
{
    std::lock_guard lock(startStopMutex_);
    return captureThread_ != nullptr && captureActive_.load();
}

bool VideoFileStream::openImpl()
{
    std::lock_guard lock(startStopMutex_);
    if (capture_)
        return true;
    try {
        capture_ = std::make_unique<FFmpegHelper::VideoCapture>(filename_.value(), true, 100);
    } catch (const std::runtime_error& e) {
        Log::log(Log::Level::Error, kCategory, std::string("Failed to create video capture: ") + e.what());
        return false;
    }
    width_.store(capture_->width());
    height_.store(capture_->height());
    fps_.store(capture_->fps());
    frameCount_.store(capture_->numberOfFrames());
    rateMeter_->setNumberOfFrames(std::max(5, static_cast<int>(capture_->fps())));
    return true;
}

bool VideoFileStream::startImpl()
{
    std::lock_guard lock(startStopMutex_);
    if (!capture_)
        return false;
    if (captureThread_ && captureActive_.load())
        return false;
    if (captureThread_) {
        // It ended by itself (end of file) before its stop request was carried out.
        captureThread_->join();
        captureThread_.reset();
    }
    if (nextFrame_.load() >= frameCount_.load())
        nextFrame_.store(0);
    deadline_ = std::chrono::steady_clock::now();
    captureActive_.store(true);
    captureThread_ = std::make_unique<std::thread>([this] { captureLoop(); });
    return true;
}

bool VideoFileStream::stopImpl()
{
    std::lock_guard lock(startStopMutex_);
    if (!capture_)
        return false;
    if (captureThread_) {
        captureThread_->join();
        captureThread_.reset();
    }
    return true;
}

bool VideoFileStream::closeImpl()
{
    {
        std::lock_guard lock(startStopMutex_);
        if (captureThread_) {
            captureThread_->join();
            captureThread_.reset();
        }
        capture_.reset();
    }
    signalStreamEnded.emitSignal();
    return true;
}

bool VideoFileStream::reset()
{
    {
        std::lock_guard lock(startStopMutex_);
        if (!capture_)
            return false;
    }
    setNextFrame(0);
    return true;
}

void VideoFileStream::setNextFrame(int frame)
{
    std::lock_guard lock(startStopMutex_);
    if (!capture_)
        return;
    const int count = frameCount_.load();
    frame = std::clamp(frame, 0, std::max(0, count - 1));
    {
        std::lock_guard position(positionMutex_);
        nextFrame_.store(frame);
    }
    if (!isRunning() && !(captureThread_ && captureActive_.load()) && frame <= count) {
        auto image = TypedImage<std::uint8_t>::create(width_.load(), height_.load(), 1, 3, false);
        if (image)
            readAndStream(*image);
    }
}

void VideoFileStream::setFocus(int frame)
{
    if (frame == focus())
        return;
    frame = std::clamp(frame, 0, std::max(0, size() - 1));
    if (frame != lastFrame_.load())
        setNextFrame(frame);
    Selectable::setFocus(frame);
}

void VideoFileStream::captureLoop()
{
    std::unique_ptr<GL::Context> context;
    if (GL::ContextManager::get().isAvailable())
        context = GL::ContextManager::get().createContext();
    auto image = TypedImage<std::uint8_t>::create(width_.load(), height_.load(), 1, 3, false);
    bool ended = false;
    while (image && isRunning()) {
        const double rate = fps_.load();
        const auto now = std::chrono::steady_clock::now();
        if (rate > 0.0 && now < deadline_) {
            // Short naps, so that a stop request is noticed even at low frame rates.
            std::this_thread::sleep_for(
                std::min<std::chrono::steady_clock::duration>(deadline_ - now, std::chrono::milliseconds(5)));
            continue;
        }
        // Advanced by the period, not set from the clock: after a late frame the next ones follow
        // without sleeping until the schedule is met again.
        if (rate > 0.0)
            deadline_ += std::chrono::nanoseconds(static_cast<std::int64_t>(1e9 / rate));
        if (!readAndStream(*image)) {
            ended = true;
            break;
        }
    }
    image.reset();
    context.reset();
    captureActive_.store(false);
    if (ended)
        stopAsync();
}

bool VideoFileStream::readFrame(TypedImage<std::uint8_t>& image)
{
    try {
        int target = nextFrame_.load();
        int first = 0;
        int last = frameCount_.load() - 1;
        if (playSelected_.value() && isRunning()) {
            const Selection selection(this->selection());
            if (selection.isEmpty())
                return false;
            first = selection.first();
            last = selection.last();
            while (!selection.isSelected(target) && target <= last)
                ++target;
        }
        const int seen = nextFrame_.load();
        for (int attempt = 0; attempt < 2; ++attempt) {
            if (target > last) {
                if (!looping_.value())
                    return false;
                target = first;
            }
            if (target != lastFrame_.load() + 1 || target == first)
                capture_->setPosition(target);
            if (image.pixelType() != ImageDescriptor::kUByte)
                return false;
            double time = 0.0;
            if (capture_->readNextFrameResized(image.pointer(), image.width(), image.height(),
                                               image.channels(), time)) {
                lastFrame_.store(target);
                std::lock_guard position(positionMutex_);
                int expected = seen;
                nextFrame_.compare_exchange_strong(expected, target + 1);
                return true;
            }
            // The file has fewer frames than it announced.
            frameCount_.store(target);
            if (!looping_.value() || target == first)
                return false;
            {
                std::lock_guard position(positionMutex_);
                int expected = seen;
                nextFrame_.compare_exchange_strong(expected, first);
            }
            target = first;
            last = std::min(last, frameCount_.load() - 1);
        }
        return false;
    } catch (const std::exception& e) {
        Log::log(Log::Level::Error, kCategory, std::string("Reading a video frame failed: ") + e.what());
        return false;
    }
}

std::shared_ptr<ImageStreamData> VideoFileStream::makeRecord(const TypedImage<std::uint8_t>& image) const
{
    auto shared = std::make_unique<SharedImage>(std::unique_ptr<MemImage>(image.cloneTyped()));
    return std::make_shared<ImageStreamData>(const_cast<VideoFileStream*>(this), std::move(shared));
}

bool VideoFileStream::readAndStream(TypedImage<std::uint8_t>& image)
{
    if (!readFrame(image))
        return false;
    auto record = makeRecord(image);
    const double rate = fps_.load();
    const int frame = lastFrame_.load();
    record->setTimestampDevice(rate > 0.0 ? static_cast<std::uint64_t>(frame / rate * 1000.0) : 0);
    record->setTimestampArrival(nowMs());
    signalStreamData.emitSignal(std::shared_ptr<const StreamData>(std::move(record)));
    Selectable::setFocus(frame);
    return true;
}

void VideoFileStream::extractFrames(const Selection& selection, const FrameCallback& callback,
                                    Progress* progress)
{
    std::lock_guard lock(startStopMutex_);
    if (!capture_ || (captureThread_ && captureActive_.load())) {
        Log::log(Log::Level::Warning, kCategory,
                 "A VideoFileStream needs to be paused to safely extract frames");
        return;
    }
    const int remembered = nextFrame_.load();
    const Selection frames = selection.clampedTo(frameCount_.load());
    if (progress != nullptr)
        progress->beginTask("Extracting Frames...", frames.count());
    auto image = TypedImage<std::uint8_t>::create(width_.load(), height_.load(), 1, 3, false);
    const double rate = fps_.load();
    for (int index : frames.indices()) {
        if (!image)
            break;
        nextFrame_.store(index);
        if (readFrame(*image)) {
            auto record = makeRecord(*image);
            const auto ms = rate > 0.0 ? static_cast<std::uint64_t>(lastFrame_.load() / rate * 1000.0) : 0;
            record->setTimestampDevice(ms);
            record->setTimestampArrival(ms);
            if (callback)
                callback(std::move(record));
        }
        if (progress != nullptr) {
            progress->advance();
            if (progress->wasCanceled())
                break;
        }
    }
    if (progress != nullptr)
        progress->endTask();
    nextFrame_.store(remembered);
}

std::unique_ptr<SharedImageSet> VideoFileStream::extractFrames(const Selection& selection, Progress* progress)
{
    auto set = std::make_unique<SharedImageSet>(name());
    extractFrames(
        selection,
        [&set](std::shared_ptr<ImageStreamData> record) {
            for (const auto& image : record->images())
                set->add(std::make_shared<SharedImage>(*image),
                         static_cast<double>(record->timestampDevice()));
        },
        progress);
    return set;
}

std::string VideoFileStream::describe() const
{
    const double rate = fps_.load();
    const int last = lastFrame_.load();
    std::string text = "Position " + durationText(rate > 0.0 ? last / rate : 0.0) + ", frame " +
                       std::to_string(last) + "/" + std::to_string(frameCount_.load()) + ", resolution " +
                       std::to_string(width_.load()) + "x" + std::to_string(height_.load()) + ", " +
                       rateText(rate) + " ";
    if (isRunning()) {
        // The meter reads 0 until it has seen enough frames; that is no measurement yet.
        const double measured = rateMeter_->fps();
        if (measured > 0.0 && std::abs(measured - rate) >= 1.0)
            text += "nominal FPS , " + rateText(measured) + " actual FPS";
        else
            text += "FPS";
    } else {
        text += "nominal FPS";
    }
    return text;
}

std::string VideoFileStream::describeSegment(int frames) const
{
    const double rate = fps_.load();
    const double bytes = static_cast<double>(frames) * width_.load() * height_.load() * 3.0;
    return "Selection " + durationText(rate > 0.0 ? frames / rate : 0.0) + ", " + std::to_string(frames) +
           " frames, " + bytesText(bytes);
}

}  // namespace Corvexis
