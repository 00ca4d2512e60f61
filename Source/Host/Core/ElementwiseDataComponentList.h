#pragma once

#include <cstddef>
#include <vector>

#include "Host/Core/DataComponentList.h"

namespace Corvexis {

// One DataComponentList per element (frame) of a container, index-aligned with its elements. Copying
// clones every component of every element. Caller synchronises.
class ElementwiseDataComponentList
{
public:
    ElementwiseDataComponentList() = default;
    explicit ElementwiseDataComponentList(std::size_t count) : lists_(count) {}

    std::size_t size() const { return lists_.size(); }
    bool empty() const { return lists_.empty(); }
    // Grows with empty lists or drops the trailing ones.
    void resize(std::size_t count) { lists_.resize(count); }
    void clear() { lists_.clear(); }

    // The list of element `index`; precondition index < size().
    DataComponentList& operator[](std::size_t index) { return lists_[index]; }
    const DataComponentList& operator[](std::size_t index) const { return lists_[index]; }
    // The list of element `index`, or null when out of range.
    DataComponentList* at(std::size_t index) { return index < lists_.size() ? &lists_[index] : nullptr; }
    const DataComponentList* at(std::size_t index) const
    {
        return index < lists_.size() ? &lists_[index] : nullptr;
    }

    // Appends the list of a new last element and returns it.
    DataComponentList& append(DataComponentList list = {});
    // Inserts before `index` (appends when index >= size()).
    DataComponentList& insert(std::size_t index, DataComponentList list = {});
    // Removes element `index`; false when out of range.
    bool erase(std::size_t index);

    std::vector<DataComponentList>::iterator begin() { return lists_.begin(); }
    std::vector<DataComponentList>::iterator end() { return lists_.end(); }
    std::vector<DataComponentList>::const_iterator begin() const { return lists_.begin(); }
    std::vector<DataComponentList>::const_iterator end() const { return lists_.end(); }

    // One sub-block "Element" per element, each holding that element's components.
    void configuration(Properties* p) const;
    // Replaces every element by the "Element" sub-blocks of `p`. Null does nothing.
    void configure(const Properties* p);

private:
    std::vector<DataComponentList> lists_;
};

}  // namespace Corvexis
