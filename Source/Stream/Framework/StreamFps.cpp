#include "Stream/Framework/StreamFps.h"

#include <algorithm>
#include <cmath>

#include "Stream/Framework/Stream.h"
#include "Stream/Framework/StreamData.h"

namespace Corvexis {

StreamFps::StreamFps()
{
    timestamps_.reserve(static_cast<size_t>(numberOfFrames_) + 1);
}

StreamFps::~StreamFps()
{
    disconnectAll();
}

void StreamFps::connect(Stream* stream)
{
    if (stream == nullptr)
        return;
    Connections c{stream, {}, {}};
    c.data = stream->signalStreamData.connect(this, [this](std::shared_ptr<const StreamData> data) {
        if (data)
            addRecord(*data);
    });
    c.state = stream->signalStateChanged.connect(this, [this](Stream::StateChange) { clear(); });
    std::lock_guard lock(mutex_);
    connections_.push_back(std::move(c));
}

void StreamFps::disconnect(Stream* stream)
{
    std::vector<Connections> removed;
    {
        std::lock_guard lock(mutex_);
        auto it = std::stable_partition(connections_.begin(), connections_.end(),
                                        [stream](const Connections& c) { return c.stream != stream; });
        removed.assign(std::make_move_iterator(it), std::make_move_iterator(connections_.end()));
        connections_.erase(it, connections_.end());
    }
    // Disconnect outside the lock: disconnect waits for a running call, which takes the lock.
    for (auto& c : removed) {
        c.data.disconnect();
        c.state.disconnect();
    }
}

double StreamFps::fps()
{
    std::lock_guard lock(mutex_);
    changed_ = false;
    return fps_;
}

bool StreamFps::changed() const
{
    std::lock_guard lock(mutex_);
    return changed_;
}

void StreamFps::setNumberOfFrames(int n)
{
    n = std::max(n, 1);
    std::lock_guard lock(mutex_);
    if (n == numberOfFrames_)
        return;
    numberOfFrames_ = n;
    clearLocked();
}

void StreamFps::setUseDeviceTimestamp(bool useDevice)
{
    std::lock_guard lock(mutex_);
    if (useDevice == useDeviceTimestamp_)
        return;
    useDeviceTimestamp_ = useDevice;
    clearLocked();
}

void StreamFps::setRounding(int digits)
{
    std::lock_guard lock(mutex_);
    rounding_ = digits;
}

void StreamFps::setUpdateInterval(double seconds)
{
    std::lock_guard lock(mutex_);
    updateIntervalMs_ = seconds * 1000.0;
}

void StreamFps::clear()
{
    std::lock_guard lock(mutex_);
    clearLocked();
}

void StreamFps::clearLocked()
{
    timestamps_.clear();
    timestamps_.reserve(static_cast<size_t>(numberOfFrames_) + 1);
    writeIndex_ = 0;
    fps_ = 0.0;
}

void StreamFps::addRecord(const StreamData& data)
{
    std::lock_guard lock(mutex_);
    const std::uint64_t t = useDeviceTimestamp_ ? data.timestampDevice() : data.timestampArrival();
    const size_t capacity = static_cast<size_t>(numberOfFrames_) + 1;
    if (timestamps_.size() >= capacity) {
        timestamps_[static_cast<size_t>(writeIndex_)] = t;
        writeIndex_ = static_cast<int>((static_cast<size_t>(writeIndex_) + 1) % capacity);
    } else {
        timestamps_.push_back(t);
    }
    if (updateIntervalMs_ <= 0.0 || static_cast<double>(t - lastUpdate_) >= updateIntervalMs_) {
        lastUpdate_ = t;
        recomputeLocked();
    }
}

void StreamFps::recomputeLocked()
{
    double rate = 0.0;
    const size_t capacity = static_cast<size_t>(numberOfFrames_) + 1;
    if (timestamps_.size() == capacity) {
        const size_t w = static_cast<size_t>(writeIndex_);
        const std::uint64_t newest = timestamps_[w == 0 ? capacity - 1 : w - 1];
        const std::uint64_t oldest = timestamps_[w];
        const double spanMs = static_cast<double>(newest - oldest);
        if (spanMs != 0.0) {
            rate = numberOfFrames_ * 1000.0 / spanMs;
            if (rounding_ < 11) {
                const double scale = std::pow(10.0, rounding_);
                rate = std::round(rate * scale) / scale;
            }
        }
    }
    changed_ = rate != fps_;
    fps_ = rate;
}

}  // namespace Corvexis
