#include "Stream/Video/SyntheticCameraSensor.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace Corvexis {

using VideoStreamSettings::Region;

namespace {
constexpr int kSquareSize = 64;
}

void SyntheticCameraSensor::setFormat(int width, int height, double fps)
{
    std::lock_guard lock(mutex_);
    width_ = std::max(0, width);
    height_ = std::max(0, height);
    maxFramerate_ = std::max(kMinFramerate, fps);
    framerate_ = maxFramerate_;
    region_ = Region{0, 0, width_, height_};
}

int SyntheticCameraSensor::width() const
{
    std::lock_guard lock(mutex_);
    return width_;
}

int SyntheticCameraSensor::height() const
{
    std::lock_guard lock(mutex_);
    return height_;
}

double SyntheticCameraSensor::exposure() const
{
    std::lock_guard lock(mutex_);
    return exposure_;
}

bool SyntheticCameraSensor::setExposure(double value)
{
    if (!(value >= kMinExposure && value <= kMaxExposure))
        return false;
    std::lock_guard lock(mutex_);
    exposure_ = value;
    return true;
}

double SyntheticCameraSensor::gain() const
{
    std::lock_guard lock(mutex_);
    return gain_;
}

bool SyntheticCameraSensor::setGain(double value)
{
    if (!(value >= kMinGain && value <= kMaxGain))
        return false;
    std::lock_guard lock(mutex_);
    gain_ = value;
    return true;
}

double SyntheticCameraSensor::framerate() const
{
    std::lock_guard lock(mutex_);
    return framerate_;
}

double SyntheticCameraSensor::maxFramerate() const
{
    std::lock_guard lock(mutex_);
    return maxFramerate_;
}

bool SyntheticCameraSensor::setFramerate(double value)
{
    std::lock_guard lock(mutex_);
    if (!(value >= kMinFramerate && value <= maxFramerate_))
        return false;
    framerate_ = value;
    return true;
}

Region SyntheticCameraSensor::region() const
{
    std::lock_guard lock(mutex_);
    return region_;
}

bool SyntheticCameraSensor::setRegion(const Region& region)
{
    const auto onStep = [](int value) { return value % kRegionStep == 0; };
    if (!onStep(region.x) || !onStep(region.y) || !onStep(region.w) || !onStep(region.h))
        return false;
    if (region.x < 0 || region.y < 0 || region.w < kMinRegionSize || region.h < kMinRegionSize)
        return false;
    std::lock_guard lock(mutex_);
    // 64-bit sums: the components come from outside (a remote client) and may be near INT_MAX.
    if (static_cast<long long>(region.x) + region.w > width_ ||
        static_cast<long long>(region.y) + region.h > height_)
        return false;
    region_ = region;
    return true;
}

Region SyntheticCameraSensor::regionIncrement() const
{
    return Region{kRegionStep, kRegionStep, kRegionStep, kRegionStep};
}

Region SyntheticCameraSensor::regionMinimum() const
{
    return Region{0, 0, kMinRegionSize, kMinRegionSize};
}

Region SyntheticCameraSensor::regionMaximum() const
{
    std::lock_guard lock(mutex_);
    return Region{std::max(0, width_ - kMinRegionSize), std::max(0, height_ - kMinRegionSize), width_,
                  height_};
}

std::unique_ptr<TypedImage<std::uint8_t>> SyntheticCameraSensor::render(std::uint64_t index) const
{
    Region region;
    int sensorWidth = 0;
    int sensorHeight = 0;
    double factor = 1.0;
    {
        std::lock_guard lock(mutex_);
        region = region_;
        sensorWidth = width_;
        sensorHeight = height_;
        factor = exposure_ / kDefaultExposure * gain_;
    }
    if (region.w <= 0 || region.h <= 0)
        return nullptr;
    auto image = TypedImage<std::uint8_t>::create(region.w, region.h, 1, 3, false);
    if (!image)
        return nullptr;
    // One table per frame: brightness is a per-value mapping.
    std::array<std::uint8_t, 256> scale{};
    for (int v = 0; v < 256; ++v)
        scale[static_cast<std::size_t>(v)] =
            static_cast<std::uint8_t>(std::min(255.0, std::round(static_cast<double>(v) * factor)));
    const int shift = static_cast<int>(index % 256);
    const int squareTravel = std::max(1, sensorWidth - kSquareSize);
    const int squareX = static_cast<int>((index * 8) % static_cast<std::uint64_t>(squareTravel));
    const int squareY = sensorHeight / 2 - kSquareSize / 2;
    std::uint8_t* out = image->pointer();
    for (int row = 0; row < region.h; ++row) {
        const int sy = region.y + row;
        const std::uint8_t green = scale[static_cast<std::size_t>((sy + 2 * shift) & 0xFF)];
        const bool squareRow = sy >= squareY && sy < squareY + kSquareSize;
        for (int column = 0; column < region.w; ++column) {
            const int sx = region.x + column;
            if (squareRow && sx >= squareX && sx < squareX + kSquareSize) {
                out[0] = out[1] = out[2] = scale[255];
            } else {
                out[0] = scale[static_cast<std::size_t>((sx + 4 * shift) & 0xFF)];
                out[1] = green;
                out[2] = scale[128];
            }
            out += 3;
        }
    }
    return image;
}

}  // namespace Corvexis
