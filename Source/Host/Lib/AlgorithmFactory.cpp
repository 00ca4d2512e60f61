#include "Host/Lib/AlgorithmFactory.h"

#include <algorithm>

#include "Host/Core/Log.h"

namespace Corvexis {

AlgorithmFactory::AlgorithmFactory(std::string name) : name_(std::move(name)) {}

AlgorithmFactory::~AlgorithmFactory() = default;

bool AlgorithmFactory::registerAlgorithm(const std::string& id, const std::string& menuPath, Creator creator,
                                         int flags)
{
    if (id.empty() || !creator) {
        Log::log(Log::Level::Warning, "AlgorithmFactory",
                 "Refused to register an algorithm without identifier or creator in factory '" + name_ + "'");
        return false;
    }
    const std::string fullId = name_ + "." + id;
    std::lock_guard lock(mutex_);
    if (std::any_of(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.id == fullId; })) {
        Log::log(Log::Level::Warning, "AlgorithmFactory", "Algorithm '" + fullId + "' is already registered");
        return false;
    }
    entries_.push_back({fullId, menuPath, flags, std::move(creator)});
    return true;
}

std::vector<AlgorithmFactory::Entry> AlgorithmFactory::entries() const
{
    std::lock_guard lock(mutex_);
    return entries_;
}

std::optional<AlgorithmFactory::Entry> AlgorithmFactory::entry(const std::string& fullId) const
{
    std::lock_guard lock(mutex_);
    for (const auto& e : entries_) {
        if (e.id == fullId)
            return e;
    }
    return std::nullopt;
}

std::unique_ptr<Algorithm> AlgorithmFactory::create(const std::string& fullId, const DataList& inputs) const
{
    auto e = entry(fullId);
    // The creator runs without the lock: it may consult this factory.
    return e ? e->creator(inputs) : nullptr;
}

}  // namespace Corvexis
