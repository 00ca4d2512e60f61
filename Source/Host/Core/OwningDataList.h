#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "Host/Core/DataList.h"

namespace Corvexis {

// An ordered list of owned data items: what algorithms hand over as output and file readers return.
// Move-only; items are destroyed with the list unless taken out first. Caller synchronises.
class OwningDataList
{
public:
    OwningDataList() = default;
    explicit OwningDataList(std::unique_ptr<Data> item);
    OwningDataList(OwningDataList&&) noexcept = default;
    OwningDataList& operator=(OwningDataList&&) noexcept = default;
    OwningDataList(const OwningDataList&) = delete;
    OwningDataList& operator=(const OwningDataList&) = delete;
    ~OwningDataList();

    // Appends `item` and returns it; null is ignored and returns null.
    Data* add(std::unique_ptr<Data> item);
    // Moves every item of `other` to the end of this list.
    void append(OwningDataList&& other);

    std::size_t size() const { return items_.size(); }
    bool empty() const { return items_.empty(); }
    // The item at `index` (still owned by the list), or null when out of range.
    Data* operator[](std::size_t index) const
    {
        return index < items_.size() ? items_[index].get() : nullptr;
    }
    // A borrowed view of the items, valid while they stay in this list.
    DataList dataList() const;

    // Removes the item at `index` from the list and hands it over; null when out of range.
    std::unique_ptr<Data> take(std::size_t index);
    // Removes and hands over the first item that is a T; null when there is none.
    template <typename T>
    std::unique_ptr<T> takeFirst()
    {
        for (std::size_t i = 0; i < items_.size(); ++i) {
            if (dynamic_cast<T*>(items_[i].get()))
                return std::unique_ptr<T>(static_cast<T*>(take(i).release()));
        }
        return nullptr;
    }
    // Hands over every item, leaving the list empty.
    std::vector<std::unique_ptr<Data>> takeAll();
    void clear() { items_.clear(); }

private:
    std::vector<std::unique_ptr<Data>> items_;
};

}  // namespace Corvexis
