#include "Stream/Framework/TrackingStream.h"

#include <algorithm>
#include <chrono>
#include <utility>

#include "Host/Core/Log.h"
#include "Stream/Framework/ThreadSafeInstruments.h"
#include "Stream/Framework/TrackingStreamData.h"

namespace Corvexis {

namespace {

constexpr const char* kCategory = "TrackingStream";

void logError(const std::string& text)
{
    Log::log(Log::Level::Error, kCategory, text);
}

}  // namespace

TrackingStream::TrackingStream(const std::string& name)
    : TrackingStream(name, std::make_unique<ThreadSafeInstruments<UnusedSpecial>>())
{
}

TrackingStream::TrackingStream(const std::string& name, std::unique_ptr<ThreadSafeInstrumentsBase> registry)
    : Stream(name), registry_(registry ? std::move(registry) : std::make_unique<ThreadSafeInstruments<UnusedSpecial>>())
{
}

TrackingStream::~TrackingStream() = default;

std::vector<TrackingInstrument> TrackingStream::devices() const
{
    return registry_->instruments();
}

std::vector<TrackingInstrument> TrackingStream::instruments() const
{
    auto result = registry_->instruments();
    return result.empty() ? devices() : result;
}

std::vector<TrackingInstrument> TrackingStream::activeInstruments() const
{
    auto all = instruments();
    std::erase_if(all, [](const TrackingInstrument& t) { return !t.active; });
    return all;
}

std::size_t TrackingStream::numInstruments(bool onlyActive) const
{
    if (onlyActive)
        return activeInstruments().size();
    const std::size_t registered = registry_->size();
    return registered != 0 ? registered : devices().size();
}

std::optional<TrackingInstrument> TrackingStream::queryInstrument(const std::string& id) const
{
    return registry_->find(id);
}

void TrackingStream::setInstrumentActive(const std::string& id, bool active)
{
    if (refusedByLegacyInterface("setInstrumentActive"))
        return;
    registry_->setActive(id, active);
}

bool TrackingStream::isInstrumentActive(const std::string& id) const
{
    if (auto registered = registry_->find(id))
        return registered->active;
    // Legacy streams answer from their own list.
    for (const TrackingInstrument& t : instruments()) {
        if (t.id.ID() == id)
            return t.active;
    }
    logError("Instrument with ID " + id + " not found");
    return false;
}

InstrumentModifications TrackingStream::setInstrumentName(const std::string& id, const std::string& name)
{
    if (refusedByLegacyInterface("setInstrumentName"))
        return {};
    if (!supportsInstrumentRenaming()) {
        logError("Cannot set instrument name. Tracking stream does not support instrument renaming.");
        return {};
    }
    const auto flags = registry_->modify(id, [&name](TrackingInstrument& t) { t.id.setName(name); });
    emitSignals(flags);
    return flags;
}

InstrumentModifications TrackingStream::setMainInstrument(unsigned index)
{
    if (refusedByLegacyInterface("setMainInstrument"))
        return {};
    if (!supportsMainInstrumentSelection()) {
        logError("Cannot select main instrument. Tracking stream does not support main instrument selection.");
        return {};
    }
    const auto flags = registry_->setMain(index);
    emitSignals(flags);
    return flags;
}

InstrumentModifications TrackingStream::setMainInstrumentById(const std::string& id)
{
    if (refusedByLegacyInterface("setMainInstrumentById"))
        return {};
    if (!supportsMainInstrumentSelection()) {
        logError("Cannot select main instrument. Tracking stream does not support main instrument selection.");
        return {};
    }
    const auto flags = registry_->setMainById(id);
    emitSignals(flags);
    return flags;
}

std::string TrackingStream::mainInstrumentId() const
{
    if (refusedByLegacyInterface("mainInstrumentId"))
        return {};
    return registry_->mainId();
}

unsigned TrackingStream::mainInstrumentIndex() const
{
    if (refusedByLegacyInterface("mainInstrumentIndex"))
        return 0;
    return registry_->mainIndex();
}

std::string TrackingStream::mainInstrumentName() const
{
    if (refusedByLegacyInterface("mainInstrumentName"))
        return {};
    return registry_->mainName();
}

std::string TrackingStream::describe() const
{
    const auto all = instruments();
    if (all.empty())
        return Stream::describe();
    const auto active = std::count_if(all.begin(), all.end(), [](const TrackingInstrument& t) { return t.active; });
    return std::to_string(all.size()) + " instruments (" + std::to_string(active) + " active) | " +
           Stream::describe();
}

void TrackingStream::emitSignals(const InstrumentModifications& flags)
{
    if (flags.testFlag(InstrumentModification::Instruments))
        signalInstrumentsChanged.emitSignal();
    if (flags.testFlag(InstrumentModification::MainInstrument))
        signalMainInstrumentChanged.emitSignal(registry_->mainId());
    if (flags.testFlag(InstrumentModification::PoseData)) {
        std::shared_ptr<const StreamData> record = createTrackingStreamData();
        signalStreamData.emitSignal(record);
    }
}

std::unique_ptr<TrackingStreamData> TrackingStream::createTrackingStreamData()
{
    auto record = std::make_unique<TrackingStreamData>(this, instruments());
    record->setTimestampArrival(std::chrono::system_clock::now());
    return record;
}

bool TrackingStream::refusedByLegacyInterface(const char* operation) const
{
    if (registry_->size() != 0 || devices().empty())
        return false;
    logError(std::string(operation) + " function is not supported by the old interface!");
    return true;
}

}  // namespace Corvexis
