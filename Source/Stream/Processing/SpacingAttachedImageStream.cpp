#include "Stream/Processing/SpacingAttachedImageStream.h"

#include <cstddef>
#include <cstring>

#include "Host/Core/DataDeletionWatch.h"
#include "Host/Core/Log.h"
#include "Host/Core/MemImage.h"
#include "Host/Lib/SharedImage.h"
#include "Stream/Framework/ImageStreamData.h"

namespace Corvexis {

namespace {
constexpr std::string_view kCategory = "SpacingAttachedImageStream";
}

SpacingAttachedImageStream::SpacingAttachedImageStream(ImageStream* input)
    : ImageStream("Spacing Attached Image Stream"), input_(input)
{
    isMetric.setLabel("Metric spacing");
    useDepth.setLabel("Spacing from dimensions");
    flipX.setLabel("Flip left to right");
    flipY.setLabel("Flip top to bottom");
    spacing.setLabel("Spacing (mm)");
    dimensions.setLabel("Dimensions (mm)");
    if (input_ == nullptr)
        return;
    inputWatch_ = std::make_unique<DataDeletionWatch>(*input_, [this] {
        std::lock_guard lock(inputMutex_);
        input_ = nullptr;
    });
    input_->signalStreamData.connect(this,
                                     [this](std::shared_ptr<const StreamData> data) { onInputData(data); });
}

SpacingAttachedImageStream::~SpacingAttachedImageStream()
{
    disconnectAll();
    inputWatch_.reset();
    close();
}

ImageStream* SpacingAttachedImageStream::inputStream() const
{
    std::lock_guard lock(inputMutex_);
    return input_;
}

bool SpacingAttachedImageStream::openImpl()
{
    return inputStream() != nullptr;
}

bool SpacingAttachedImageStream::startImpl()
{
    ImageStream* input = inputStream();
    return input != nullptr && input->start();
}

bool SpacingAttachedImageStream::stopImpl()
{
    ImageStream* input = inputStream();
    return input != nullptr && input->stop();
}

void SpacingAttachedImageStream::onInputData(const std::shared_ptr<const StreamData>& data)
{
    if (currentState() != State::Running)
        return;
    const auto record = std::dynamic_pointer_cast<const ImageStreamData>(data);
    if (!record)
        return;
    const auto images = record->images();
    if (images.empty() || !images.front() || images.front()->isEmpty() ||
        images.front()->descriptor().dimension() != 2) {
        Log::log(Log::Level::Warning, kCategory, "Input stream-data has no 2D image");
        return;
    }
    const SharedImage& first = *images.front();
    auto out = std::make_shared<ImageStreamData>(this);
    out->setTimestampArrival(record->timestampArrival());
    out->setTimestampDevice(record->timestampDevice());

    const bool fx = flipX.value();
    const bool fy = flipY.value();
    std::shared_ptr<SharedImage> frame;
    if (!fx && !fy) {
        // A copy, not a shallow clone: setting the spacing reaches the pixel storage's own descriptor, and
        // the input's record must stay unchanged for its other consumers.
        frame = std::shared_ptr<SharedImage>(first.clone(Image::CloneOptions::Deep));
    } else {
        const ImageDescriptor& d = first.descriptor();
        if (d.pixelType != ImageDescriptor::kByte && d.pixelType != ImageDescriptor::kUByte) {
            Log::log(Log::Level::Error, kCategory, "Flipping is only supported for 2D 8-bit images");
            return;
        }
        const MemImage* src = first.mem();
        auto flipped = MemImage::create(d, false);
        if (src == nullptr || !flipped)
            return;
        const int w = d.width;
        const int h = d.height;
        const std::size_t b = static_cast<std::size_t>(d.channels);
        const std::size_t rowBytes = static_cast<std::size_t>(w) * b;
        const auto* s = static_cast<const std::uint8_t*>(src->data());
        auto* t = static_cast<std::uint8_t*>(flipped->data());
        for (int r = 0; r < h; ++r) {
            const std::uint8_t* srcRow = s + static_cast<std::size_t>(fy ? h - 1 - r : r) * rowBytes;
            std::uint8_t* dstRow = t + static_cast<std::size_t>(r) * rowBytes;
            if (!fx) {
                std::memcpy(dstRow, srcRow, rowBytes);
                continue;
            }
            for (int c = 0; c < w; ++c)
                std::memcpy(dstRow + static_cast<std::size_t>(c) * b,
                            srcRow + static_cast<std::size_t>(w - 1 - c) * b, b);
        }
        frame = std::make_shared<SharedImage>(std::move(flipped));
        frame->setModality(first.modality());
        frame->setMatrix(first.matrix());
        frame->components() = first.components();
    }

    Eigen::Vector3d pixelSpacing;
    if (useDepth.value()) {
        const Eigen::Vector2d dims = dimensions.value();
        pixelSpacing = Eigen::Vector3d(dims.x() / frame->width(), dims.y() / frame->height(), 1.0);
    } else {
        const Eigen::Vector2d s = spacing.value();
        pixelSpacing = Eigen::Vector3d(s.x(), s.y(), 1.0);
    }
    frame->setSpacing(pixelSpacing, isMetric.value());
    out->setImages({frame});
    signalStreamData.emitSignal(std::move(out));
}

}  // namespace Corvexis
