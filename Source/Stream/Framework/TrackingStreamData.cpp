#include "Stream/Framework/TrackingStreamData.h"

#include <algorithm>

#include "Host/Core/Log.h"
#include "Stream/Framework/TrackingStream.h"

namespace Corvexis {

TrackingStreamData::TrackingStreamData(Stream* stream, std::vector<TrackingInstrument> instruments)
    : StreamData(stream), instruments_(std::move(instruments))
{
    if (const TrackingStream* source = trackingStream()) {
        const std::size_t expected = source->numInstruments(false);
        if (expected != 0 && expected != instruments_.size())
            Log::log(Log::Level::Warning, "TrackingStreamData",
                     "Number of instruments does not match the number of instruments of the TrackingStream");
    }
    deviceTimeFromFirstInstrument();
}

std::unique_ptr<StreamData> TrackingStreamData::clone() const
{
    return std::make_unique<TrackingStreamData>(*this);
}

TrackingStream* TrackingStreamData::trackingStream() const
{
    return dynamic_cast<TrackingStream*>(stream());
}

std::optional<TrackingInstrument> TrackingStreamData::instrument(const std::string& id) const
{
    auto it = std::find_if(instruments_.begin(), instruments_.end(),
                           [&](const TrackingInstrument& t) { return t.id.ID() == id; });
    return it == instruments_.end() ? std::nullopt : std::optional<TrackingInstrument>(*it);
}

std::optional<TrackingInstrument> TrackingStreamData::instrumentByName(const std::string& name) const
{
    auto it = std::find_if(instruments_.begin(), instruments_.end(),
                           [&](const TrackingInstrument& t) { return t.id.name() == name; });
    return it == instruments_.end() ? std::nullopt : std::optional<TrackingInstrument>(*it);
}

bool TrackingStreamData::consistentDeviceTimestamps() const
{
    const std::uint64_t device = timestampDevice();
    return std::all_of(instruments_.begin(), instruments_.end(),
                       [device](const TrackingInstrument& t) { return t.timestamp == 0 || t.timestamp == device; });
}

void TrackingStreamData::update(const TrackingStreamData* other)
{
    if (other == nullptr)
        return;
    if (other != this)
        instruments_ = other->instruments_;
    deviceTimeFromFirstInstrument();
    if (other != this)
        components() = other->components();
}

void TrackingStreamData::updateComponents(const DataComponentList& list)
{
    components() = list;
}

void TrackingStreamData::deviceTimeFromFirstInstrument()
{
    if (!instruments_.empty())
        setTimestampDevice(instruments_.front().timestamp);
}

}  // namespace Corvexis
