#pragma once

#include <cstddef>
#include <initializer_list>
#include <vector>

#include "Host/Core/Data.h"

namespace Corvexis {

// An ordered list of borrowed data items (algorithm inputs, the contents of a compound item). The list
// never owns or deletes its items; null entries are never stored. Caller synchronises.
class DataList
{
public:
    DataList() = default;
    DataList(std::initializer_list<Data*> items);
    explicit DataList(const std::vector<Data*>& items);

    // Appends `item`; null is ignored. The same item may appear more than once.
    void add(Data* item);
    // Removes the first occurrence; false when absent.
    bool remove(const Data* item);
    void clear() { items_.clear(); }

    std::size_t size() const { return items_.size(); }
    bool empty() const { return items_.empty(); }
    // The item at `index`, or null when out of range.
    Data* operator[](std::size_t index) const { return index < items_.size() ? items_[index] : nullptr; }
    bool contains(const Data* item) const;
    const std::vector<Data*>& items() const { return items_; }
    std::vector<Data*>::const_iterator begin() const { return items_.begin(); }
    std::vector<Data*>::const_iterator end() const { return items_.end(); }

    // The items that are a T, in order.
    template <typename T>
    std::vector<T*> get() const
    {
        std::vector<T*> result;
        for (Data* d : items_) {
            if (auto* t = dynamic_cast<T*>(d))
                result.push_back(t);
        }
        return result;
    }
    // The first item that is a T, or null.
    template <typename T>
    T* first() const
    {
        for (Data* d : items_) {
            if (auto* t = dynamic_cast<T*>(d))
                return t;
        }
        return nullptr;
    }
    // The items whose kind() is `kind`, in order.
    std::vector<Data*> ofKind(Data::Kind kind) const;

private:
    std::vector<Data*> items_;
};

}  // namespace Corvexis
