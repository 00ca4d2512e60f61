#include "Stream/StreamAlgorithmBase.h"

#include "Host/Core/DataComponentBase.h"
#include "Stream/Stream.h"

namespace Corvexis {

// The algorithm side of the tie between an algorithm and the stream it handed over. The lock makes the
// algorithm's destruction and the stream's destruction (possibly on two threads) exclude each other.
struct StreamAlgorithmBase::DestructionLink
{
    std::mutex mutex;
    // guarded by mutex
    StreamAlgorithmBase* algorithm = nullptr;
};

namespace {

// Attached to a handed-over stream: a data component is destroyed with its data item, which is the
// only notice a stream gives of its end. Copies (clones) are inert.
class StreamDestructionNotifier : public DataComponentBase
{
public:
    explicit StreamDestructionNotifier(std::shared_ptr<StreamAlgorithmBase::DestructionLink> link)
        : link_(std::move(link))
    {
    }
    ~StreamDestructionNotifier() override
    {
        if (!link_)
            return;
        std::lock_guard lock(link_->mutex);
        if (link_->algorithm != nullptr)
            link_->algorithm->resetStream();
        link_->algorithm = nullptr;
    }
    std::unique_ptr<DataComponentBase> clone() const override
    {
        return std::make_unique<StreamDestructionNotifier>(nullptr);
    }
    std::string id() const override { return "StreamDestructionNotifier"; }

private:
    std::shared_ptr<StreamAlgorithmBase::DestructionLink> link_;
};

}  // namespace

StreamAlgorithmBase::StreamAlgorithmBase() = default;

StreamAlgorithmBase::~StreamAlgorithmBase()
{
    disconnectAll();
    detachLink();
}

void StreamAlgorithmBase::detachLink()
{
    std::shared_ptr<DestructionLink> link;
    {
        std::lock_guard lock(mutex_);
        link = std::move(link_);
    }
    if (link) {
        std::lock_guard lock(link->mutex);
        link->algorithm = nullptr;
    }
}

OwningDataList StreamAlgorithmBase::takeOutput()
{
    {
        std::lock_guard lock(mutex_);
        if (outputTaken_)
            return {};
    }
    std::unique_ptr<Stream> produced = releaseStream();
    if (!produced)
        return {};
    auto link = std::make_shared<DestructionLink>();
    link->algorithm = this;
    produced->components().add(std::make_unique<StreamDestructionNotifier>(link));
    {
        std::lock_guard lock(mutex_);
        outputTaken_ = true;
        link_ = std::move(link);
    }
    return OwningDataList(std::move(produced));
}

bool StreamAlgorithmBase::isOutputTaken() const
{
    std::lock_guard lock(mutex_);
    return outputTaken_;
}

void StreamAlgorithmBase::clearOutputTaken()
{
    detachLink();
    std::lock_guard lock(mutex_);
    outputTaken_ = false;
}

}  // namespace Corvexis
