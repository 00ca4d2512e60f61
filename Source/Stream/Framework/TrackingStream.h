#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Host/Core/Signal.h"
#include "Host/Core/TrackingInstrument.h"
#include "Stream/Framework/InstrumentModification.h"
#include "Stream/Framework/Stream.h"
#include "Stream/Framework/ThreadSafeInstrumentsBase.h"

namespace Corvexis {

class TrackingStreamData;

// A stream of instrument poses. Adds to Stream an instrument registry (shared by the device thread and
// the user interface), a main instrument, per-instrument activation and renaming, and the emission of a
// TrackingStreamData record whenever poses change.
//
// Subclasses feed the registry from their device (usually in doWork) and pass the returned flags to
// emitSignals(). Older subclasses that keep their own list override devices() and leave the registry
// empty; the main-instrument, activation and renaming operations then refuse with an error.
//
// Threading: every public operation is thread-safe (the registry locks itself). Signals are emitted on
// the thread whose operation caused them, never under the registry lock; setInstrumentName or
// setMainInstrumentById called from the user interface therefore emit there.
class TrackingStream : public Stream
{
public:
    explicit TrackingStream(const std::string& name);
    ~TrackingStream() override;

    Kind kind() const override { return Kind::TrackingStream; }

    // The legacy instrument list; by default the registry's instruments. Thread-safe.
    virtual std::vector<TrackingInstrument> devices() const;
    // The registry's instruments in identifier order, or devices() when the registry is empty.
    // Thread-safe.
    virtual std::vector<TrackingInstrument> instruments() const;
    // Those of instruments() that are active. Thread-safe.
    virtual std::vector<TrackingInstrument> activeInstruments() const;
    // The number of active instruments, or of all (the registry's, else devices()'). Thread-safe.
    virtual std::size_t numInstruments(bool onlyActive) const;
    virtual bool supportsMainInstrumentSelection() const { return true; }
    virtual bool supportsInstrumentRenaming() const { return true; }

    // The registry's copy of instrument `id`. Thread-safe.
    std::optional<TrackingInstrument> queryInstrument(const std::string& id) const;
    // Thread-safe; emits nothing (activation is not an instrument change).
    void setInstrumentActive(const std::string& id, bool active);
    // False, logged under "TrackingStream", when the stream has no instrument `id`. Thread-safe.
    bool isInstrumentActive(const std::string& id) const;
    // Renames and emits the resulting signals on the calling thread; returns the flags emitted.
    // Thread-safe.
    InstrumentModifications setInstrumentName(const std::string& id, const std::string& name);
    // Selects the main instrument by position in identifier order, or by identifier, and emits
    // signalMainInstrumentChanged when it changed; returns the flags emitted. Thread-safe.
    InstrumentModifications setMainInstrument(unsigned index);
    InstrumentModifications setMainInstrumentById(const std::string& id);
    std::string mainInstrumentId() const;    // "" when none; thread-safe
    unsigned mainInstrumentIndex() const;    // thread-safe
    std::string mainInstrumentName() const;  // "" when none; thread-safe

    // "<n> instruments (<k> active) | " before the Stream description when there are instruments.
    // Thread-safe.
    std::string describe() const override;

    // The instrument set, or an instrument's name or model number, changed. Emitted on the thread whose
    // operation changed it.
    Signal<> signalInstrumentsChanged;
    // The new main identifier ("" when none). Emitted on the thread whose operation changed it.
    Signal<const std::string&> signalMainInstrumentChanged;

protected:
    // For subclasses that keep a per-instrument object: `registry` replaces the default one (must not be
    // null).
    TrackingStream(const std::string& name, std::unique_ptr<ThreadSafeInstrumentsBase> registry);

    // The registry; lives as long as the stream. Thread-safe (it locks itself).
    ThreadSafeInstrumentsBase& registry() { return *registry_; }
    const ThreadSafeInstrumentsBase& registry() const { return *registry_; }

    // Emits, in this order: signalInstrumentsChanged for Instruments, signalMainInstrumentChanged for
    // MainInstrument, and a createTrackingStreamData() record on signalStreamData for PoseData. On the
    // calling thread; call it without holding a lock the receivers might need.
    void emitSignals(const InstrumentModifications& flags);
    // A record of instruments() stamped with the arrival time now. Thread-safe.
    virtual std::unique_ptr<TrackingStreamData> createTrackingStreamData();

private:
    // True (after logging "<operation> function is not supported by the old interface!") when the stream
    // reports instruments through devices() only.
    bool refusedByLegacyInterface(const char* operation) const;

    const std::unique_ptr<ThreadSafeInstrumentsBase> registry_;
};

}  // namespace Corvexis
