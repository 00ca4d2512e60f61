#pragma once

#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "Stream/Framework/ThreadSafeInstrumentsBase.h"

namespace Corvexis {

// The per-instrument object of registries whose devices keep none.
struct UnusedSpecial
{
};

namespace ThreadSafeInstrumentsDetail {

// Compares an instrument after a caller's change with its state before. A changed identifier is undone
// (`after` becomes `before`) and *refused is set; otherwise name or model number give Instruments and
// matrix, quality, timestamp or status give PoseData.
InstrumentModifications classifyChange(const TrackingInstrument& before, TrackingInstrument& after,
                                       bool* refused);
// Logs at error level under "ThreadSafeInstruments". Thread-safe.
void logError(const std::string& text);
// The refusal logged when a callable changed an identifier.
void logIdentifierRefused();

}  // namespace ThreadSafeInstrumentsDetail

// The registry, with one optional owned `Special` object per instrument (a simulated device, for
// instance). Special objects are created by the caller, owned by the registry, destroyed with their
// instrument, and only reached under the registry lock through the *WithSpecial and visit operations.
// Every operation is thread-safe; callables run under the registry lock and must not call back into it.
template <typename Special>
class ThreadSafeInstruments final : public ThreadSafeInstrumentsBase
{
public:
    using ModifySpecialFunction = std::function<void(TrackingInstrument&, Special*)>;
    using ModifyAllSpecialFunction = std::function<void(const std::string& id, TrackingInstrument&, Special*)>;
    using VisitFunction = std::function<void(const TrackingInstrument&, const Special*)>;

    ThreadSafeInstruments() = default;
    ThreadSafeInstruments(const ThreadSafeInstruments&) = delete;
    ThreadSafeInstruments& operator=(const ThreadSafeInstruments&) = delete;

    std::vector<TrackingInstrument> instruments() const override
    {
        std::lock_guard lock(mutex_);
        std::vector<TrackingInstrument> result;
        result.reserve(entries_.size());
        for (const auto& [id, entry] : entries_)
            result.push_back(entry.instrument);
        return result;
    }

    std::optional<TrackingInstrument> mainInstrument() const override
    {
        std::lock_guard lock(mutex_);
        const auto it = entries_.find(mainId_);
        if (mainId_.empty() || it == entries_.end())
            return std::nullopt;
        return it->second.instrument;
    }

    InstrumentModifications setMain(unsigned index) override
    {
        {
            std::lock_guard lock(mutex_);
            if (index < entries_.size())
                return setMainLocked(std::next(entries_.begin(), index)->first);
        }
        ThreadSafeInstrumentsDetail::logError("Index " + std::to_string(index) + " exceeds size of instruments");
        return {};
    }

    InstrumentModifications setMainById(const std::string& id) override
    {
        {
            std::lock_guard lock(mutex_);
            if (!mainId_.empty() && id == mainId_)
                return {};
            if (entries_.contains(id))
                return setMainLocked(id);
        }
        ThreadSafeInstrumentsDetail::logError("setMainById: Instrument with ID " + id + " not found");
        return {};
    }

    unsigned mainIndex() const override
    {
        std::lock_guard lock(mutex_);
        return mainIndex_;
    }
    std::string mainId() const override
    {
        std::lock_guard lock(mutex_);
        return mainId_;
    }
    std::string mainName() const override
    {
        std::lock_guard lock(mutex_);
        const auto it = entries_.find(mainId_);
        return mainId_.empty() || it == entries_.end() ? std::string() : it->second.instrument.id.name();
    }

    void setActive(const std::string& id, bool active) override
    {
        {
            std::lock_guard lock(mutex_);
            const auto it = entries_.find(id);
            if (it != entries_.end()) {
                it->second.instrument.active = active;
                return;
            }
        }
        ThreadSafeInstrumentsDetail::logError("setActive: Instrument with ID " + id + " not found");
    }

    bool isActive(const std::string& id) const override
    {
        {
            std::lock_guard lock(mutex_);
            const auto it = entries_.find(id);
            if (it != entries_.end())
                return it->second.instrument.active;
        }
        ThreadSafeInstrumentsDetail::logError("isActive: Instrument with ID " + id + " not found");
        return false;
    }

