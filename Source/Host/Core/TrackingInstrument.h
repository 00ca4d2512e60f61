#pragma once

#include <cstdint>

#include <Eigen/Core>

#include "Host/Core/TrackerID.h"

namespace Corvexis {

// One tracked instrument and its latest pose measurement. A plain value, copied into every tracking
// record; caller synchronises.
class TrackingInstrument
{
public:
    TrackerID id;
    // Pose of the instrument: instrument coordinates -> tracker coordinates, millimetres.
    Eigen::Matrix4d matrix = Eigen::Matrix4d::Identity();
    // Measurement quality reported by the tracker, 0 = unusable; the scale is the tracker's.
    double quality = 0.0;
    // Device time of the pose, milliseconds since 1970-01-01 UTC; 0 = not set.
    std::uint64_t timestamp = 0;
    // Device status accompanying each pose; stored and compared, not interpreted.
    int status = 0;
    // Inactive instruments stay registered but are left out by consumers that follow active ones.
    bool active = true;

    TrackingInstrument() = default;
    explicit TrackingInstrument(TrackerID trackerId, bool isActive = true)
        : id(std::move(trackerId)), active(isActive)
    {
    }

    // Every field equal, matrix elements exactly (a NaN never equals itself).
    bool operator==(const TrackingInstrument& other) const
    {
        return id == other.id && matrix == other.matrix && quality == other.quality &&
               timestamp == other.timestamp && status == other.status && active == other.active;
    }
    bool operator!=(const TrackingInstrument& other) const { return !(*this == other); }
};

}  // namespace Corvexis
