#include "Stream/Framework/ThreadSafeSharedImage.h"

#include "Host/GL/ContextManager.h"

namespace Corvexis {

ThreadSafeSharedImage::~ThreadSafeSharedImage()
{
    if (hasGl())
        GL::ContextManager::runWithOpenGL([this] { makeExclusive(Image::Location::Memory); });
}

std::unique_ptr<SharedImage> ThreadSafeSharedImage::clone(CloneOptions options) const
{
    std::lock_guard lock(mutex_);
    return std::make_unique<ThreadSafeSharedImage>(static_cast<const SharedImage&>(*this), options);
}

void ThreadSafeSharedImage::syncImpl(Image::Location location) const
{
    std::lock_guard lock(mutex_);
    SharedImage::syncImpl(location);
}

}  // namespace Corvexis
