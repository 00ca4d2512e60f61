#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <Eigen/Core>

#include "Host/Core/TrackerID.h"
#include "Host/Core/TrackingInstrument.h"
#include "Stream/Framework/InstrumentModification.h"

namespace Corvexis {

// The instrument registry of a tracking stream: instruments keyed by identifier, iterated in ascending
// byte-wise identifier order, plus the "main" instrument that consumers follow by default.
//
// Every operation is thread-safe and atomic (one registry lock). Operations that change something return
// the InstrumentModifications describing exactly their own effect, so that the caller can emit the
// matching signals after the lock is released; the registry itself emits nothing. Refusals are logged at
// error level under the category "ThreadSafeInstruments".
class ThreadSafeInstrumentsBase
{
public:
    using ModifyFunction = std::function<void(TrackingInstrument&)>;
    using ModifyAllFunction = std::function<void(const std::string& id, TrackingInstrument&)>;

    virtual ~ThreadSafeInstrumentsBase() = default;

    // Copies in identifier order. Thread-safe.
    virtual std::vector<TrackingInstrument> instruments() const = 0;
    // A copy of the main instrument; empty when there is none. Thread-safe.
    virtual std::optional<TrackingInstrument> mainInstrument() const = 0;
    // Makes the instrument at `index` (identifier order) main. Thread-safe.
    virtual InstrumentModifications setMain(unsigned index) = 0;
    // Makes the instrument `id` main; the current main gives no flags. Thread-safe.
    virtual InstrumentModifications setMainById(const std::string& id) = 0;
    // Position of the main instrument in identifier order; 0 when there is none. Thread-safe.
    virtual unsigned mainIndex() const = 0;
    // "" when there is no main instrument. Thread-safe.
    virtual std::string mainId() const = 0;
    // The main instrument's name; "" when there is none. Thread-safe.
    virtual std::string mainName() const = 0;
    // Activation produces no flags. Thread-safe.
    virtual void setActive(const std::string& id, bool active) = 0;
    // False (and logged) for an unknown identifier. Thread-safe.
    virtual bool isActive(const std::string& id) const = 0;
    // Registers a new instrument with an identity pose; the first one becomes main. Thread-safe.
    virtual InstrumentModifications create(TrackerID id, bool active) = 0;
    // Registers an instrument whose identifier is `prefix` and the smallest free number 0, 1, 2...
    // Thread-safe.
    virtual InstrumentModifications createWithPrefix(const std::string& prefix, const std::string& name,
                                                     const std::string& modelNumber, bool active) = 0;
    // Removing the main instrument makes the first remaining one main. Thread-safe.
    virtual InstrumentModifications remove(const std::string& id) = 0;
    virtual InstrumentModifications clear() = 0;  // thread-safe
    // Resets every pose to identity, quality and status to 0 and the timestamp to `timestampMs`, so that
    // instruments not seen in a measurement report quality 0. Thread-safe.
    virtual InstrumentModifications prepareUpdate(std::uint64_t timestampMs) = 0;
    // Stores one measurement; PoseData whenever `id` is registered, nothing (and no log) otherwise.
    // Thread-safe.
    virtual InstrumentModifications update(const std::string& id, const Eigen::Matrix4d& pose, double quality,
                                           std::uint64_t timestampMs, int status) = 0;
    // Runs `f` on the stored instrument(s) under the registry lock and classifies the change: a new
    // identifier is refused and undone; name or model number give Instruments; matrix, quality,
    // timestamp or status give PoseData. `f` must not call back into the registry. Thread-safe.
    virtual InstrumentModifications modify(const std::string& id, const ModifyFunction& f) = 0;
    virtual InstrumentModifications modifyAll(const ModifyAllFunction& f) = 0;
    virtual size_t size() const = 0;                                              // thread-safe
    virtual std::optional<TrackingInstrument> find(const std::string& id) const = 0;  // thread-safe
};

}  // namespace Corvexis
