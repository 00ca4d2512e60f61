#pragma once

#include <functional>
#include <memory>

namespace Corvexis {

class Data;

// Calls a callable once when a data item is destroyed, unless the watch was destroyed first. A data
// item gives no other notice of its end: the watch attaches a small component to the item, and the
// item destroys its components after its own destructors ran, so the callable sees the item fully gone
// (only its address may be compared).
//
// Ownership: the watch owns the callable; the item owns the component, which outlives the watch as an
// inert entry when the watch goes first. Clones of the item get inert components.
//
// Threading: the callable runs on the thread that destroys the item. The watch's destructor may run on
// any thread; once it returned the callable is not running and never runs again (it waits for a running
// call, so the callable must not destroy its own watch). dataDeleted() is thread-safe.
class DataDeletionWatch
{
public:
    DataDeletionWatch(Data& data, std::function<void()> onDeleted);
    ~DataDeletionWatch();
    DataDeletionWatch(const DataDeletionWatch&) = delete;
    DataDeletionWatch& operator=(const DataDeletionWatch&) = delete;

    // True once the item was destroyed. Thread-safe.
    bool dataDeleted() const;

    // Shared between the watch and the component on the item.
    struct Link;

private:
    const std::shared_ptr<Link> link_;
};

}  // namespace Corvexis
