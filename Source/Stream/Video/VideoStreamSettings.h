#pragma once

namespace Corvexis::VideoStreamSettings {

// Value interfaces through which a camera's settings are read and changed, locally (a camera back-end)
// or remotely (a remote video stream forwards them over its control channel). A camera hands them out
// from VideoCameraStream::getSettings(property_name) inside a std::any, as a std::shared_ptr to the
// interface class; the object stays valid while the camera exists.
//
// Threading: every implementation is thread-safe; a set operation may block for a bounded time (a
// remote one waits for the sender's reply).
class VideoStreamSettingsBase
{
public:
    static constexpr const char* property_name = "VideoStreamSettingsBase";
    virtual ~VideoStreamSettingsBase() = default;
};

// One numeric camera control with its limits; units are the back-end's (exposure in its own steps,
// frame rate in frames per second, gain in its own steps).
class VideoCameraSettingDouble : public VideoStreamSettingsBase
{
public:
    // False when the value is outside the limits or the device refused it; the value is then unchanged.
    virtual bool setValue(double value) = 0;
    virtual double value() const = 0;
    virtual double minimum() const = 0;
    virtual double maximum() const = 0;
};

class Exposure : public VideoCameraSettingDouble
{
public:
    static constexpr const char* property_name = "Exposure";
};

class Framerate : public VideoCameraSettingDouble
{
public:
    static constexpr const char* property_name = "Framerate";
};

class Gain : public VideoCameraSettingDouble
{
public:
    static constexpr const char* property_name = "Gain";
};

// A rectangle in pixels of the sensor: x, y the top-left corner, w, h the size. Increment, minimum and
// maximum are per-component steps and limits.
struct Region
{
    int x = 0;
    int y = 0;
    int w = 0;
    int h = 0;

    bool operator==(const Region&) const = default;
};

class RegionOfInterest : public VideoStreamSettingsBase
{
public:
    static constexpr const char* property_name = "RegionOfInterest";

    // False when the region violates the limits or steps, or the device refused it.
    virtual bool setRegion(const Region& region) = 0;
    virtual Region region() const = 0;
    virtual Region increment() const = 0;
    virtual Region minimum() const = 0;
    virtual Region maximum() const = 0;
};

}  // namespace Corvexis::VideoStreamSettings
