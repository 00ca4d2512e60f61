#include "Stream/Video/SyntheticCameraStream.h"

#include <exception>
#include <functional>

#include "Host/Core/Log.h"
#include "Host/Lib/SharedImage.h"
#include "Stream/Framework/ImageStreamData.h"
#include "Stream/Framework/StreamUtils.h"
#include "Stream/Video/CameraPollingPeriod.h"
#include "Stream/Video/CameraSettingsTree.h"
#include "Stream/Video/SyntheticCameraSensor.h"
#include "Stream/Video/VideoStreamSettings.h"

namespace Corvexis {

namespace {

constexpr const char* kCategory = "Stream.SyntheticCameraStream";

using VideoStreamSettings::Region;

// One numeric control of the sensor, behind the value interface `Interface`.
template <typename Interface>
class SensorNumber final : public Interface
{
public:
    SensorNumber(std::function<double()> value, std::function<bool(double)> set,
                 std::function<double()> minimum, std::function<double()> maximum)
        : value_(std::move(value)),
          set_(std::move(set)),
          minimum_(std::move(minimum)),
          maximum_(std::move(maximum))
    {
    }

    bool setValue(double value) override { return set_(value); }
    double value() const override { return value_(); }
    double minimum() const override { return minimum_(); }
    double maximum() const override { return maximum_(); }

private:
    std::function<double()> value_;
    std::function<bool(double)> set_;
    std::function<double()> minimum_;
    std::function<double()> maximum_;
};

class SensorRegion final : public VideoStreamSettings::RegionOfInterest
{
public:
    explicit SensorRegion(std::shared_ptr<SyntheticCameraSensor> sensor) : sensor_(std::move(sensor)) {}

    bool setRegion(const Region& region) override { return sensor_->setRegion(region); }
    Region region() const override { return sensor_->region(); }
    Region increment() const override { return sensor_->regionIncrement(); }
    Region minimum() const override { return sensor_->regionMinimum(); }
    Region maximum() const override { return sensor_->regionMaximum(); }

private:
    std::shared_ptr<SyntheticCameraSensor> sensor_;
};

VideoCameraStream::VideoStreamFrameFormat rgbFormat(int index, std::uint64_t width, std::uint64_t height,
                                                    double fps, const char* codec = "RGB3",
                                                    std::uint64_t bitsPerPixel = 24)
{
    VideoCameraStream::VideoStreamFrameFormat format;
    format.formatIndex = index;
    format.width = width;
    format.height = height;
    format.fps = fps;
    format.bitsPerPixel = bitsPerPixel;
    format.codec = codec;
    return format;
}

std::chrono::steady_clock::duration frameInterval(double fps)
{
    return std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::nanoseconds(static_cast<long long>(1e9 / fps)));
}

}  // namespace

SyntheticCameraStream::SyntheticCameraStream(const std::string& devicePath)
    : VideoCameraStream(kDefaultName), sensor_(std::make_shared<SyntheticCameraSensor>())
{
    for (auto& device : enumerateDevices()) {
        if (device.devicePath == devicePath) {
            deviceInfo_ = std::move(device);
            deviceKnown_ = true;
            break;
        }
    }
    if (deviceKnown_)
        setFormat(0);
}

SyntheticCameraStream::~SyntheticCameraStream()
{
    close();
}

std::vector<VideoCameraStream::VideoCameraDeviceInfo> SyntheticCameraStream::enumerateDevices()
{
    std::vector<VideoCameraDeviceInfo> devices(2);
    devices[0].displayString = "Synthetic Camera 0";
    devices[0].devicePath = "synthetic:0";
    devices[0].formats = {rgbFormat(0, 640, 480, 30.0), rgbFormat(1, 640, 480, 60.0),
                          rgbFormat(2, 1280, 720, 30.0), rgbFormat(3, 320, 240, 30.0),
                          rgbFormat(4, 320, 240, 30.0, "YUYV", 16)};
    devices[1].displayString = "Synthetic Camera 1";
    devices[1].devicePath = "synthetic:1";
    devices[1].formats = {rgbFormat(0, 320, 240, 15.0), rgbFormat(1, 160, 120, 30.0)};
    return devices;
}

bool SyntheticCameraStream::setFormat(int index)
{
    if (!VideoCameraStream::setFormat(index))
        return false;
    std::lock_guard lock(sessionMutex_);
    const VideoStreamFrameFormat current = format();
    sensor_->setFormat(static_cast<int>(current.width), static_cast<int>(current.height), current.fps);
    if (sessionOpen_) {
        // Close and reopen the device session so that the new format holds from the next frame on.
        const bool capturing = capture_.running();
        capture_.stop();
        sessionOpen_ = false;
        openSessionLocked();
        if (capturing)
            capture_.start([this] { captureLoop(); });
    }
    return true;
}

