#pragma once

// A camera for the remote-video tests: it paints 8-bit RGB frames on its worker whose brightness and
// size follow its settings, so that a change made over the control channel shows in the received
// picture. It can also be fed frames by hand (emitImage) to test what the sender admits.

#include <algorithm>
#include <any>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>

#include "Host/Core/Parameter.h"
#include "Host/Core/TypedImage.h"
#include "Host/Lib/SharedImage.h"
#include "Stream/Framework/ImageStreamData.h"
#include "Stream/Video/VideoCameraStream.h"
#include "Stream/Video/VideoStreamSettings.h"

namespace Corvexis::Test {

class RemoteVideoTestCamera : public VideoCameraStream
{
public:
    using Region = VideoStreamSettings::Region;
    static constexpr int kSensorWidth = 160;
    static constexpr int kSensorHeight = 120;

    // Painting on the worker when `paints`; otherwise frames come only from emitImage.
    explicit RemoteVideoTestCamera(bool paints = true)
        : VideoCameraStream("Remote Test Camera"), paints_(paints)
    {
        deviceInfo_.displayString = "remote test camera";
        deviceInfo_.devicePath = "test:0";
        deviceInfo_.formats.push_back({0, kSensorWidth, kSensorHeight, 30.0, 24, "RGB3"});
        setFormat(0);
        exposure_ =
            std::make_shared<Numeric<VideoStreamSettings::Exposure>>(*this, exposureValue_, 1.0, 100.0);
        gain_ = std::make_shared<Numeric<VideoStreamSettings::Gain>>(*this, gainValue_, 1.0, 8.0);
        framerate_ =
            std::make_shared<Numeric<VideoStreamSettings::Framerate>>(*this, framerateValue_, 1.0, 60.0);
        roi_ = std::make_shared<Roi>(*this);
    }
    ~RemoteVideoTestCamera() override { close(); }

    // Blue level of the painted picture: exposure times gain, at most 255.
    int level() const
    {
        std::lock_guard lock(mutex_);
        return std::min(255, static_cast<int>(exposureValue_ * gainValue_));
    }
    Region region() const
    {
        std::lock_guard lock(mutex_);
        return region_;
    }
    double exposure() const
    {
        std::lock_guard lock(mutex_);
        return exposureValue_;
    }
    double framerate() const
    {
        std::lock_guard lock(mutex_);
        return framerateValue_;
    }

    // The picture for the current settings: red a horizontal ramp, green a vertical ramp, blue level().
    std::unique_ptr<TypedImage<std::uint8_t>> picture() const
    {
        const Region r = region();
        const int blue = level();
        auto image = TypedImage<std::uint8_t>::create(r.w, r.h, 1, 3);
        for (int y = 0; y < r.h; ++y)
            for (int x = 0; x < r.w; ++x) {
                image->at(x, y, 0, 0) = static_cast<std::uint8_t>((x + r.x) * 255 / kSensorWidth);
                image->at(x, y, 0, 1) = static_cast<std::uint8_t>((y + r.y) * 255 / kSensorHeight);
                image->at(x, y, 0, 2) = static_cast<std::uint8_t>(blue);
            }
        return image;
    }

    // Emits one record with `image` on the calling thread, stamped `arrivalMs` (now when 0).
    void emitImage(std::unique_ptr<MemImage> image, std::uint64_t arrivalMs = 0)
    {
        auto record =
            std::make_shared<ImageStreamData>(this, std::make_shared<SharedImage>(std::move(image)));
        const std::uint64_t now = arrivalMs != 0 ? arrivalMs : nowMs();
        record->setTimestampArrival(now);
        record->setTimestampDevice(now);
        signalStreamData.emitSignal(std::shared_ptr<const StreamData>(std::move(record)));
        ++emitted_;
    }
    int emitted() const { return emitted_.load(); }

