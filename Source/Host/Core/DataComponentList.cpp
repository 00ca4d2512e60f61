#include "Host/Core/DataComponentList.h"

#include "Host/Core/DataComponentRegistry.h"
#include "Host/Core/Log.h"
#include "Host/Core/Properties.h"

namespace Corvexis {

DataComponentList::DataComponentList(const DataComponentList& other)
{
    components_.reserve(other.components_.size());
    for (const auto& c : other.components_)
        components_.push_back(c->clone());
}

DataComponentList& DataComponentList::operator=(const DataComponentList& other)
{
    if (this != &other) {
        // Built aside first so that a clone that throws leaves this list unchanged.
        DataComponentList copy(other);
        components_ = std::move(copy.components_);
    }
    return *this;
}

DataComponentList::~DataComponentList() = default;

DataComponentBase* DataComponentList::add(std::unique_ptr<DataComponentBase> component)
{
    if (!component)
        return nullptr;
    components_.push_back(std::move(component));
    return components_.back().get();
}

bool DataComponentList::remove(const DataComponentBase* component)
{
    return removeIf([component](const DataComponentBase& c) { return &c == component; }) != 0;
}

DataComponentBase* DataComponentList::getById(const std::string& id) const
{
    for (const auto& c : components_) {
        if (c->id() == id)
            return c.get();
    }
    return nullptr;
}

std::vector<DataComponentBase*> DataComponentList::all() const
{
    std::vector<DataComponentBase*> result;
    result.reserve(components_.size());
    for (const auto& c : components_)
        result.push_back(c.get());
    return result;
}

void DataComponentList::configuration(Properties* p) const
{
    if (!p)
        return;
    for (const auto& c : components_)
        c->configuration(p->addSubProperties(c->id()));
}

void DataComponentList::configure(const Properties* p)
{
    if (!p)
        return;
    std::vector<std::unique_ptr<DataComponentBase>> loaded;
    for (const Properties* block : p->subProperties()) {
        std::unique_ptr<DataComponentBase> c = DataComponentRegistry::get().create(block->name());
        if (!c) {
            Log::log(Log::Level::Warning, "DataComponentList",
                     "Skipping data component of unknown type '" + block->name() + "'");
            continue;
        }
        c->configure(block);
        loaded.push_back(std::move(c));
    }
    components_ = std::move(loaded);
}

}  // namespace Corvexis