    InstrumentModifications create(TrackerID id, bool active) override
    {
        return create(std::move(id), active, nullptr);
    }
    // As create(id, active), and the registry takes `special` over (may be null).
    InstrumentModifications create(TrackerID id, bool active, std::unique_ptr<Special> special)
    {
        const std::string key = id.ID();
        {
            std::lock_guard lock(mutex_);
            if (!entries_.contains(key))
                return insertLocked(std::move(id), active, std::move(special));
        }
        ThreadSafeInstrumentsDetail::logError("create: Instrument with ID " + key + " already exists");
        return {};
    }

    InstrumentModifications createWithPrefix(const std::string& prefix, const std::string& name,
                                             const std::string& modelNumber, bool active) override
    {
        return createWithPrefix(prefix, name, modelNumber, active, nullptr);
    }
    // As above, taking `special` over; *createdId (when given) receives the new identifier.
    InstrumentModifications createWithPrefix(const std::string& prefix, const std::string& name,
                                             const std::string& modelNumber, bool active,
                                             std::unique_ptr<Special> special, std::string* createdId = nullptr)
    {
        std::lock_guard lock(mutex_);
        // Numbers are tried in order, so a freed number is the next one handed out again.
        std::string id;
        for (unsigned long long n = 0;; ++n) {
            id = prefix + std::to_string(n);
            if (!entries_.contains(id))
                break;
        }
        if (createdId != nullptr)
            *createdId = id;
        return insertLocked(TrackerID(id, modelNumber, name), active, std::move(special));
    }

    InstrumentModifications remove(const std::string& id) override
    {
        {
            std::lock_guard lock(mutex_);
            const auto it = entries_.find(id);
            if (it != entries_.end()) {
                entries_.erase(it);
                InstrumentModifications flags = InstrumentModification::Instruments;
                if (id == mainId_)
                    flags |= setMainLocked(entries_.empty() ? std::string() : entries_.begin()->first);
                else
                    refreshMainIndexLocked();
                return flags;
            }
        }
        ThreadSafeInstrumentsDetail::logError("remove: Instrument with ID " + id + " not found");
        return {};
    }

    InstrumentModifications clear() override
    {
        std::map<std::string, Entry> removed;  // destroyed after the lock is released
        std::lock_guard lock(mutex_);
        if (entries_.empty())
            return {};
        removed.swap(entries_);
        return InstrumentModifications(InstrumentModification::Instruments) | setMainLocked({});
    }

    InstrumentModifications prepareUpdate(std::uint64_t timestampMs) override
    {
        std::lock_guard lock(mutex_);
        InstrumentModifications flags;
        for (auto& [id, entry] : entries_) {
            TrackingInstrument& t = entry.instrument;
            if (!t.matrix.isIdentity(0.0) || t.quality != 0.0 || t.status != 0 || t.timestamp != timestampMs)
                flags = InstrumentModification::PoseData;
            t.matrix.setIdentity();
            t.quality = 0.0;
            t.status = 0;
            t.timestamp = timestampMs;
        }
        return flags;
    }

    InstrumentModifications update(const std::string& id, const Eigen::Matrix4d& pose, double quality,
                                   std::uint64_t timestampMs, int status) override
    {
        std::lock_guard lock(mutex_);
        const auto it = entries_.find(id);
        if (it == entries_.end())
            return {};
        TrackingInstrument& t = it->second.instrument;
        t.matrix = pose;
        t.quality = quality;
        t.timestamp = timestampMs;
        t.status = status;
        return InstrumentModification::PoseData;
    }

    InstrumentModifications modify(const std::string& id, const ModifyFunction& f) override
    {
        return modifyWithSpecial(id, [&f](TrackingInstrument& t, Special*) { f(t); });
    }
    InstrumentModifications modifyAll(const ModifyAllFunction& f) override
    {
        return modifyAllWithSpecial([&f](const std::string& id, TrackingInstrument& t, Special*) { f(id, t); });
    }

