#pragma once

#include <cstdint>
#include <memory>
#include <mutex>

#include "Host/Core/TypedImage.h"
#include "Stream/Video/VideoStreamSettings.h"

namespace Corvexis {

// The virtual sensor behind a synthetic camera: the frame size and nominal rate of the format in use,
// and the controls that change the picture it paints.
//
// - Exposure (1 ... 1000, default 100) and gain (1 ... 8, default 1, a linear factor) scale the
//   brightness of every pixel by exposure / 100 × gain, saturating at 255.
// - Frame rate (1 ... the format's rate, default the format's rate) is the rate at which the camera
//   delivers frames.
// - The region of interest (steps of 2, at least 16 × 16, inside the sensor; default the whole
//   sensor) crops the painted picture: frames are region-sized and show that part of the sensor.
//
// Changing the format (setFormat) restores the default rate and region for the new size; exposure and
// gain are kept. The picture is a test card that moves with the frame index: red grows along x, green
// along y (both scrolling), blue constant, and a white 64 × 64 square that moves across the middle.
//
// Threading: every operation is thread-safe (one mutex guards the state); render paints outside it.
class SyntheticCameraSensor
{
public:
    static constexpr double kMinExposure = 1.0;
    static constexpr double kMaxExposure = 1000.0;
    static constexpr double kDefaultExposure = 100.0;
    static constexpr double kMinGain = 1.0;
    static constexpr double kMaxGain = 8.0;
    static constexpr double kDefaultGain = 1.0;
    static constexpr double kMinFramerate = 1.0;
    static constexpr int kRegionStep = 2;
    static constexpr int kMinRegionSize = 16;

    SyntheticCameraSensor() = default;

    // A sensor of width × height pixels delivering at most `fps` frames per second.
    void setFormat(int width, int height, double fps);
    int width() const;
    int height() const;

    double exposure() const;
    // False (unchanged) outside the limits.
    bool setExposure(double value);
    double gain() const;
    bool setGain(double value);
    double framerate() const;
    double maxFramerate() const;
    bool setFramerate(double value);

    VideoStreamSettings::Region region() const;
    // False (unchanged) when a component is off its step, the size is below the minimum, or the region
    // leaves the sensor.
    bool setRegion(const VideoStreamSettings::Region& region);
    VideoStreamSettings::Region regionIncrement() const;
    VideoStreamSettings::Region regionMinimum() const;
    VideoStreamSettings::Region regionMaximum() const;

    // Paints frame `index` of the test card, as the controls stand now: 8-bit RGB of the region's size.
    std::unique_ptr<TypedImage<std::uint8_t>> render(std::uint64_t index) const;

private:
    mutable std::mutex mutex_;
    // guarded by mutex_
    int width_ = 0;
    int height_ = 0;
    double maxFramerate_ = 0.0;
    double framerate_ = 0.0;
    double exposure_ = kDefaultExposure;
    double gain_ = kDefaultGain;
    VideoStreamSettings::Region region_;
};

}  // namespace Corvexis
