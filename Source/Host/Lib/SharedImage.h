#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include <Eigen/Core>

#include "Host/Core/Data.h"
#include "Host/Core/DataComponentList.h"
#include "Host/Core/ImageDescriptor.h"
#include "Host/Lib/Image.h"

namespace Corvexis {

class GlImage;
class MemImage;

// An image with an optional main-memory representation (MemImage) and an optional graphics-card
// representation (GlImage), of one layout (ImageDescriptor), plus metadata: spacing, modality, a
// data-to-world matrix and data components.
//
// Representations are a cache: each one that exists is either up to date or stale, and at least one
// is up to date unless the image is empty. mem() and gl() bring the asked-for one up to date on demand
// through syncImpl(), the single place where pixels move between locations (a subclass may lock it, as
// the stream records' thread-safe image does). Whoever writes pixels directly through a representation
// says so with markChanged() or makeExclusive(), so the other one is refreshed on the next request.
//
// GL work runs in the calling thread's context or a borrowed one (GL::ContextManager::runWithOpenGL).
// Pixels written on the graphics card by another context must be fenced (GL::SyncObject) before they
// are read here.
//
// Threading: caller synchronises, with two exceptions. The representation requests (mem(), gl(),
// syncMem(), syncGl()) change nothing but the cache, and are safe to call concurrently when a subclass
// serialises syncImpl(); and the queries hasMem(), hasGl() and isUpToDate() are thread-safe.
class SharedImage
{
public:
    using CloneOptions = Image::CloneOptions;

    // Takes the image over as the only representation. A null image gives an empty SharedImage.
    explicit SharedImage(std::unique_ptr<MemImage> image);
    explicit SharedImage(std::unique_ptr<GlImage> image);
    // Allocates storage of `descriptor` at `location` (Memory: zero-filled; OpenGL: undefined). Any
    // other location, an invalid descriptor or unavailable OpenGL give an empty image and an error line.
    SharedImage(const ImageDescriptor& descriptor, Image::Location location);
    // A copy as `options` says (see Image::CloneOptions). Brings `other` up to date where the option
    // needs it, through other.syncImpl().
    SharedImage(const SharedImage& other, CloneOptions options);
    // A deep copy (CloneOptions::Deep).
    SharedImage(const SharedImage& other);
    // Takes over the representations and metadata; `other` is left empty.
    SharedImage(SharedImage&& other) noexcept;
    // Copies the pixels of `other` into the representations that already exist, keeping their storage
    // (main-memory buffer and texture name), so that whoever holds them sees the new pixels without
    // re-binding; every existing representation is then up to date. When the layouts differ, or this
    // image is empty, the representations are replaced by a deep copy of `other`. Metadata is copied.
    // Rvalues are copied the same way.
    SharedImage& operator=(const SharedImage& other);
    virtual ~SharedImage();

    // A new image copied from this one as `options` says; subclasses return their own type.
    virtual std::unique_ptr<SharedImage> clone(CloneOptions options = CloneOptions::Deep) const;

    // Layout and spacing. An empty image has a default (invalid) descriptor.
    const ImageDescriptor& descriptor() const { return descriptor_; }
    int width() const { return descriptor_.width; }
    int height() const { return descriptor_.height; }
    int slices() const { return descriptor_.slices; }
    int channels() const { return descriptor_.channels; }
    int pixelType() const { return descriptor_.pixelType; }
    bool isEmpty() const { return (state_.load() & (kMemExists | kGlExists)) == 0; }

    // Pixel spacing in millimetres, and whether it is a metric (calibrated) spacing or a nominal one.
    const Eigen::Vector3d& spacing() const { return descriptor_.spacing; }
    bool isMetric() const { return isMetric_; }
    // Sets the spacing of the image and its representations. Refuses (false, warning) values that are not
    // finite and positive.
    bool setSpacing(const Eigen::Vector3d& spacing, bool isMetric = true);

    Data::Modality modality() const { return modality_; }
    void setModality(Data::Modality modality) { modality_ = modality; }
    // Data-to-world transformation (identity initially).
    const Eigen::Matrix4d& matrix() const { return matrix_; }
    void setMatrix(const Eigen::Matrix4d& matrix) { matrix_ = matrix; }

    DataComponentList& components() { return components_; }
    const DataComponentList& components() const { return components_; }

    // The main-memory representation, brought up to date first; null when it cannot be made (empty
    // image, failed download). After writing through the non-const pointer, call
    // markChanged(Image::Location::Memory).
    const MemImage* mem() const;
    MemImage* mem();
    // The graphics-card representation, brought up to date first; null when it cannot be made (empty
    // image, no OpenGL). After writing to its texture, call markChanged(Image::Location::OpenGL).
    const GlImage* gl() const;
    GlImage* gl();
    // Bring a representation up to date without using it.
    void syncMem() const { syncImpl(Image::Location::Memory); }
    void syncGl() const { syncImpl(Image::Location::OpenGL); }

    // Whether a representation exists (up to date or not). Thread-safe.
    bool hasMem() const { return (state_.load() & kMemExists) != 0; }
    bool hasGl() const { return (state_.load() & kGlExists) != 0; }
    // True when a shallow clone still shares this image's main-memory or graphics-card storage, so that
    // writing into it in place would change the clone's pixels too. Caller synchronises (the owner).
    bool sharesStorage() const { return mem_.use_count() > 1 || gl_.use_count() > 1; }
    // Whether the representation at `location` exists and is up to date. Thread-safe.
    bool isUpToDate(Image::Location location) const;

    // Brings `location` up to date and releases every other representation (freeing a texture needs a
    // context: the calling thread's or a borrowed one). False, changing nothing, for a location other
    // than Memory or OpenGL or when the representation cannot be made.
    bool makeExclusive(Image::Location location);
    // Declares that pixels were written directly at `location`: it becomes the only up-to-date
    // representation; the others stay allocated (for reuse) and are refreshed on the next request.
    // False for a location other than Memory or OpenGL or one that does not exist.
    bool markChanged(Image::Location location);

    // Pixel transfers made by syncImpl so far (uploads plus downloads). Thread-safe.
    std::uint64_t conversionCount() const { return conversions_.load(); }

protected:
    // Brings the representation at `location` up to date: nothing when it already is, otherwise an
    // upload or download from the other one, creating the storage when missing. Logs an error for other
    // locations or when the transfer fails. Every transfer between locations happens here.
    virtual void syncImpl(Image::Location location) const;

private:
    // Bits of state_.
    static constexpr int kMemExists = 1;
    static constexpr int kGlExists = 2;
    static constexpr int kMemValid = 4;
    static constexpr int kGlValid = 8;

    void copyMetadata(const SharedImage& other);
    void deepCopyFrom(const SharedImage& other, bool memory, bool openGl);

    ImageDescriptor descriptor_;
    bool isMetric_ = false;
    Data::Modality modality_ = Data::Modality::None;
    Eigen::Matrix4d matrix_ = Eigen::Matrix4d::Identity();
    DataComponentList components_;

    // The representation cache: changed by syncImpl() (also on const images) and by the writers above.
    mutable std::shared_ptr<MemImage> mem_;
    mutable std::shared_ptr<GlImage> gl_;
    // Bits kMemExists..kGlValid, kept consistent with mem_ and gl_ by whoever changes those; atomic so
    // that the thread-safe queries may run while syncImpl works.
    mutable std::atomic<int> state_{0};
    mutable std::atomic<std::uint64_t> conversions_{0};
};

}  // namespace Corvexis
