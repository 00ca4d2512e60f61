#pragma once

#include <cstdint>
#include <string>

#include "Host/Core/DataComponent.h"

namespace Corvexis {

// The two timestamps of a recorded frame, for recordings that keep both: device time (the source's own
// clock) and arrival time (this machine), each in milliseconds since 1970-01-01 UTC, 0 = not set.
// Caller synchronises.
class TimestampDataComponent : public DataComponent<TimestampDataComponent>
{
public:
    TimestampDataComponent() = default;
    TimestampDataComponent(std::uint64_t timestampDeviceMs, std::uint64_t timestampArrivalMs);

    std::string id() const override { return "TimestampDataComponent"; }

    std::uint64_t timestampDevice() const { return timestampDeviceMs_; }
    void setTimestampDevice(std::uint64_t ms) { timestampDeviceMs_ = ms; }
    std::uint64_t timestampArrival() const { return timestampArrivalMs_; }
    void setTimestampArrival(std::uint64_t ms) { timestampArrivalMs_ = ms; }

    // Keys "timestampDevice" and "timestampArrival"; missing or malformed keys keep the current value.
    void configure(const Properties* p) override;
    void configuration(Properties* p) const override;

    bool operator==(const TimestampDataComponent& other) const
    {
        return timestampDeviceMs_ == other.timestampDeviceMs_ &&
               timestampArrivalMs_ == other.timestampArrivalMs_;
    }

private:
    std::uint64_t timestampDeviceMs_ = 0;
    std::uint64_t timestampArrivalMs_ = 0;
};

}  // namespace Corvexis
