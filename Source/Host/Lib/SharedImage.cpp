#include "Host/Lib/SharedImage.h"

#include <cstring>
#include <string>
#include <utility>

#include "Host/Core/Log.h"
#include "Host/Core/MemImage.h"
#include "Host/GL/GlImage.h"

namespace Corvexis {

namespace {

constexpr std::string_view kCategory = "SharedImage";

bool sameLayout(const ImageDescriptor& a, const ImageDescriptor& b)
{
    return a.pixelType == b.pixelType && a.width == b.width && a.height == b.height && a.slices == b.slices &&
           a.channels == b.channels;
}

}  // namespace

SharedImage::SharedImage(std::unique_ptr<MemImage> image)
{
    if (!image)
        return;
    descriptor_ = image->descriptor();
    mem_ = std::move(image);
    state_ = kMemExists | kMemValid;
}

SharedImage::SharedImage(std::unique_ptr<GlImage> image)
{
    if (!image || !image->isValid())
        return;
    descriptor_ = image->descriptor();
    gl_ = std::move(image);
    state_ = kGlExists | kGlValid;
}

SharedImage::SharedImage(const ImageDescriptor& descriptor, Image::Location location)
{
    if (location == Image::Location::Memory) {
        if (auto image = MemImage::create(descriptor)) {
            descriptor_ = descriptor;
            mem_ = std::move(image);
            state_ = kMemExists | kMemValid;
        }
    } else if (location == Image::Location::OpenGL) {
        if (auto image = GlImage::create(descriptor)) {
            descriptor_ = descriptor;
            gl_ = std::move(image);
            state_ = kGlExists | kGlValid;
        }
    } else {
        Log::log(Log::Level::Error, kCategory,
                 "Cannot allocate an image at location " + Image::locationName(location));
    }
}

SharedImage::SharedImage(const SharedImage& other) : SharedImage(other, CloneOptions::Deep) {}

SharedImage::SharedImage(const SharedImage& other, CloneOptions options)
{
    copyMetadata(other);
    const int state = other.state_.load();
    switch (options) {
        case CloneOptions::Shallow:
            mem_ = other.mem_;
            gl_ = other.gl_;
            state_ = state;
            return;
        case CloneOptions::DeepMemory:
            deepCopyFrom(other, true, false);
            return;
        case CloneOptions::DeepOpenGL:
            deepCopyFrom(other, false, true);
            return;
        case CloneOptions::Allocate: {
            int newState = 0;
            if ((state & kMemValid) != 0 && (mem_ = MemImage::create(descriptor_)))
                newState |= kMemExists | kMemValid;
            if ((state & kGlValid) != 0 && (gl_ = GlImage::create(descriptor_)))
                newState |= kGlExists | kGlValid;
            state_ = newState;
            return;
        }
        case CloneOptions::Deep:
            break;
        default:
            Log::log(
                Log::Level::Warning, kCategory,
                "Unknown clone option " + std::to_string(static_cast<int>(options)) + "; making a deep copy");
            break;
    }
    deepCopyFrom(other, (state & kMemValid) != 0, (state & kGlValid) != 0);
}

SharedImage::SharedImage(SharedImage&& other) noexcept
    : descriptor_(other.descriptor_),
      isMetric_(other.isMetric_),
      modality_(other.modality_),
      matrix_(other.matrix_),
      components_(std::move(other.components_)),
      mem_(std::move(other.mem_)),
      gl_(std::move(other.gl_)),
      state_(other.state_.exchange(0)),
      conversions_(other.conversions_.load())
{
    other.descriptor_ = ImageDescriptor();
}

SharedImage::~SharedImage() = default;

void SharedImage::copyMetadata(const SharedImage& other)
{
    descriptor_ = other.descriptor_;
    isMetric_ = other.isMetric_;
    modality_ = other.modality_;
    matrix_ = other.matrix_;
    components_ = other.components_;
}

// Fills this image's representations with deep copies of `other`'s pixels, in main memory and/or on the
// graphics card; `other` is brought up to date where needed. Replaces whatever this image held.
void SharedImage::deepCopyFrom(const SharedImage& other, bool memory, bool openGl)
{
    std::shared_ptr<MemImage> mem;
    std::shared_ptr<GlImage> gl;
    int state = 0;
    if (memory) {
        if (const MemImage* source = other.mem())
            mem = source->clone();
        if (mem)
            state |= kMemExists | kMemValid;
        else if (!other.isEmpty())
            Log::log(Log::Level::Error, kCategory, "Could not copy an image in main memory");
    }
    if (openGl) {
        if (const GlImage* source = other.gl()) {
            gl = GlImage::create(source->descriptor());
            if (gl && !gl->copyFrom(*source))
                gl.reset();
        }
        if (gl)
            state |= kGlExists | kGlValid;
        else if (!other.isEmpty())
            Log::log(Log::Level::Error, kCategory, "Could not copy an image on the graphics card");
    }
    mem_ = std::move(mem);
    gl_ = std::move(gl);
    state_ = state;
    if (state == 0 && !other.isEmpty())
        descriptor_ = other.descriptor_;
}

SharedImage& SharedImage::operator=(const SharedImage& other)
{
    if (this == &other)
        return *this;
    const int state = state_.load();
    const bool keepStorage = (state & (kMemExists | kGlExists)) != 0 && !other.isEmpty() &&
                             sameLayout(descriptor_, other.descriptor_);
    if (!keepStorage) {
        const int otherState = other.state_.load();
        copyMetadata(other);
        deepCopyFrom(other, (otherState & kMemValid) != 0, (otherState & kGlValid) != 0);
        return *this;
    }
    int newState = 0;
    if ((state & kMemExists) != 0) {
        const MemImage* source = other.mem();
        if (source != nullptr) {
            // A shallow copy of this image already holds these very pixels.
            if (source->data() != mem_->data())
                std::memcpy(mem_->data(), source->data(), mem_->byteSize());
            newState |= kMemExists | kMemValid;
        } else {
            newState |= kMemExists;
        }
    }
    if ((state & kGlExists) != 0) {
        bool copied = false;
        if (other.gl_ == gl_ && other.isUpToDate(Image::Location::OpenGL))
            copied = true;
        else if (other.isUpToDate(Image::Location::OpenGL))
            copied = gl_->copyFrom(*other.gl_);
        else if (const MemImage* source = other.mem())
            copied = gl_->upload(*source);
        newState |= kGlExists | (copied ? kGlValid : 0);
    }
    if ((newState & (kMemValid | kGlValid)) == 0)
        Log::log(Log::Level::Error, kCategory, "Assignment could not copy any pixels");
    const Eigen::Vector3d spacing = other.descriptor_.spacing;
    copyMetadata(other);
    if (mem_)
        mem_->setSpacing(spacing);
    if (gl_)
        gl_->setSpacing(spacing);
    state_ = newState;
    return *this;
}

std::unique_ptr<SharedImage> SharedImage::clone(CloneOptions options) const
{
    return std::make_unique<SharedImage>(*this, options);
}

bool SharedImage::setSpacing(const Eigen::Vector3d& spacing, bool isMetric)
{
    if (!spacing.allFinite() || (spacing.array() <= 0.0).any()) {
        Log::log(Log::Level::Warning, kCategory, "Refusing a spacing that is not finite and positive");
        return false;
    }
    descriptor_.spacing = spacing;
    isMetric_ = isMetric;
    if (mem_)
        mem_->setSpacing(spacing);
    if (gl_)
        gl_->setSpacing(spacing);
    return true;
}

const MemImage* SharedImage::mem() const
{
    syncImpl(Image::Location::Memory);
    return isUpToDate(Image::Location::Memory) ? mem_.get() : nullptr;
}

MemImage* SharedImage::mem()
{
    syncImpl(Image::Location::Memory);
    return isUpToDate(Image::Location::Memory) ? mem_.get() : nullptr;
}

const GlImage* SharedImage::gl() const
{
    syncImpl(Image::Location::OpenGL);
    return isUpToDate(Image::Location::OpenGL) ? gl_.get() : nullptr;
}

GlImage* SharedImage::gl()
{
    syncImpl(Image::Location::OpenGL);
    return isUpToDate(Image::Location::OpenGL) ? gl_.get() : nullptr;
}

bool SharedImage::isUpToDate(Image::Location location) const
{
    const int state = state_.load();
    if (location == Image::Location::Memory)
        return (state & kMemValid) != 0;
    if (location == Image::Location::OpenGL)
        return (state & kGlValid) != 0;
    return false;
}

bool SharedImage::makeExclusive(Image::Location location)
{
    if (location != Image::Location::Memory && location != Image::Location::OpenGL) {
        Log::log(Log::Level::Error, kCategory,
                 "makeExclusive: unsupported location " + Image::locationName(location));
        return false;
    }
    syncImpl(location);
    if (!isUpToDate(location))
        return false;
    if (location == Image::Location::Memory) {
        gl_.reset();
        state_ = kMemExists | kMemValid;
    } else {
        mem_.reset();
        state_ = kGlExists | kGlValid;
    }
    return true;
}

bool SharedImage::markChanged(Image::Location location)
{
    const int state = state_.load();
    if (location == Image::Location::Memory && (state & kMemExists) != 0) {
        state_ = (state & (kMemExists | kGlExists)) | kMemValid;
        return true;
    }
    if (location == Image::Location::OpenGL && (state & kGlExists) != 0) {
        state_ = (state & (kMemExists | kGlExists)) | kGlValid;
        return true;
    }
    Log::log(Log::Level::Error, kCategory,
             "markChanged: no representation at location " + Image::locationName(location));
    return false;
}

void SharedImage::syncImpl(Image::Location location) const
{
    const int state = state_.load();
    if (location == Image::Location::Memory) {
        if ((state & kMemValid) != 0 || (state & kGlValid) == 0)
            return;  // up to date, or nothing to copy from (empty image)
        std::shared_ptr<MemImage> target = mem_;
        if (!target)
            target = MemImage::create(descriptor_, false);
        if (!target || !gl_->download(*target)) {
            Log::log(Log::Level::Error, kCategory, "Could not bring an image into main memory");
            return;
        }
        mem_ = std::move(target);
        ++conversions_;
        state_ = state | kMemExists | kMemValid;
    } else if (location == Image::Location::OpenGL) {
        if ((state & kGlValid) != 0 || (state & kMemValid) == 0)
            return;
        std::shared_ptr<GlImage> target = gl_;
        if (!target)
            target = GlImage::create(descriptor_);
        if (!target || !target->upload(*mem_)) {
            Log::log(Log::Level::Error, kCategory, "Could not bring an image onto the graphics card");
            return;
        }
        gl_ = std::move(target);
        ++conversions_;
        state_ = state | kGlExists | kGlValid;
    } else {
        Log::log(Log::Level::Error, kCategory,
                 "Cannot synchronise an image to location " + Image::locationName(location));
    }
}

}  // namespace Corvexis
