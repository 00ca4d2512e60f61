#include "Stream/Framework/StreamSharedImageSet.h"

#include <utility>

#include "Stream/Framework/ImageStreamCache.h"

namespace Corvexis {

StreamSharedImageSet::StreamSharedImageSet(const StreamSharedImageSet& other)
    : cache_(other.cache_), set_(other.set_)
{
    if (cache_ && set_)
        cache_->addUse(set_.get());
}

StreamSharedImageSet::StreamSharedImageSet(StreamSharedImageSet&& other) noexcept
    : cache_(std::exchange(other.cache_, nullptr)), set_(std::move(other.set_))
{
}

StreamSharedImageSet& StreamSharedImageSet::operator=(const StreamSharedImageSet& other)
{
    if (this != &other) {
        // Count the new use first, so that assigning a handle of the same set never detaches it.
        if (other.cache_ && other.set_)
            other.cache_->addUse(other.set_.get());
        reset();
        cache_ = other.cache_;
        set_ = other.set_;
    }
    return *this;
}

StreamSharedImageSet& StreamSharedImageSet::operator=(StreamSharedImageSet&& other) noexcept
{
    if (this != &other) {
        reset();
        cache_ = std::exchange(other.cache_, nullptr);
        set_ = std::move(other.set_);
    }
    return *this;
}

StreamSharedImageSet::~StreamSharedImageSet()
{
    reset();
}

void StreamSharedImageSet::reset()
{
    if (cache_ && set_)
        cache_->releaseUse(set_.get());
    cache_ = nullptr;
    set_.reset();
}

}  // namespace Corvexis
