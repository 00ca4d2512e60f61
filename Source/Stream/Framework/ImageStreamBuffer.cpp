#include "Stream/Framework/ImageStreamBuffer.h"

#include <string>

#include "Host/Lib/SharedImageSet.h"
#include "Stream/Framework/ImageStream.h"
#include "Stream/Framework/ImageStreamData.h"

namespace Corvexis {

ImageStreamBuffer::ImageStreamBuffer(ImageStream& stream) : name_(stream.name())
{
    stream.signalStreamData.connect(this,
                                    [this](std::shared_ptr<const StreamData> data) { onStreamData(data); });
}

ImageStreamBuffer::~ImageStreamBuffer()
{
    disconnectAll();
}

std::chrono::duration<double> ImageStreamBuffer::bufferTime() const
{
    std::lock_guard lock(mutex_);
    return bufferTime_;
}

void ImageStreamBuffer::setBufferTime(std::chrono::duration<double> time)
{
    std::lock_guard lock(mutex_);
    bufferTime_ = time;
    trimLocked();
}

std::size_t ImageStreamBuffer::size() const
{
    std::lock_guard lock(mutex_);
    return records_.size();
}

void ImageStreamBuffer::onStreamData(const std::shared_ptr<const StreamData>& data)
{
    if (!data)
        return;
    std::lock_guard lock(mutex_);
    records_.push_back(data);
    trimLocked();
}

void ImageStreamBuffer::trimLocked()
{
    const double limitMs = bufferTime_.count() * 1000.0;
    while (!records_.empty()) {
        // Arrival times are unsigned; a newest record older than the oldest one gives a negative span.
        const double spanMs = static_cast<double>(records_.back()->timestampArrival()) -
                              static_cast<double>(records_.front()->timestampArrival());
        if (!(spanMs > limitMs))
            break;
        records_.pop_front();
    }
}

std::unique_ptr<SharedImageSet> ImageStreamBuffer::freezeBuffer()
{
    auto set = std::make_unique<SharedImageSet>(name_);
    std::lock_guard lock(mutex_);
    trimLocked();
    for (const auto& record : records_) {
        const auto* images = dynamic_cast<const ImageStreamData*>(record.get());
        if (!images || images->size() == 0)
            continue;
        const auto first = images->images().front();
        if (!first)
            continue;
        std::shared_ptr<SharedImage> frame = first->clone(Image::CloneOptions::Shallow);
        set->add(std::move(frame), static_cast<double>(record->timestampArrival()));
    }
    return set;
}

}  // namespace Corvexis
