#include "Stream/Framework/TrackingSubstream.h"

#include "Stream/Framework/ThreadSafeInstrumentsBase.h"

namespace Corvexis {

TrackingSubstream::TrackingSubstream(StreamGroupBase* group, std::string name)
    : Substream<TrackingStream>(group, std::move(name))
{
}

TrackingSubstream::~TrackingSubstream() = default;

void TrackingSubstream::setInstruments(const std::vector<TrackingInstrument>& instruments)
{
    InstrumentModifications flags;
    for (const auto& instrument : instruments) {
        if (!registry().find(instrument.id.ID()))
            flags |= registry().create(instrument.id, true);
        flags |= registry().update(instrument.id.ID(), instrument.matrix, instrument.quality,
                                   instrument.timestamp, instrument.status);
    }
    // Pose changes are not emitted here: the group emits the record itself.
    if (flags.testFlag(InstrumentModification::Instruments))
        signalInstrumentsChanged.emitSignal();
    if (flags.testFlag(InstrumentModification::MainInstrument))
        signalMainInstrumentChanged.emitSignal(mainInstrumentId());
}

}  // namespace Corvexis
