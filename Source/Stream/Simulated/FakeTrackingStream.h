#pragma once

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include <Eigen/Core>

#include "Host/Core/Configurable.h"
#include "Host/Core/Parameter.h"
#include "Stream/Framework/ThreadSafeInstruments.h"
#include "Stream/Framework/TrackingStream.h"

namespace Corvexis {

// A tracking stream whose instruments are driven by simulated devices. Each instrument owns one Device
// that computes its pose and quality from the stream's simulated time, which starts at 0 on open and
// advances by exactly one period (1e6 / fps microseconds, truncated) per work cycle, whatever the real
// time taken; every start after an open therefore replays the same trajectories.
//
// Instruments are named "faketrk-<n>" with the smallest free n. Devices can be added, removed and
// reconfigured while the stream runs: they live in the registry and are only called under its lock.
//
// Configuration: "fps" (1 to 1000, default 30) and a "Devices" block holding one block per instrument,
// named after its device type, with the device's keys, "name" and "enabled". Loading recreates every
// instrument, oscillating devices first, then sweep devices, then constant ones.
//
// Threading: public operations are thread-safe unless stated; hooks run on the worker thread.
class FakeTrackingStream : public TrackingStream
{
public:
    // A simulated tracker target. A value (copies take the parameter values, not their connections);
    // caller synchronises. t is the simulated time in seconds.
    class Device : public Configurable
    {
    public:
        Device(const Device& other);
        Device& operator=(const Device& other);
        ~Device() override;

        virtual std::unique_ptr<Device> clone() const = 0;
        virtual double quality(double t) const = 0;
        virtual Eigen::Matrix4d matrix(double t) const = 0;
        virtual std::string deviceTypeName() const = 0;

        // Angular frequency of the motion, radians per simulated second.
        Parameter<double> speed{"speed", 5.0, this};

    protected:
        explicit Device(double speedValue);
    };

    // Sits at its centre with a fixed quality.
    class ConstantDevice : public Device
    {
    public:
        explicit ConstantDevice(const Eigen::Vector3d& center = Eigen::Vector3d::Zero());
        ConstantDevice(const ConstantDevice& other) = default;
        ConstantDevice(ConstantDevice&& other) : ConstantDevice(static_cast<const ConstantDevice&>(other)) {}
        ConstantDevice& operator=(const ConstantDevice& other) = default;
        ConstantDevice& operator=(ConstantDevice&& other)
        {
            return *this = static_cast<const ConstantDevice&>(other);
        }

        std::unique_ptr<Device> clone() const override { return std::make_unique<ConstantDevice>(*this); }
        double quality(double t) const override;
        Eigen::Matrix4d matrix(double t) const override;
        std::string deviceTypeName() const override { return "ConstantDevice"; }
        // Keys "center", "quality" and "speed".
        void configure(const Properties* p) override;
        void configuration(Properties* p) const override;

        Eigen::Vector3d center;  // millimetres
        double fixedQuality = 1.0;
    };

    // Runs on an ellipse of half-axes 5 (x) and 25 (y) millimetres around its centre while turning about
    // its axis; a zero axis gives the identity pose and quality 1.
    class OscillatingDevice : public Device
    {
    public:
        explicit OscillatingDevice(const Eigen::Vector3d& center = Eigen::Vector3d::Zero(),
                                   const Eigen::Vector3d& axis = Eigen::Vector3d::UnitX(),
                                   double speedValue = 1.0);
        OscillatingDevice(const OscillatingDevice& other) = default;
        OscillatingDevice(OscillatingDevice&& other)
            : OscillatingDevice(static_cast<const OscillatingDevice&>(other))
        {
        }
        OscillatingDevice& operator=(const OscillatingDevice& other) = default;
        OscillatingDevice& operator=(OscillatingDevice&& other)
        {
            return *this = static_cast<const OscillatingDevice&>(other);
        }

        std::unique_ptr<Device> clone() const override { return std::make_unique<OscillatingDevice>(*this); }
        double quality(double t) const override;
        Eigen::Matrix4d matrix(double t) const override;
        std::string deviceTypeName() const override { return "OscillatingDevice"; }
        // Keys "center", "axis", "minimumQuality" and "speed".
        void configure(const Properties* p) override;
        void configuration(Properties* p) const override;

        Eigen::Vector3d center;  // millimetres
        Eigen::Vector3d axis;    // need not be normalised
        double minimumQuality = 0.0;
    };

    // Sweeps back and forth along its translation axis while tilting about its rotation axis, as a probe
    // moved over a patient. Angles in radians; the configuration holds them in degrees.
    class SweepDevice : public Device
    {
    public:
        static constexpr double kDefaultAngleAmplitude = 0.39269908169872414;  // pi / 8

