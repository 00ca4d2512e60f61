#include "Host/Core/DataList.h"

#include <algorithm>

namespace Corvexis {

DataList::DataList(std::initializer_list<Data*> items)
{
    for (Data* d : items)
        add(d);
}

DataList::DataList(const std::vector<Data*>& items)
{
    for (Data* d : items)
        add(d);
}

void DataList::add(Data* item)
{
    if (item)
        items_.push_back(item);
}

bool DataList::remove(const Data* item)
{
    auto it = std::find(items_.begin(), items_.end(), item);
    if (it == items_.end())
        return false;
    items_.erase(it);
    return true;
}

bool DataList::contains(const Data* item) const
{
    return item && std::find(items_.begin(), items_.end(), item) != items_.end();
}

std::vector<Data*> DataList::ofKind(Data::Kind kind) const
{
    std::vector<Data*> result;
    for (Data* d : items_) {
        if (d->kind() == kind)
            result.push_back(d);
    }
    return result;
}

}  // namespace Corvexis
