#pragma once

#include <cstddef>
#include <mutex>
#include <vector>

#include "Host/Core/DataList.h"

namespace Corvexis {

// The part of a data item that contains other data items, for example a stream group and its
// substreams. It is a mix-in, not a Data itself: the compound item derives from Data (through Stream,
// say) and from CompoundData, so it holds exactly one Data base. Find it with
// dynamic_cast<CompoundData*>(data).
//
// The contents are borrowed; whoever owns them keeps them alive while they are listed. The contents are
// added on one thread (the user interface) and listed on others (a group's worker), so the operations
// here are thread-safe; mutex_ guards contents_.
class CompoundData
{
public:
    virtual ~CompoundData();

    // The contained items, in insertion order. Subclasses may compute it instead. Thread-safe.
    virtual DataList containedData() const;

    // Appends `item` unless it is null or already contained; false then. Thread-safe.
    bool addContent(Data* item);
    // Removes `item`; false when it is not contained. Thread-safe.
    bool removeContent(const Data* item);
    bool containsContent(const Data* item) const;  // thread-safe
    std::size_t contentCount() const;              // thread-safe

protected:
    CompoundData() = default;
    // Copies and moves take the other's contents under its lock (groups are movable).
    CompoundData(const CompoundData& other);
    CompoundData(CompoundData&& other) noexcept;
    CompoundData& operator=(const CompoundData& other);
    CompoundData& operator=(CompoundData&& other) noexcept;

private:
    mutable std::mutex mutex_;
    // guarded by mutex_
    std::vector<Data*> contents_;
};

}  // namespace Corvexis