        explicit SweepDevice(const Eigen::Vector3d& center = Eigen::Vector3d::Zero(),
                             const Eigen::Vector3d& rotationAxis = Eigen::Vector3d::UnitX(),
                             const Eigen::Vector3d& translationAxis = Eigen::Vector3d::UnitY(),
                             double translationAmplitude = 2.0,
                             double angleAmplitude = kDefaultAngleAmplitude, double baseAngle = 0.0,
                             double speedValue = 0.1);
        SweepDevice(const SweepDevice& other) = default;
        SweepDevice(SweepDevice&& other) : SweepDevice(static_cast<const SweepDevice&>(other)) {}
        SweepDevice& operator=(const SweepDevice& other) = default;
        SweepDevice& operator=(SweepDevice&& other) { return *this = static_cast<const SweepDevice&>(other); }

        std::unique_ptr<Device> clone() const override { return std::make_unique<SweepDevice>(*this); }
        double quality(double t) const override;
        Eigen::Matrix4d matrix(double t) const override;
        std::string deviceTypeName() const override { return "SweepDevice"; }
        // Keys "center", "rotationAxis", "translationAxis", "translationAmplitude", "angleAmplitude" and
        // "baseAngle" (both in degrees), and "speed".
        void configure(const Properties* p) override;
        void configuration(Properties* p) const override;

        Eigen::Vector3d center;           // millimetres
        Eigen::Vector3d rotationAxis;     // need not be normalised; zero: no tilt
        Eigen::Vector3d translationAxis;  // scaled by translationAmplitude
        double translationAmplitude = 2.0;
        double angleAmplitude = kDefaultAngleAmplitude;  // radians
        double baseAngle = 0.0;                          // radians
    };

    // Named "Fake Tracking Stream", with no devices until configured or added.
    FakeTrackingStream();
    explicit FakeTrackingStream(const std::string& name);
    ~FakeTrackingStream() override;

    // Registers a new instrument "faketrk-<n>" named after the device's type, driven by `device`, and
    // emits the instrument signals on the calling thread. Returns the identifier, "" for a null device.
    // Thread-safe.
    std::string addDevice(std::unique_ptr<Device> device);
    // Removes instrument `id` and emits the instrument signals; false when there was none. Thread-safe.
    bool removeDevice(const std::string& id);
    // Clones of every device by instrument identifier. Thread-safe.
    std::map<std::string, std::unique_ptr<Device>> devicesCopy() const;
    // Applies one per-instrument block ("enabled", the device's keys, "name" when present) and emits the
    // resulting signals. False when `id` is not registered or `p` is null. Thread-safe.
    bool configureDevice(const std::string& id, const Properties* p);
    // Writes the per-instrument block of `id` into `p`. False when `id` is not registered or `p` is null.
    // Thread-safe.
    bool configurationDevice(const std::string& id, Properties* p) const;

    // Calling thread (configure replaces all instruments; call it from one thread at a time).
    void configure(const Properties* p) override;
    // Thread-safe.
    void configuration(Properties* p) const override;
    // "fps" and the repeated "Devices" block with the keys of each device type. Thread-safe.
    void describeSettings(Properties* schema) const override;

    // Seconds of simulated time; written by the worker thread. Thread-safe.
    double simulatedTime() const { return simulatedTime_.load(std::memory_order_relaxed); }

    // Cycles per second; the attributes "min" 1 and "max" 1000 are advice, not a clamp (see doWork).
    Parameter<double> fps{"fps", 30.0, this};
    // How soon the worker looks again while fps cannot pace anything (not positive).
    static constexpr std::chrono::milliseconds kUnusableRateRecheck{100};

protected:
    bool openImpl() override;
    bool closeImpl() override { return true; }
    bool startImpl() override { return true; }
    bool stopImpl() override { return true; }
    // One cycle: poses of the enabled instruments at the current simulated time, emission, time advance.
    // Worker thread.
    std::optional<WorkContinuation> doWork() override;

private:
    using Registry = ThreadSafeInstruments<Device>;

    // The registry is the one the constructor handed to TrackingStream.
    Registry& deviceRegistry() { return static_cast<Registry&>(registry()); }
    const Registry& deviceRegistry() const { return static_cast<const Registry&>(registry()); }
    // Reads the instrument part of a per-instrument block into `instrument` and `device`.
    static void applyBlock(const Properties& p, TrackingInstrument& instrument, Device& device);

    // Only the worker writes it; atomic so that readers on other threads see whole values.
    std::atomic<double> simulatedTime_{0.0};
};

}  // namespace Corvexis
