#include "Stream/Framework/InstrumentCalibrationDataComponent.h"

#include <utility>

#include "Host/Core/Log.h"
#include "Host/Core/Properties.h"

namespace Corvexis {

namespace {

constexpr const char* kCategory = "InstrumentCalibrationDataComponent";
constexpr const char* kBlock = "Calibration";

}  // namespace

InstrumentCalibrationDataComponent::InstrumentCalibrationDataComponent(
    const InstrumentCalibrationDataComponent& other)
    : DataComponent(other), calibrations_(other.calibrations_)
{
}

InstrumentCalibrationDataComponent::InstrumentCalibrationDataComponent(
    InstrumentCalibrationDataComponent&& other) noexcept
    : DataComponent(other), calibrations_(std::move(other.calibrations_))
{
}

InstrumentCalibrationDataComponent& InstrumentCalibrationDataComponent::operator=(
    const InstrumentCalibrationDataComponent& other)
{
    calibrations_ = other.calibrations_;
    return *this;
}

InstrumentCalibrationDataComponent& InstrumentCalibrationDataComponent::operator=(
    InstrumentCalibrationDataComponent&& other) noexcept
{
    calibrations_ = std::move(other.calibrations_);
    return *this;
}

InstrumentCalibrationDataComponent::~InstrumentCalibrationDataComponent() = default;

void InstrumentCalibrationDataComponent::setCalibration(const std::string& instrumentId,
                                                        const Calibration& calibration)
{
    calibrations_[instrumentId] = calibration;
    signalCalibrationChanged.emitSignal(instrumentId, calibration);
}

void InstrumentCalibrationDataComponent::setCalibration(const std::string& instrumentId,
                                                        const Eigen::Matrix4d& spatial, double temporal)
{
    setCalibration(instrumentId, Calibration{spatial, temporal});
}

std::optional<InstrumentCalibrationDataComponent::Calibration> InstrumentCalibrationDataComponent::calibration(
    const std::string& instrumentId) const
{
    const auto it = calibrations_.find(instrumentId);
    if (it == calibrations_.end())
        return std::nullopt;
    return it->second;
}

void InstrumentCalibrationDataComponent::configuration(Properties* p) const
{
    if (p == nullptr)
        return;
    for (const auto& [instrumentId, calibration] : calibrations_) {
        Properties* block = p->addSubProperties(kBlock);
        if (block == nullptr) {
            Log::log(Log::Level::Error, kCategory, "Could not create Calibration suproperties");
            continue;
        }
        block->setParam("instrument", instrumentId);
        block->setParam("spatial", calibration.spatial);
        block->setParam("temporal", calibration.temporal);
    }
}

void InstrumentCalibrationDataComponent::configure(const Properties* p)
{
    if (p == nullptr)
        return;
    for (const Properties* block : p->subPropertiesList(kBlock)) {
        std::string instrumentId;
        Calibration calibration;
        const bool ok = block->getParam("instrument", instrumentId) && !instrumentId.empty() &&
                        (!block->hasParam("spatial") || block->getParam("spatial", calibration.spatial)) &&
                        (!block->hasParam("temporal") || block->getParam("temporal", calibration.temporal));
        if (!ok) {
            Log::log(Log::Level::Error, kCategory, "Could not load Calibration suproperties");
            continue;
        }
        setCalibration(instrumentId, calibration);
    }
}

}  // namespace Corvexis
