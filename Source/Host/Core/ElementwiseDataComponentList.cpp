#include "Host/Core/ElementwiseDataComponentList.h"

#include "Host/Core/Properties.h"

namespace Corvexis {

DataComponentList& ElementwiseDataComponentList::append(DataComponentList list)
{
    lists_.push_back(std::move(list));
    return lists_.back();
}

DataComponentList& ElementwiseDataComponentList::insert(std::size_t index, DataComponentList list)
{
    if (index >= lists_.size())
        return append(std::move(list));
    return *lists_.insert(lists_.begin() + static_cast<std::ptrdiff_t>(index), std::move(list));
}

bool ElementwiseDataComponentList::erase(std::size_t index)
{
    if (index >= lists_.size())
        return false;
    lists_.erase(lists_.begin() + static_cast<std::ptrdiff_t>(index));
    return true;
}

void ElementwiseDataComponentList::configuration(Properties* p) const
{
    if (!p)
        return;
    for (const auto& list : lists_)
        list.configuration(p->addSubProperties("Element"));
}

void ElementwiseDataComponentList::configure(const Properties* p)
{
    if (!p)
        return;
    std::vector<DataComponentList> loaded;
    for (const Properties* block : p->subPropertiesList("Element")) {
        loaded.emplace_back();
        loaded.back().configure(block);
    }
    lists_ = std::move(loaded);
}

}  // namespace Corvexis
