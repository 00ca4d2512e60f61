#include "Host/Core/OwningDataList.h"

namespace Corvexis {

OwningDataList::OwningDataList(std::unique_ptr<Data> item)
{
    add(std::move(item));
}

OwningDataList::~OwningDataList() = default;

Data* OwningDataList::add(std::unique_ptr<Data> item)
{
    if (!item)
        return nullptr;
    items_.push_back(std::move(item));
    return items_.back().get();
}

void OwningDataList::append(OwningDataList&& other)
{
    if (&other == this)
        return;
    for (auto& item : other.items_)
        items_.push_back(std::move(item));
    other.items_.clear();
}

DataList OwningDataList::dataList() const
{
    DataList list;
    for (const auto& item : items_)
        list.add(item.get());
    return list;
}

std::unique_ptr<Data> OwningDataList::take(std::size_t index)
{
    if (index >= items_.size())
        return nullptr;
    std::unique_ptr<Data> item = std::move(items_[index]);
    items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(index));
    return item;
}

std::vector<std::unique_ptr<Data>> OwningDataList::takeAll()
{
    std::vector<std::unique_ptr<Data>> items = std::move(items_);
    items_.clear();
    return items;
}

}  // namespace Corvexis
