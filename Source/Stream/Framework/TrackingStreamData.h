#pragma once

#include <optional>
#include <string>
#include <vector>

#include "Host/Core/TrackingInstrument.h"
#include "Stream/Framework/StreamData.h"

namespace Corvexis {

class TrackingStream;

// A record of instrument poses. The record's device time is the first instrument's timestamp.
// Caller synchronises while building; read-only once emitted.
class TrackingStreamData : public StreamData
{
public:
    // Takes the instruments over. When `stream` is a TrackingStream with a non-zero instrument count that
    // differs from the number given, logs a warning under "TrackingStreamData" (the record keeps them all).
    TrackingStreamData(Stream* stream, std::vector<TrackingInstrument> instruments);
    TrackingStreamData(const TrackingStreamData& other) = default;
    TrackingStreamData(TrackingStreamData&& other) = default;

    std::unique_ptr<StreamData> clone() const override;

    std::vector<TrackingInstrument> instruments() const { return instruments_; }
    // The first instrument whose identifier (or display name) equals the text exactly.
    std::optional<TrackingInstrument> instrument(const std::string& id) const;
    std::optional<TrackingInstrument> instrumentByName(const std::string& name) const;
    // True when every instrument's timestamp is 0 or the record's device time.
    bool consistentDeviceTimestamps() const;
    // The producing stream as a TrackingStream; null when it is none.
    TrackingStream* trackingStream() const;

    // Takes another record's instruments (unless it is this one), then its components.
    void update(const TrackingStreamData* other);
    void updateComponents(const DataComponentList& components);

private:
    void deviceTimeFromFirstInstrument();

    std::vector<TrackingInstrument> instruments_;
};

}  // namespace Corvexis
