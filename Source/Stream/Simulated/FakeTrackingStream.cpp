#include "Stream/Simulated/FakeTrackingStream.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <numbers>

#include <Eigen/Geometry>

#include "Host/Core/Log.h"
#include "Host/Core/Properties.h"
#include "Host/Core/SettingsSchema.h"

namespace Corvexis {

namespace {

constexpr const char* kIdPrefix = "faketrk-";
constexpr const char* kDevicesBlock = "Devices";
constexpr double kDegreesPerRadian = 180.0 / std::numbers::pi;

// Only an exactly zero (or not even finite-comparable) axis counts as none; any other length is
// normalised, however short.
bool isZeroVector(const Eigen::Vector3d& v)
{
    return !(v.squaredNorm() > 0.0);
}

Eigen::Matrix4d translation(const Eigen::Vector3d& p)
{
    Eigen::Matrix4d m = Eigen::Matrix4d::Identity();
    m.block<3, 1>(0, 3) = p;
    return m;
}

Eigen::Matrix4d rotation(const Eigen::Vector3d& axis, double angle)
{
    Eigen::Matrix4d m = Eigen::Matrix4d::Identity();
    m.block<3, 3>(0, 0) = Eigen::AngleAxisd(angle, axis.normalized()).toRotationMatrix();
    return m;
}

template <typename T>
void readIfPresent(const Properties& p, const std::string& key, T& value)
{
    T parsed = value;
    if (p.getParam(key, parsed))
        value = parsed;
}

// The device of a per-instrument block by its type name; null for an unknown name.
std::unique_ptr<FakeTrackingStream::Device> makeDefaultDevice(const std::string& typeName)
{
    if (typeName == "OscillatingDevice")
        return std::make_unique<FakeTrackingStream::OscillatingDevice>();
    if (typeName == "SweepDevice")
        return std::make_unique<FakeTrackingStream::SweepDevice>();
    if (typeName == "ConstantDevice")
        return std::make_unique<FakeTrackingStream::ConstantDevice>();
    return nullptr;
}

}  // namespace

// ---- Device -------------------------------------------------------------------------------------------

FakeTrackingStream::Device::Device(double speedValue)
{
    speed.setValue(speedValue);
}

FakeTrackingStream::Device::Device(const Device& other) : Configurable()
{
    speed.setValue(other.speed.value());
}

FakeTrackingStream::Device& FakeTrackingStream::Device::operator=(const Device& other)
{
    if (this != &other)
        speed.setValue(other.speed.value());
    return *this;
}

FakeTrackingStream::Device::~Device() = default;

// ---- ConstantDevice -----------------------------------------------------------------------------------

FakeTrackingStream::ConstantDevice::ConstantDevice(const Eigen::Vector3d& centerValue)
    : Device(0.0), center(centerValue)
{
}

double FakeTrackingStream::ConstantDevice::quality(double /*t*/) const
{
    return fixedQuality;
}

Eigen::Matrix4d FakeTrackingStream::ConstantDevice::matrix(double /*t*/) const
{
    return translation(center);
}

void FakeTrackingStream::ConstantDevice::configure(const Properties* p)
{
    if (p == nullptr)
        return;
    Device::configure(p);
    readIfPresent(*p, "center", center);
    readIfPresent(*p, "quality", fixedQuality);
}

void FakeTrackingStream::ConstantDevice::configuration(Properties* p) const
{
    if (p == nullptr)
        return;
    p->setParam("center", center);
    p->setParam("quality", fixedQuality);
    Device::configuration(p);
}

// ---- OscillatingDevice --------------------------------------------------------------------------------

FakeTrackingStream::OscillatingDevice::OscillatingDevice(const Eigen::Vector3d& centerValue,
                                                         const Eigen::Vector3d& axisValue, double speedValue)
    : Device(speedValue), center(centerValue), axis(axisValue)
{
}

double FakeTrackingStream::OscillatingDevice::quality(double t) const
{
    if (isZeroVector(axis))
        return 1.0;
    // Deliberately independent of the speed: the quality drifts on its own slow cycle.
    return std::abs(std::cos(t / 10.0)) * (1.0 - minimumQuality) + minimumQuality;
}

Eigen::Matrix4d FakeTrackingStream::OscillatingDevice::matrix(double t) const
{
    if (isZeroVector(axis))
        return Eigen::Matrix4d::Identity();
    const double x = t * speed.value();
    const Eigen::Vector3d position = center + Eigen::Vector3d(5.0 * std::sin(x), 25.0 * std::cos(x), 0.0);
    return translation(position) * rotation(axis, x / 10.0);
}

void FakeTrackingStream::OscillatingDevice::configure(const Properties* p)
{
    if (p == nullptr)
        return;
    Device::configure(p);
    readIfPresent(*p, "center", center);
    readIfPresent(*p, "axis", axis);
    readIfPresent(*p, "minimumQuality", minimumQuality);
}

void FakeTrackingStream::OscillatingDevice::configuration(Properties* p) const
{
    if (p == nullptr)
        return;
    p->setParam("center", center);
    p->setParam("axis", axis);
    p->setParam("minimumQuality", minimumQuality);
    Device::configuration(p);
}

// ---- SweepDevice --------------------------------------------------------------------------------------

FakeTrackingStream::SweepDevice::SweepDevice(const Eigen::Vector3d& centerValue,
                                             const Eigen::Vector3d& rotationAxisValue,
                                             const Eigen::Vector3d& translationAxisValue,
                                             double translationAmplitudeValue, double angleAmplitudeValue,
                                             double baseAngleValue, double speedValue)
    : Device(speedValue),
      center(centerValue),
      rotationAxis(rotationAxisValue),
      translationAxis(translationAxisValue),
      translationAmplitude(translationAmplitudeValue),
      angleAmplitude(angleAmplitudeValue),
      baseAngle(baseAngleValue)
{
}

double FakeTrackingStream::SweepDevice::quality(double /*t*/) const
{
    return 1.0;
}

Eigen::Matrix4d FakeTrackingStream::SweepDevice::matrix(double t) const
{
    const double s = std::sin(t * speed.value());
    const Eigen::Vector3d position = center - s * translationAxis * translationAmplitude;
    if (isZeroVector(rotationAxis))
        return translation(position);
    return translation(position) * rotation(rotationAxis, s * angleAmplitude + baseAngle);
}

void FakeTrackingStream::SweepDevice::configure(const Properties* p)
{
    if (p == nullptr)
        return;
    Device::configure(p);
    readIfPresent(*p, "center", center);
    readIfPresent(*p, "rotationAxis", rotationAxis);
    readIfPresent(*p, "translationAxis", translationAxis);
    readIfPresent(*p, "translationAmplitude", translationAmplitude);
    double degrees = 0.0;
    if (p->getParam("angleAmplitude", degrees))
        angleAmplitude = degrees / kDegreesPerRadian;
    if (p->getParam("baseAngle", degrees))
        baseAngle = degrees / kDegreesPerRadian;
}

void FakeTrackingStream::SweepDevice::configuration(Properties* p) const
{
    if (p == nullptr)
        return;
    p->setParam("center", center);
    p->setParam("rotationAxis", rotationAxis);
    p->setParam("translationAxis", translationAxis);
    p->setParam("translationAmplitude", translationAmplitude);
    p->setParam("angleAmplitude", angleAmplitude * kDegreesPerRadian);
    p->setParam("baseAngle", baseAngle * kDegreesPerRadian);
    Device::configuration(p);
}

// ---- FakeTrackingStream -------------------------------------------------------------------------------

FakeTrackingStream::FakeTrackingStream() : FakeTrackingStream("Fake Tracking Stream") {}

FakeTrackingStream::FakeTrackingStream(const std::string& name)
    : TrackingStream(name, std::make_unique<Registry>())
{
    fps.setAttribute("min", "1");
    fps.setAttribute("max", "1000");
}

FakeTrackingStream::~FakeTrackingStream()
{
    close();
}

std::string FakeTrackingStream::addDevice(std::unique_ptr<Device> device)
{
    if (!device) {
        Log::log(Log::Level::Error, "FakeTrackingStream", "addDevice: refusing a null device");
        return {};
    }
    const std::string typeName = device->deviceTypeName();
    std::string id;
    const auto flags =
        deviceRegistry().createWithPrefix(kIdPrefix, typeName, {}, true, std::move(device), &id);
    emitSignals(flags);
    return id;
}

bool FakeTrackingStream::removeDevice(const std::string& id)
{
    const auto flags = deviceRegistry().remove(id);
    emitSignals(flags);
    return flags.testFlag(InstrumentModification::Instruments);
}

std::map<std::string, std::unique_ptr<FakeTrackingStream::Device>> FakeTrackingStream::devicesCopy() const
{
    std::map<std::string, std::unique_ptr<Device>> copies;
    deviceRegistry().visitAll([&copies](const TrackingInstrument& instrument, const Device* device) {
        if (device != nullptr)
            copies.emplace(instrument.id.ID(), device->clone());
    });
    return copies;
}

void FakeTrackingStream::applyBlock(const Properties& p, TrackingInstrument& instrument, Device& device)
{
    readIfPresent(p, "enabled", instrument.active);
    device.configure(&p);
    std::string name;
    if (p.getParam("name", name))
        instrument.id.setName(name);
}

bool FakeTrackingStream::configureDevice(const std::string& id, const Properties* p)
{
    if (p == nullptr)
        return false;
    bool found = false;
    // The device's own parameter signals fire under the registry lock; nothing outside the registry can
    // connect to them, so no receiver can call back into it.
    const auto flags = deviceRegistry().modifyWithSpecial(
        id,
        [p](TrackingInstrument& instrument, Device* device) {
            if (device != nullptr)
                applyBlock(*p, instrument, *device);
        },
        &found);
    emitSignals(flags);
    return found;
}

bool FakeTrackingStream::configurationDevice(const std::string& id, Properties* p) const
{
    if (p == nullptr)
        return false;
    return deviceRegistry().visit(id, [p](const TrackingInstrument& instrument, const Device* device) {
        if (device != nullptr)
            device->configuration(p);
        p->setParam("name", instrument.id.name());
        p->setParam("enabled", instrument.active);
    });
}

void FakeTrackingStream::configuration(Properties* p) const
{
    if (p == nullptr)
        return;
    TrackingStream::configuration(p);
    Properties* devicesBlock = p->addSubProperties(kDevicesBlock);
    deviceRegistry().visitAll([devicesBlock](const TrackingInstrument& instrument, const Device* device) {
        if (device == nullptr)
            return;
        Properties* block = devicesBlock->addSubProperties(device->deviceTypeName());
        device->configuration(block);
        block->setParam("name", instrument.id.name());
        block->setParam("enabled", instrument.active);
    });
}

void FakeTrackingStream::configure(const Properties* p)
{
    if (p == nullptr)
        return;
    TrackingStream::configure(p);
    const Properties* devicesBlock = p->subProperties(kDevicesBlock);
    if (devicesBlock == nullptr)
        return;

    InstrumentModifications flags = deviceRegistry().clear();
    // Kinds in a fixed order, so that identifiers are handed out the same way whatever the file's order.
    for (const char* kind : {"OscillatingDevice", "SweepDevice", "ConstantDevice"}) {
        for (const Properties* block : devicesBlock->subPropertiesList(kind)) {
            std::unique_ptr<Device> device = makeDefaultDevice(kind);
            TrackingInstrument settings(TrackerID({}, {}, kind));
            applyBlock(*block, settings, *device);
            flags |= deviceRegistry().createWithPrefix(kIdPrefix, settings.id.name(), {}, settings.active,
                                                       std::move(device));
        }
    }
    for (const Properties* block : devicesBlock->subProperties()) {
        if (!makeDefaultDevice(block->name()))
            Log::log(Log::Level::Warning, "FakeTrackingStream",
                     "Ignoring unknown device kind " + block->name());
    }
    emitSignals(flags);
}

void FakeTrackingStream::describeSettings(Properties* schema) const
{
    if (schema == nullptr)
        return;
    TrackingStream::describeSettings(schema);
    Properties* devices = schema->addSubProperties(kDevicesBlock);
    devices->setAttribute("repeated", "true");
    devices->setAttribute("label", "one block per instrument, named after its device type");
    auto common = [](Properties& block, const Device& device) {
        SettingsSchema::add(block, "name", device.deviceTypeName(), "name of the instrument");
        SettingsSchema::add(block, "enabled", true, "whether the instrument is active");
        SettingsSchema::add(block, "speed", device.speed.value(), "radians per simulated second");
    };
    constexpr double kDegrees = 180.0 / 3.14159265358979323846;
    const OscillatingDevice oscillating;
    Properties* block = devices->addSubProperties(oscillating.deviceTypeName());
    SettingsSchema::add(*block, "center", oscillating.center, "centre of the ellipse, mm");
    SettingsSchema::add(*block, "axis", oscillating.axis, "axis it turns about");
    SettingsSchema::add(*block, "minimumQuality", oscillating.minimumQuality, "lowest quality reported");
    common(*block, oscillating);
    const SweepDevice sweep;
    block = devices->addSubProperties(sweep.deviceTypeName());
    SettingsSchema::add(*block, "center", sweep.center, "centre of the sweep, mm");
    SettingsSchema::add(*block, "rotationAxis", sweep.rotationAxis, "axis of the tilt");
    SettingsSchema::add(*block, "translationAxis", sweep.translationAxis, "direction of the sweep");
    SettingsSchema::add(*block, "translationAmplitude", sweep.translationAmplitude, "sweep amplitude");
    SettingsSchema::add(*block, "angleAmplitude", sweep.angleAmplitude * kDegrees, "tilt amplitude, degrees");
    SettingsSchema::add(*block, "baseAngle", sweep.baseAngle * kDegrees, "tilt at rest, degrees");
    common(*block, sweep);
    const ConstantDevice constant;
    block = devices->addSubProperties(constant.deviceTypeName());
    SettingsSchema::add(*block, "center", constant.center, "position, mm");
    SettingsSchema::add(*block, "quality", constant.fixedQuality, "quality reported");
    common(*block, constant);
}

bool FakeTrackingStream::openImpl()
{
    simulatedTime_.store(0.0, std::memory_order_relaxed);
    return true;
}

std::optional<Stream::WorkContinuation> FakeTrackingStream::doWork()
{
    // The "min" and "max" attributes of fps are advice to editors and to the host's validation; the rate
    // itself is taken as it stands. Only a rate that cannot pace anything (not positive, not finite, or
    // so small that the period overflows) produces nothing, and the worker looks again later instead of
    // spinning. A rate above 1e6 gives a period of 0 µs: records as fast as they can be made, with the
    // simulated time standing still.
    const auto t0 = std::chrono::time_point_cast<Ticks>(std::chrono::system_clock::now());
    const double rate = fps.value();
    const bool usable = std::isfinite(rate) && rate > 0.0 && 1e6 / rate <= 1e15;
    setRequestedRate(usable ? rate : 0.0);
    if (!usable)
        return WorkContinuation{t0 + std::chrono::duration_cast<Ticks>(kUnusableRateRecheck)};
    const auto periodUs = static_cast<std::int64_t>(1e6 / rate);
    const double t = simulatedTime_.load(std::memory_order_relaxed);
    const auto timestampMs = static_cast<std::uint64_t>(t * 1000.0);

    const auto flags = deviceRegistry().modifyAllWithSpecial(
        [t, timestampMs](const std::string&, TrackingInstrument& instrument, Device* device) {
            if (!instrument.active || device == nullptr)
                return;  // disabled instruments keep their last pose and timestamp
            instrument.matrix = device->matrix(t);
            instrument.quality = device->quality(t);
            instrument.timestamp = timestampMs;
        });
    emitSignals(flags);

    simulatedTime_.store(t + static_cast<double>(periodUs) * 1e-6, std::memory_order_relaxed);
    return WorkContinuation{t0 + Ticks(periodUs * 10)};
}

}  // namespace Corvexis
