#pragma once

#include "Host/Core/Flags.h"

namespace Corvexis {

// What a registry operation changed; TrackingStream::emitSignals turns each flag into its signal.
enum class InstrumentModification : unsigned
{
    // Matrix, quality, timestamp or status of an instrument: a new record is emitted.
    PoseData = 1,
    // The main instrument: signalMainInstrumentChanged.
    MainInstrument = 2,
    // The instrument set, or an instrument's name or model number: signalInstrumentsChanged.
    Instruments = 4,
};

using InstrumentModifications = Flags<InstrumentModification>;

// Lets `InstrumentModification::PoseData | InstrumentModification::Instruments` build a set.
constexpr InstrumentModifications operator|(InstrumentModification a, InstrumentModification b)
{
    return InstrumentModifications(a) | InstrumentModifications(b);
}

}  // namespace Corvexis
