#pragma once

#include <map>
#include <optional>
#include <string>

#include <Eigen/Core>

#include "Host/Core/DataComponent.h"
#include "Host/Core/Signal.h"

namespace Corvexis {

// Per-instrument calibrations attached to data: for each instrument identifier a spatial calibration
// (instrument -> calibrated instrument coordinates) and a temporal offset.
//
// A value: copies and moves take the calibrations, never the connections of the signal (a copy starts
// with none). Caller synchronises; the signal itself is thread-safe.
class InstrumentCalibrationDataComponent : public DataComponent<InstrumentCalibrationDataComponent>
{
public:
    struct Calibration
    {
        Eigen::Matrix4d spatial = Eigen::Matrix4d::Identity();
        double temporal = 0.0;  // time offset added to the instrument's timestamps, milliseconds

        bool operator==(const Calibration& other) const
        {
            return spatial == other.spatial && temporal == other.temporal;
        }
    };

    InstrumentCalibrationDataComponent() = default;
    InstrumentCalibrationDataComponent(const InstrumentCalibrationDataComponent& other);
    InstrumentCalibrationDataComponent(InstrumentCalibrationDataComponent&& other) noexcept;
    InstrumentCalibrationDataComponent& operator=(const InstrumentCalibrationDataComponent& other);
    InstrumentCalibrationDataComponent& operator=(InstrumentCalibrationDataComponent&& other) noexcept;
    ~InstrumentCalibrationDataComponent() override;

    std::string id() const override { return "InstrumentCalibrationDataComponent"; }

    // Inserts or replaces the calibration of `instrumentId`, then emits signalCalibrationChanged on the
    // calling thread. Caller synchronises.
    void setCalibration(const std::string& instrumentId, const Calibration& calibration);
    void setCalibration(const std::string& instrumentId, const Eigen::Matrix4d& spatial, double temporal);
    // Caller synchronises.
    std::optional<Calibration> calibration(const std::string& instrumentId) const;
    const std::map<std::string, Calibration>& calibrations() const { return calibrations_; }

    // One sub-block "Calibration" per instrument, in identifier order, with "instrument", "spatial" and
    // "temporal". configure reads every "Calibration" block ("spatial" defaults to identity, "temporal" to
    // 0) through setCalibration; a block without an identifier or with a malformed value is skipped with
    // an error under "InstrumentCalibrationDataComponent". Caller synchronises.
    void configure(const Properties* p) override;
    void configuration(Properties* p) const override;

    bool operator==(const InstrumentCalibrationDataComponent& other) const
    {
        return calibrations_ == other.calibrations_;
    }

    // Emitted by every setCalibration with the identifier and the new calibration, on its thread.
    Signal<const std::string&, const Calibration&> signalCalibrationChanged;

private:
    std::map<std::string, Calibration> calibrations_;
};

}  // namespace Corvexis
