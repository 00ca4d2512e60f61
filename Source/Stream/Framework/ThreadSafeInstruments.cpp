#include "Stream/Framework/ThreadSafeInstruments.h"

#include "Host/Core/Log.h"

namespace Corvexis::ThreadSafeInstrumentsDetail {

InstrumentModifications classifyChange(const TrackingInstrument& before, TrackingInstrument& after, bool* refused)
{
    if (after.id.ID() != before.id.ID()) {
        after = before;
        if (refused != nullptr)
            *refused = true;
        return {};
    }
    InstrumentModifications flags;
    if (after.id.name() != before.id.name() || after.id.modelNumber() != before.id.modelNumber())
        flags |= InstrumentModification::Instruments;
    // Exact comparison on purpose: any new measurement, however small the change, is news to consumers.
    if (after.timestamp != before.timestamp || after.matrix != before.matrix || after.quality != before.quality ||
        after.status != before.status)
        flags |= InstrumentModification::PoseData;
    return flags;
}

void logError(const std::string& text)
{
    Log::log(Log::Level::Error, "ThreadSafeInstruments", text);
}

void logIdentifierRefused()
{
    logError("ID must not be modified. TrackingInstrument is reset to state before modification");
}

}  // namespace Corvexis::ThreadSafeInstrumentsDetail
