#pragma once

#include <cstddef>
#include <memory>
#include <optional>

namespace Corvexis::GL {

// How pixels of one pixel type (an OpenGL type code such as 5121) and channel count are stored in a
// texture and transferred. Integer types use the integer internal formats (R8UI, RG16I, ...), so values
// pass unchanged both ways; float uses R32F..RGBA32F.
struct TextureFormat
{
    unsigned internalFormat = 0;  // sized internal format, e.g. GL_RGBA8UI
    unsigned format = 0;          // transfer format, e.g. GL_RGBA_INTEGER
    unsigned type = 0;            // transfer type, the pixel type code
    std::size_t bytesPerPixel = 0;
};

// A GL texture with immutable storage of one mip level: 2-D when `slices` is 1, else 3-D. Pixels are
// tightly packed, interleaved, rows bottom-up in GL terms (row 0 first in memory, as in main memory).
//
// Every operation uses the calling thread's current context, or borrows one
// (ContextManager::runWithOpenGL) when the thread has none; the texture belongs to the manager's share
// group and may be used and destroyed on any thread. Work on one texture from two contexts must be
// ordered with a SyncObject. Caller synchronises (one thread at a time per object).
class Texture
{
public:
    // The storage format for `pixelType` and 1-4 `channels`; empty for other values.
    static std::optional<TextureFormat> formatFor(int pixelType, int channels);

    // Allocates a texture (contents undefined). Null, with an error log line, for an unsupported format,
    // non-positive extents, or when OpenGL is unavailable or refuses.
    static std::unique_ptr<Texture> create(int pixelType, int channels, int width, int height, int slices);

    ~Texture();
    Texture(const Texture&) = delete;
    Texture& operator=(const Texture&) = delete;

    // Replaces every pixel from `data` (byteSize() bytes). False (logged) on a size mismatch or GL error.
    bool upload(const void* data, std::size_t bytes);
    // Copies every pixel into `data` (byteSize() bytes). Waits for the work of this context on the
    // texture. False (logged) on a size mismatch or GL error.
    bool download(void* data, std::size_t bytes) const;
    // Copies every pixel of `source` (same format and extents) on the graphics card. False if they differ.
    bool copyFrom(const Texture& source);

    unsigned id() const { return id_; }
    // GL_TEXTURE_2D or GL_TEXTURE_3D.
    unsigned target() const { return target_; }
    const TextureFormat& format() const { return format_; }
    int pixelType() const { return pixelType_; }
    int channels() const { return channels_; }
    int width() const { return width_; }
    int height() const { return height_; }
    int slices() const { return slices_; }
    std::size_t byteSize() const;

private:
    Texture() = default;

    unsigned id_ = 0;
    unsigned target_ = 0;
    TextureFormat format_;
    int pixelType_ = 0;
    int channels_ = 0;
    int width_ = 0;
    int height_ = 0;
    int slices_ = 0;
};

}  // namespace Corvexis::GL
