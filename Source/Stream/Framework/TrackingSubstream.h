#pragma once

#include <string>
#include <vector>

#include "Host/Core/TrackingInstrument.h"
#include "Stream/Framework/Substream.h"

namespace Corvexis {

// The tracking substream of a stream group. The group feeds it the instruments of each tracking record
// (setInstruments) just before emitting the record on it, so the substream's registry already knows
// them when its consumers receive the record.
//
// Threading: as Substream; setInstruments runs on the group's worker and is thread-safe (the registry
// locks itself). Its signals are emitted on the calling thread, without a lock held.
class TrackingSubstream : public Substream<TrackingStream>
{
public:
    TrackingSubstream(StreamGroupBase* group, std::string name);
    ~TrackingSubstream() override;

    // Registers the instruments not known yet (active, with a copy of their TrackerID) and stores every
    // given pose. Instruments missing from `instruments` are kept unchanged. Emits
    // signalInstrumentsChanged and signalMainInstrumentChanged when the set or the main one changed;
    // records are left to the group.
    void setInstruments(const std::vector<TrackingInstrument>& instruments);
    // The legacy name of setInstruments.
    void setDevices(const std::vector<TrackingInstrument>& instruments) { setInstruments(instruments); }
};

}  // namespace Corvexis
