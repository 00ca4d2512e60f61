#include "Stream/Framework/StreamAlgorithmBase.h"

#include "Host/Core/DataDeletionWatch.h"
#include "Stream/Framework/Stream.h"

namespace Corvexis {

StreamAlgorithmBase::StreamAlgorithmBase() = default;

StreamAlgorithmBase::~StreamAlgorithmBase()
{
    disconnectAll();
    detachLink();
}

void StreamAlgorithmBase::detachLink()
{
    std::unique_ptr<DataDeletionWatch> watch;
    {
        std::lock_guard lock(mutex_);
        watch = std::move(watch_);
    }
    // Outside mutex_: the destruction waits for a running resetStream(), which may take it.
    watch.reset();
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
    auto watch = std::make_unique<DataDeletionWatch>(*produced, [this] { resetStream(); });
    {
        std::lock_guard lock(mutex_);
        outputTaken_ = true;
        watch_ = std::move(watch);
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
