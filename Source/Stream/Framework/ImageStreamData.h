#pragma once

#include <memory>
#include <vector>

#include "Host/Core/ElementwiseDataComponentData.h"
#include "Stream/Framework/StreamData.h"
#include "Stream/Framework/ThreadSafeSharedImage.h"

namespace Corvexis {

class MemImage;
class SharedImageSet;

// A record of one or more images (for example the frames of several probes of one device), each with its
// own per-image data components. Copies of a record share the very same image objects; consumers must
// not change pixels of an emitted record. Caller synchronises while building; read-only once emitted.
class ImageStreamData : public StreamData, public ElementwiseDataComponentData
{
public:
    explicit ImageStreamData(Stream* stream);
    // Takes the image over.
    ImageStreamData(Stream* stream, std::unique_ptr<SharedImage>&& image);
    // Store a shallow copy (shared pixels) of the image.
    ImageStreamData(Stream* stream, const std::shared_ptr<SharedImage>& image);
    ImageStreamData(Stream* stream, const std::shared_ptr<const SharedImage>& image);
    // Stores a deep copy of the main-memory image.
    ImageStreamData(Stream* stream, MemImage* image);
    // Takes over the set's components; stores shallow copies of its images and its per-image components.
    ImageStreamData(Stream* stream, SharedImageSet&& set);
    ImageStreamData(const ImageStreamData& other);
    ~ImageStreamData() override;

    // Same stream and timestamps, the same image objects, copies of the components.
    std::unique_ptr<StreamData> clone() const override;

    // Replaces the images by shallow copies of the set's, and the components by copies of the set's.
    virtual void setImageSet(const SharedImageSet& set);
    // Replaces the images by shallow copies of the given ones.
    virtual void setImages(const std::vector<std::shared_ptr<const SharedImage>>& images);
    // The stored images (shared, not copied).
    virtual std::vector<std::shared_ptr<const SharedImage>> images() const;

    size_t size() const { return images_.size(); }
    std::vector<std::shared_ptr<const SharedImage>> images2() const { return images(); }
    bool containsGlImage() const;
    // A new set of shallow clones of the images, with copies of the components (no timestamps).
    std::shared_ptr<SharedImageSet> shallowCloneToSharedImageSet() const;

private:
    void addShallowCopy(const SharedImage* image);
    void takeSetContents(const SharedImageSet& set);

    std::vector<std::shared_ptr<ThreadSafeSharedImage>> images_;
};

}  // namespace Corvexis