std::any SyntheticCameraStream::getSettings(const std::string& name)
{
    using namespace VideoStreamSettings;
    const std::shared_ptr<SyntheticCameraSensor> sensor = sensor_;
    auto constant = [](double v) { return [v] { return v; }; };
    if (name == Exposure::property_name)
        return std::shared_ptr<Exposure>(std::make_shared<SensorNumber<Exposure>>(
            [sensor] { return sensor->exposure(); }, [sensor](double v) { return sensor->setExposure(v); },
            constant(SyntheticCameraSensor::kMinExposure), constant(SyntheticCameraSensor::kMaxExposure)));
    if (name == Gain::property_name)
        return std::shared_ptr<Gain>(std::make_shared<SensorNumber<Gain>>(
            [sensor] { return sensor->gain(); }, [sensor](double v) { return sensor->setGain(v); },
            constant(SyntheticCameraSensor::kMinGain), constant(SyntheticCameraSensor::kMaxGain)));
    if (name == Framerate::property_name)
        return std::shared_ptr<Framerate>(std::make_shared<SensorNumber<Framerate>>(
            [sensor] { return sensor->framerate(); }, [sensor](double v) { return sensor->setFramerate(v); },
            constant(SyntheticCameraSensor::kMinFramerate), [sensor] { return sensor->maxFramerate(); }));
    if (name == RegionOfInterest::property_name)
        return std::shared_ptr<RegionOfInterest>(std::make_shared<SensorRegion>(sensor));
    return {};
}

Properties SyntheticCameraStream::tryApplySettings(const Properties* settings)
{
    return CameraSettingsTree::apply(*this, settings, false);
}

Properties SyntheticCameraStream::forceApplySettings(const Properties* settings)
{
    return CameraSettingsTree::apply(*this, settings, true);
}

bool SyntheticCameraStream::openImpl()
{
    if (!deviceKnown_ || deviceInfo_.formats.empty())
        return false;
    std::lock_guard lock(sessionMutex_);
    if (!sessionOpen_)
        openSessionLocked();
    return true;
}

bool SyntheticCameraStream::closeImpl()
{
    std::lock_guard lock(sessionMutex_);
    capture_.stop();
    sessionOpen_ = false;
    return true;
}

bool SyntheticCameraStream::startImpl()
{
    std::lock_guard lock(sessionMutex_);
    if (!sessionOpen_ || capture_.running())
        return false;
    capture_.start([this] { captureLoop(); });
    return true;
}

bool SyntheticCameraStream::stopImpl()
{
    std::lock_guard lock(sessionMutex_);
    if (!sessionOpen_)
        return false;
    capture_.stop();
    return true;
}

void SyntheticCameraStream::openSessionLocked()
{
    sessionOpen_ = true;
    framesDelivered_.store(0);
    sessionCount_.fetch_add(1);
}

void SyntheticCameraStream::captureLoop()
{
    try {
        double rate = sensor_->framerate();
        auto now = std::chrono::steady_clock::now();
        auto frameDue = now;  // the device delivers its first frame at once
        auto deadline = now;
        std::uint64_t index = framesDelivered_.load();
        while (capture_.sleepUntil(deadline)) {
            now = std::chrono::steady_clock::now();
            const double current = sensor_->framerate();
            if (current != rate) {
                // The device restarts its schedule at the new rate.
                rate = current;
                frameDue = now;
            }
            const auto period =
                std::chrono::duration_cast<std::chrono::steady_clock::duration>(cameraPollingPeriod(rate));
            if (now >= frameDue) {
                const auto interval = frameInterval(rate);
                frameDue += interval;
                // A device does not queue frames nobody fetched: after a long stall it delivers the
                // newest one and continues from there.
                if (frameDue + interval < now)
                    frameDue = now + interval;
                if (auto image = sensor_->render(index)) {
                    auto shared = std::make_unique<SharedImage>(std::unique_ptr<MemImage>(std::move(image)));
                    auto record = std::make_shared<ImageStreamData>(this, std::move(shared));
                    record->setTimestampArrival(std::chrono::system_clock::now());
                    record->setTimestampDevice(record->timestampArrival());
                    framesDelivered_.store(++index);
                    signalStreamData.emitSignal(std::move(record));
                }
            }
            deadline += period;
            if (std::chrono::steady_clock::now() - deadline > period)
                deadline += period;
        }
    } catch (const std::exception& e) {
        Log::log(Log::Level::Error, kCategory, "Aborting video stream");
        Log::log(Log::Level::Error, kCategory, e.what());
    }
}

}  // namespace Corvexis
