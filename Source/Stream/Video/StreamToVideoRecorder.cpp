#include "Stream/Video/StreamToVideoRecorder.h"

#include "Host/Core/Log.h"
#include "Host/Lib/SharedImage.h"
#include "Stream/Framework/ImageStream.h"
#include "Stream/Framework/ImageStreamData.h"

namespace Corvexis {

namespace {
constexpr const char* kCategory = "Stream.StreamToVideoRecorder";
}

StreamToVideoRecorder::StreamToVideoRecorder(ImageStream& stream)
{
    stream.signalStreamData.connect(
        this, [this](const std::shared_ptr<const StreamData>& data) { onStreamData(data); });
}

StreamToVideoRecorder::~StreamToVideoRecorder()
{
    disconnectAll();
}

bool StreamToVideoRecorder::initialize(int width, int height, int fps, const std::string& format,
                                       const std::string& encoder, const Options& options,
                                       const std::string& outputPath)
{
    std::lock_guard lock(mutex_);
    const Options pairs = options;
    const int rc =
        writer_.initialize(width, height, fps, VideoFileRecorder::Yuv420, format, encoder, pairs, outputPath);
    if (rc != 0)
        Log::log(Log::Level::Error, kCategory, writer_.lastError());
    return rc == 0;
}

void StreamToVideoRecorder::setSkip(int n)
{
    std::lock_guard lock(mutex_);
    skip_ = n;
    counter_ = n - 1;
}

bool StreamToVideoRecorder::finalize()
{
    std::lock_guard lock(mutex_);
    const bool done = writer_.finalize();
    if (!done && !writer_.lastError().empty())
        Log::log(Log::Level::Error, kCategory, writer_.lastError());
    return done;
}

void StreamToVideoRecorder::clear()
{
    std::lock_guard lock(mutex_);
    writer_.clear();
}

bool StreamToVideoRecorder::ok() const
{
    std::lock_guard lock(mutex_);
    return writer_.ok();
}

std::string StreamToVideoRecorder::lastError() const
{
    std::lock_guard lock(mutex_);
    return writer_.lastError();
}

std::int64_t StreamToVideoRecorder::framesWritten() const
{
    std::lock_guard lock(mutex_);
    return writer_.frameCount();
}

void StreamToVideoRecorder::onStreamData(const std::shared_ptr<const StreamData>& data)
{
    const auto* record = dynamic_cast<const ImageStreamData*>(data.get());
    if (record == nullptr) {
        Log::log(Log::Level::Warning, kCategory, "Received non-image stream data");
        return;
    }
    std::lock_guard lock(mutex_);
    if (!writer_.ok())
        return;
    if (counter_ < skip_ - 1) {
        ++counter_;
        return;
    }
    counter_ = 0;
    for (const auto& image : record->images()) {
        const MemImage* mem = image ? image->mem() : nullptr;
        const auto* bytes = dynamic_cast<const TypedImage<std::uint8_t>*>(mem);
        if (bytes == nullptr) {
            Log::log(Log::Level::Warning, kCategory, "Ignoring non-8bit image");
            continue;
        }
        if (!writer_.encodeFrame(*bytes) && !writer_.ok())
            Log::log(Log::Level::Error, kCategory, writer_.lastError());
    }
}

}  // namespace Corvexis
