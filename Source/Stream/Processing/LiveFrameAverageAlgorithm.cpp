#include "Stream/Processing/LiveFrameAverageAlgorithm.h"

#include <algorithm>
#include <utility>

#include "Host/Core/MemImage.h"
#include "Host/Core/TrackingSequence.h"
#include "Host/Lib/ImageProcessing/PixelTypes.h"
#include "Host/Lib/SharedImage.h"
#include "Host/Lib/SharedImageSet.h"
#include "Host/Lib/TrackedSharedImageSet.h"

namespace Corvexis {

LiveFrameAverageAlgorithm::LiveFrameAverageAlgorithm(std::vector<Stream*> inputs)
    : LiveStreamProcessingAlgorithm(std::move(inputs), true, false, Deferred{})
{
    frameCount.setLabel("Frames averaged");
    frameCount.setAttribute("min", "1");
    activate();
}

LiveFrameAverageAlgorithm::~LiveFrameAverageAlgorithm()
{
    deactivate();
}

std::shared_ptr<const SharedImage> LiveFrameAverageAlgorithm::latestMean() const
{
    std::lock_guard lock(meanMutex_);
    return mean_;
}

std::uint64_t LiveFrameAverageAlgorithm::meansComputed() const
{
    std::lock_guard lock(meanMutex_);
    return means_;
}

bool LiveFrameAverageAlgorithm::backgroundThreadProcessData()
{
    moveBufferedDataToLiveContainer();
    TrackedSharedImageSet* window = liveContainer();
    const int keep = std::max(frameCount.value(), 1);
    while (window->size() > keep)
        window->remove(0);
    // The mean uses no tracking: keep the window's memory to its frames.
    for (int i = 0; i < window->numTracking(); ++i)
        window->tracking(i)->clear();
    if (window->empty())
        return false;

    const std::shared_ptr<SharedImage> newest = window->get(window->size() - 1);
    const ImageDescriptor& d = newest->descriptor();
    std::vector<const MemImage*> frames;
    for (const auto& frame : window->images()) {
        const ImageDescriptor& f = frame->descriptor();
        if (f.pixelType == d.pixelType && f.width == d.width && f.height == d.height &&
            f.slices == d.slices && f.channels == d.channels) {
            if (const MemImage* mem = std::as_const(*frame).mem())
                frames.push_back(mem);
        }
    }
    auto out = MemImage::create(d, false);
    if (frames.empty() || !out)
        return false;
    const std::size_t values = d.pixelCount() * static_cast<std::size_t>(d.channels);
    std::vector<double> sums(values, 0.0);
    PixelTypes::visit(
        d.pixelType,
        [&](auto type) {
            using T = decltype(type);
            for (const MemImage* frame : frames) {
                const T* p = static_cast<const T*>(frame->data());
                for (std::size_t i = 0; i < values; ++i)
                    sums[i] += static_cast<double>(p[i]);
            }
            T* target = static_cast<T*>(out->data());
            const double n = static_cast<double>(frames.size());
            for (std::size_t i = 0; i < values; ++i)
                target[i] = PixelTypes::toPixel<T>(sums[i] / n);
            return true;
        },
        false);
    auto mean = std::make_shared<SharedImage>(std::move(out));
    mean->setSpacing(newest->spacing(), newest->isMetric());
    mean->setModality(newest->modality());
    {
        std::lock_guard lock(meanMutex_);
        mean_ = std::move(mean);
        ++means_;
    }
    signalOutputChanged.emitSignal();
    return false;
}

}  // namespace Corvexis
