#pragma once

#include <memory>
#include <mutex>

#include "Host/Lib/SharedImage.h"

namespace Corvexis {

// The image type of image records. Several consumers may ask for the same frame in different
// representations at once (the display on the graphics card, a recorder in main memory): the recursive
// mutex serialises representation updates and clones, so a frame is converted once. Thread-safe for
// syncImpl() and clone(); otherwise as SharedImage.
class ThreadSafeSharedImage : public SharedImage
{
public:
    using SharedImage::SharedImage;
    explicit ThreadSafeSharedImage(SharedImage&& image) : SharedImage(std::move(image)) {}
    ThreadSafeSharedImage(const SharedImage& image, CloneOptions options) : SharedImage(image, options) {}
    // Releases graphics resources with a current context, whichever thread drops the last reference.
    ~ThreadSafeSharedImage() override;

    // A new ThreadSafeSharedImage with a fresh mutex. Thread-safe.
    std::unique_ptr<SharedImage> clone(CloneOptions options = CloneOptions::Deep) const override;

protected:
    void syncImpl(Image::Location location) const override;

private:
    mutable std::recursive_mutex mutex_;
};

}  // namespace Corvexis