    // As modify, with the instrument's special object (null when it has none). *found (when given) tells
    // whether `id` is registered.
    InstrumentModifications modifyWithSpecial(const std::string& id, const ModifySpecialFunction& f,
                                              bool* found = nullptr)
    {
        bool refused = false;
        InstrumentModifications flags;
        {
            std::lock_guard lock(mutex_);
            const auto it = entries_.find(id);
            if (found != nullptr)
                *found = it != entries_.end();
            if (it == entries_.end())
                return {};
            flags = modifyEntryLocked(it->second, f, &refused);
        }
        if (refused)
            ThreadSafeInstrumentsDetail::logIdentifierRefused();
        return flags;
    }

    // As modifyAll, with each instrument's special object; the flags of all instruments combined.
    InstrumentModifications modifyAllWithSpecial(const ModifyAllSpecialFunction& f)
    {
        bool refused = false;
        InstrumentModifications flags;
        {
            std::lock_guard lock(mutex_);
            for (auto& [id, entry] : entries_) {
                const std::string& key = id;
                flags |= modifyEntryLocked(
                    entry, [&](TrackingInstrument& t, Special* s) { f(key, t, s); }, &refused);
            }
        }
        if (refused)
            ThreadSafeInstrumentsDetail::logIdentifierRefused();
        return flags;
    }

    // Calls `f` with the instrument `id` and its special object, under the lock; false when `id` is not
    // registered.
    bool visit(const std::string& id, const VisitFunction& f) const
    {
        std::lock_guard lock(mutex_);
        const auto it = entries_.find(id);
        if (it == entries_.end())
            return false;
        f(it->second.instrument, it->second.special.get());
        return true;
    }
    // Calls `f` for every instrument in identifier order, under the lock.
    void visitAll(const VisitFunction& f) const
    {
        std::lock_guard lock(mutex_);
        for (const auto& [id, entry] : entries_)
            f(entry.instrument, entry.special.get());
    }

    size_t size() const override
    {
        std::lock_guard lock(mutex_);
        return entries_.size();
    }

    std::optional<TrackingInstrument> find(const std::string& id) const override
    {
        std::lock_guard lock(mutex_);
        const auto it = entries_.find(id);
        if (it == entries_.end())
            return std::nullopt;
        return it->second.instrument;
    }

private:
    struct Entry
    {
        TrackingInstrument instrument;
        std::unique_ptr<Special> special;
    };

    // Requires mutex_. A new instrument that is the only one becomes main.
    InstrumentModifications insertLocked(TrackerID id, bool active, std::unique_ptr<Special> special)
    {
        std::string key = id.ID();
        entries_.emplace(std::move(key), Entry{TrackingInstrument(std::move(id), active), std::move(special)});
        InstrumentModifications flags = InstrumentModification::Instruments;
        if (entries_.size() == 1)
            flags |= setMainLocked(entries_.begin()->first);
        else
            refreshMainIndexLocked();
        return flags;
    }

    // Requires mutex_. MainInstrument when the main identifier changed.
    InstrumentModifications setMainLocked(const std::string& id)
    {
        const bool changed = id != mainId_;
        mainId_ = id;
        refreshMainIndexLocked();
        return changed ? InstrumentModifications(InstrumentModification::MainInstrument)
                       : InstrumentModifications();
    }

    // Requires mutex_. Positions shift when instruments sort before the main one, so the index is
    // recomputed after every change of the set.
    void refreshMainIndexLocked()
    {
        const auto it = entries_.find(mainId_);
        mainIndex_ = mainId_.empty() || it == entries_.end()
                         ? 0u
                         : static_cast<unsigned>(std::distance(entries_.begin(), it));
    }

    // Requires mutex_. Runs `f` on a copy of the entry's instrument so that an exception leaves the
    // stored instrument untouched.
    InstrumentModifications modifyEntryLocked(Entry& entry, const ModifySpecialFunction& f, bool* refused)
    {
        TrackingInstrument changed = entry.instrument;
        f(changed, entry.special.get());
        const InstrumentModifications flags =
            ThreadSafeInstrumentsDetail::classifyChange(entry.instrument, changed, refused);
        entry.instrument = std::move(changed);
        return flags;
    }

    mutable std::mutex mutex_;
    // guarded by mutex_
    std::map<std::string, Entry> entries_;
    std::string mainId_;      // "" when there is no main instrument
    unsigned mainIndex_ = 0;  // position of mainId_ in identifier order
};

}  // namespace Corvexis
