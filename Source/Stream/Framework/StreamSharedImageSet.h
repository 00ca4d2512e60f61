#pragma once

#include <memory>

namespace Corvexis {

class ImageStreamCache;
class SharedImageSet;

// A counted handle on the image set that ImageStreamCache shows for one image stream. Copies count as
// uses; when the last handle of a stream goes, the cache detaches from the stream. The handle keeps the
// set object alive, so image() stays valid even when the stream was deleted first (the set then simply
// stops changing). Default-constructed handles hold nothing.
//
// Threading: one handle object is caller synchronises; handles of the same set may be copied and
// destroyed on different threads (the cache counts under its mutex).
class StreamSharedImageSet
{
public:
    StreamSharedImageSet() = default;
    StreamSharedImageSet(const StreamSharedImageSet& other);
    StreamSharedImageSet(StreamSharedImageSet&& other) noexcept;
    StreamSharedImageSet& operator=(const StreamSharedImageSet& other);
    StreamSharedImageSet& operator=(StreamSharedImageSet&& other) noexcept;
    ~StreamSharedImageSet();

    // The set, or null for an empty handle. The set is changed on the cache's thread (user interface).
    SharedImageSet* image() const { return set_.get(); }
    explicit operator bool() const { return set_ != nullptr; }

    // Drops this handle's use now.
    void reset();

private:
    friend class ImageStreamCache;
    // Takes over one use that the cache already counted.
    StreamSharedImageSet(ImageStreamCache* cache, std::shared_ptr<SharedImageSet> set)
        : cache_(cache), set_(std::move(set))
    {
    }

    ImageStreamCache* cache_ = nullptr;
    std::shared_ptr<SharedImageSet> set_;
};

}  // namespace Corvexis
