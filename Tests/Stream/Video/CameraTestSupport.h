#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "Host/Core/MemImage.h"
#include "Host/Core/Signal.h"
#include "Host/Lib/SharedImage.h"
#include "Stream/Framework/ImageStreamData.h"
#include "Stream/Framework/Stream.h"

namespace Corvexis::Test {

// Keeps every image a stream emits, with the steady time it arrived. Declare it before the stream, so
// the stream (and its capture thread) goes first.
class FrameCollector
{
public:
    struct Frame
    {
        std::shared_ptr<const SharedImage> image;
        std::chrono::steady_clock::time_point arrived;
    };

    void attach(Stream& stream)
    {
        connection_ = stream.signalStreamData.connect([this](std::shared_ptr<const StreamData> data) {
            const auto* record = dynamic_cast<const ImageStreamData*>(data.get());
            if (record == nullptr || record->images().empty())
                return;
            std::lock_guard lock(mutex_);
            frames_.push_back(Frame{record->images().front(), std::chrono::steady_clock::now()});
        });
    }
    ~FrameCollector() { connection_.disconnect(); }

    std::size_t count() const
    {
        std::lock_guard lock(mutex_);
        return frames_.size();
    }
    std::vector<Frame> frames() const
    {
        std::lock_guard lock(mutex_);
        return frames_;
    }
    Frame last() const
    {
        std::lock_guard lock(mutex_);
        return frames_.back();
    }
    void clear()
    {
        std::lock_guard lock(mutex_);
        frames_.clear();
    }

private:
    SignalConnection connection_;
    mutable std::mutex mutex_;
    std::vector<Frame> frames_;
};

// Mean of all bytes of an 8-bit image.
inline double meanValue(const SharedImage& image)
{
    const MemImage* mem = image.mem();
    const auto* bytes = static_cast<const std::uint8_t*>(mem->data());
    const std::size_t n = static_cast<std::size_t>(mem->width()) * mem->height() * mem->channels();
    double sum = 0.0;
    for (std::size_t i = 0; i < n; ++i)
        sum += bytes[i];
    return n > 0 ? sum / static_cast<double>(n) : 0.0;
}

}  // namespace Corvexis::Test
