#include "Host/Core/DataDeletionWatch.h"

#include <mutex>
#include <string>
#include <utility>

#include "Host/Core/Data.h"
#include "Host/Core/DataComponentBase.h"

namespace Corvexis {

// The lock makes the item's destruction and the watch's destruction (possibly on two threads) exclude
// each other.
struct DataDeletionWatch::Link
{
    mutable std::mutex mutex;
    // guarded by mutex
    std::function<void()> onDeleted;
    bool deleted = false;
};

namespace {

class DeletionNotifier : public DataComponentBase
{
public:
    explicit DeletionNotifier(std::shared_ptr<DataDeletionWatch::Link> link) : link_(std::move(link)) {}
    ~DeletionNotifier() override
    {
        if (!link_)
            return;
        std::lock_guard lock(link_->mutex);
        link_->deleted = true;
        if (auto f = std::exchange(link_->onDeleted, nullptr))
            f();
    }
    // A clone watches nothing: the watch follows the original item only.
    std::unique_ptr<DataComponentBase> clone() const override
    {
        return std::make_unique<DeletionNotifier>(nullptr);
    }
    std::string id() const override { return "DataDeletionWatch"; }

private:
    const std::shared_ptr<DataDeletionWatch::Link> link_;
};

}  // namespace

DataDeletionWatch::DataDeletionWatch(Data& data, std::function<void()> onDeleted)
    : link_(std::make_shared<Link>())
{
    link_->onDeleted = std::move(onDeleted);
    data.components().add(std::make_unique<DeletionNotifier>(link_));
}

DataDeletionWatch::~DataDeletionWatch()
{
    std::lock_guard lock(link_->mutex);
    link_->onDeleted = nullptr;
}

bool DataDeletionWatch::dataDeleted() const
{
    std::lock_guard lock(link_->mutex);
    return link_->deleted;
}

}  // namespace Corvexis
