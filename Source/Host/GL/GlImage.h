#pragma once

#include <memory>

#include "Host/Core/ImageDescriptor.h"
#include "Host/GL/Texture.h"

namespace Corvexis {

class MemImage;

// An image on the graphics card: one GL texture (2-D for one slice, 3-D otherwise) of any pixel type and
// channel count an ImageDescriptor names. Integer pixel types are stored in integer texture formats,
// so uploads and downloads are bit-exact; float pixels use 32-bit float formats.
//
// Every operation works with the calling thread's current context, or borrows one when the thread has
// none (GL::ContextManager::runWithOpenGL); the texture belongs to the manager's share group, so the
// image may be used and destroyed on any thread. Work from two contexts on one image must be ordered
// with a GL::SyncObject. Caller synchronises (one thread at a time per object).
class GlImage
{
public:
    // Allocates a texture of the descriptor; pixels are undefined until written. When it cannot be
    // made (invalid descriptor, OpenGL unavailable) isValid() is false and an error is logged.
    explicit GlImage(const ImageDescriptor& descriptor);
    ~GlImage();
    GlImage(const GlImage&) = delete;
    GlImage& operator=(const GlImage&) = delete;

    // A new image of the descriptor, or null (logged) when the texture cannot be made.
    static std::unique_ptr<GlImage> create(const ImageDescriptor& descriptor);
    // A new image holding the pixels (and spacing) of `image`; null (logged) on failure.
    static std::unique_ptr<GlImage> fromMemImage(const MemImage& image);

    bool isValid() const { return texture_ != nullptr; }
    const ImageDescriptor& descriptor() const { return descriptor_; }
    // Spacing does not change the storage; refuses (false) non-finite or non-positive values.
    bool setSpacing(const Eigen::Vector3d& spacing);

    // The GL texture name and target (GL_TEXTURE_2D or GL_TEXTURE_3D); 0 when not valid.
    unsigned texture() const;
    unsigned target() const;
    GL::Texture* glTexture() const { return texture_.get(); }

    // Replaces the pixels by those of `image`, which must have the same pixel type, extents and
    // channels (spacing may differ). False (logged) otherwise.
    bool upload(const MemImage& image);
    // Copies the pixels into `image` (same pixel type, extents and channels). False (logged) otherwise.
    bool download(MemImage& image) const;
    // A new main-memory image with the pixels and spacing; null (logged) on failure.
    std::unique_ptr<MemImage> download() const;
    // Copies the pixels of `source` (same pixel type, extents and channels) on the graphics card.
    bool copyFrom(const GlImage& source);

private:
    bool matches(const ImageDescriptor& other, const char* what) const;

    ImageDescriptor descriptor_;
    std::unique_ptr<GL::Texture> texture_;
};

}  // namespace Corvexis
