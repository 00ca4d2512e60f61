#include "Stream/Video/VideoStreamExtractionAlgorithm.h"

#include "Host/Core/DataDeletionWatch.h"
#include "Host/Core/Log.h"
#include "Host/Lib/Progress.h"
#include "Host/Lib/Selection.h"
#include "Host/Lib/SharedImageSet.h"
#include "Stream/Video/VideoFileStream.h"

namespace Corvexis {

namespace {
constexpr const char* kCategory = "Stream.VideoStreamExtractionAlgorithm";
}

VideoStreamExtractionAlgorithm::VideoStreamExtractionAlgorithm(VideoFileStream& stream)
    : stream_(&stream), progress_(std::make_unique<Progress>())
{
    watch_ = std::make_unique<DataDeletionWatch>(stream, [] {});
    endFrame.setValue(std::max(0, stream.numFrames() - 1));
}

VideoStreamExtractionAlgorithm::~VideoStreamExtractionAlgorithm() = default;

bool VideoStreamExtractionAlgorithm::createCompatible(const DataList& inputs,
                                                      std::unique_ptr<Algorithm>* algorithm)
{
    if (inputs.size() != 1)
        return false;
    auto* stream = dynamic_cast<VideoFileStream*>(inputs[0]);
    if (stream == nullptr)
        return false;
    if (algorithm != nullptr)
        *algorithm = std::make_unique<VideoStreamExtractionAlgorithm>(*stream);
    return true;
}

void VideoStreamExtractionAlgorithm::setSelection(const Selection& selection)
{
    Configurable::ChangeBatch batch(*this);
    startFrame.setValue(selection.first());
    endFrame.setValue(selection.last());
    skip.setValue(selection.skip());
}

std::uint64_t VideoStreamExtractionAlgorithm::estimateMemoryRequirement() const
{
    if (watch_->dataDeleted())
        return 0;
    const std::optional<ImageDescriptor> last = stream_->descriptor();
    if (!last || last->width != stream_->width() || last->height != stream_->height()) {
        Log::log(
            Log::Level::Error, kCategory,
            "VideoStreamExtractionAlgorithm: Cannot estimate memory requirement, stream buffer is empty");
        return 0;
    }
    const std::int64_t frames = (static_cast<std::int64_t>(endFrame.value()) - startFrame.value() + 1) /
                                (static_cast<std::int64_t>(skip.value()) + 1);
    return frames > 0 ? static_cast<std::uint64_t>(frames) * last->byteSize() : 0;
}

void VideoStreamExtractionAlgorithm::compute()
{
    if (watch_->dataDeleted()) {
        setStatus(Status::InvalidInput);
        return;
    }
    const double gib = static_cast<double>(estimateMemoryRequirement()) / double(1ull << 30);
    if (gib > 2.0) {
        Log::log(Log::Level::Warning, kCategory,
                 "Stream extraction will consume up to " + std::to_string(2.5 * gib) + "GB of memory");
        Log::log(Log::Level::Warning, kCategory,
                 "If you want to stop extraction prematurely, press cancel below the progress bar.");
    }
    const bool wasRunning = stream_->isRunning();
    if (wasRunning)
        stream_->stop();
    output_ = stream_->extractFrames(
        Selection::fromFirstLastSkip(startFrame.value(), endFrame.value(), skip.value()), progress_.get());
    if (wasRunning)
        stream_->start();
    setStatus(Status::Success);
    signalOutputChanged.emitSignal();
}

OwningDataList VideoStreamExtractionAlgorithm::takeOutput()
{
    if (!output_)
        return {};
    return OwningDataList(std::unique_ptr<Data>(std::move(output_)));
}

}  // namespace Corvexis