    std::any getSettings(const std::string& name) override
    {
        if (name == VideoStreamSettings::Exposure::property_name)
            return std::shared_ptr<VideoStreamSettings::Exposure>(exposure_);
        if (name == VideoStreamSettings::Gain::property_name)
            return std::shared_ptr<VideoStreamSettings::Gain>(gain_);
        if (name == VideoStreamSettings::Framerate::property_name)
            return std::shared_ptr<VideoStreamSettings::Framerate>(framerate_);
        if (name == VideoStreamSettings::RegionOfInterest::property_name)
            return std::shared_ptr<VideoStreamSettings::RegionOfInterest>(roi_);
        return {};
    }
    // Keys "Exposure" and "Gain"; what applies is reported back.
    Properties tryApplySettings(const Properties* settings) override { return apply(settings); }
    Properties forceApplySettings(const Properties* settings) override { return apply(settings); }

    // A setting of the stream itself, to check that configurations travel.
    Parameter<int> pattern{"pattern", 0, this};

protected:
    bool openImpl() override { return true; }
    bool closeImpl() override { return true; }
    bool startImpl() override { return true; }
    bool stopImpl() override { return true; }
    std::optional<WorkContinuation> doWork() override
    {
        if (paints_)
            emitImage(picture());
        const double rate = std::max(1.0, framerate());
        return WorkContinuation{std::chrono::time_point_cast<Ticks>(
            std::chrono::system_clock::now() + std::chrono::microseconds(static_cast<int>(1e6 / rate)))};
    }

private:
    template <typename Interface>
    class Numeric : public Interface
    {
    public:
        Numeric(RemoteVideoTestCamera& camera, double& field, double minimum, double maximum)
            : camera_(camera), field_(field), minimum_(minimum), maximum_(maximum)
        {
        }
        bool setValue(double value) override
        {
            if (value < minimum_ || value > maximum_)
                return false;
            std::lock_guard lock(camera_.mutex_);
            field_ = value;
            return true;
        }
        double value() const override
        {
            std::lock_guard lock(camera_.mutex_);
            return field_;
        }
        double minimum() const override { return minimum_; }
        double maximum() const override { return maximum_; }

    private:
        RemoteVideoTestCamera& camera_;
        double& field_;
        const double minimum_;
        const double maximum_;
    };

    class Roi : public VideoStreamSettings::RegionOfInterest
    {
    public:
        explicit Roi(RemoteVideoTestCamera& camera) : camera_(camera) {}
        bool setRegion(const Region& r) override
        {
            const Region lo = minimum(), hi = maximum(), step = increment();
            if (r.w < lo.w || r.h < lo.h || r.x < 0 || r.y < 0 || r.x + r.w > hi.w || r.y + r.h > hi.h ||
                r.w % step.w != 0 || r.h % step.h != 0)
                return false;
            std::lock_guard lock(camera_.mutex_);
            camera_.region_ = r;
            return true;
        }
        Region region() const override { return camera_.region(); }
        Region increment() const override { return {1, 1, 8, 8}; }
        Region minimum() const override { return {0, 0, 32, 32}; }
        Region maximum() const override { return {kSensorWidth, kSensorHeight, kSensorWidth, kSensorHeight}; }

    private:
        RemoteVideoTestCamera& camera_;
    };

    static std::uint64_t nowMs()
    {
        return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                              std::chrono::system_clock::now().time_since_epoch())
                                              .count());
    }

    Properties apply(const Properties* settings)
    {
        Properties applied;
        double value = 0.0;
        if (settings != nullptr && settings->getParam("Exposure", value) && exposure_->setValue(value))
            applied.setParam("Exposure", value);
        if (settings != nullptr && settings->getParam("Gain", value) && gain_->setValue(value))
            applied.setParam("Gain", value);
        return applied;
    }

    const bool paints_;
    std::atomic<int> emitted_{0};
    mutable std::mutex mutex_;
    // guarded by mutex_
    double exposureValue_ = 10.0;
    double gainValue_ = 2.0;
    double framerateValue_ = 30.0;
    Region region_{0, 0, kSensorWidth, kSensorHeight};

    std::shared_ptr<Numeric<VideoStreamSettings::Exposure>> exposure_;
    std::shared_ptr<Numeric<VideoStreamSettings::Gain>> gain_;
    std::shared_ptr<Numeric<VideoStreamSettings::Framerate>> framerate_;
    std::shared_ptr<Roi> roi_;
};

}  // namespace Corvexis::Test
