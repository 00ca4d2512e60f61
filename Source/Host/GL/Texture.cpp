#include "Host/GL/Texture.h"

#include <cstdio>
#include <string>

#include "Host/Core/Log.h"
#include "Host/GL/ContextManager.h"
#include "Host/GL/OpenGL.h"

namespace Corvexis::GL {

namespace {

constexpr std::string_view kCategory = "GL.Texture";

// Internal formats by channel count (index 0 to 3) for each pixel type.
struct FormatRow
{
    GLenum type;
    std::size_t typeSize;
    bool integer;
    GLenum internal[4];
};

constexpr FormatRow kFormats[] = {
    {GL_BYTE, 1, true, {GL_R8I, GL_RG8I, GL_RGB8I, GL_RGBA8I}},
    {GL_UNSIGNED_BYTE, 1, true, {GL_R8UI, GL_RG8UI, GL_RGB8UI, GL_RGBA8UI}},
    {GL_SHORT, 2, true, {GL_R16I, GL_RG16I, GL_RGB16I, GL_RGBA16I}},
    {GL_UNSIGNED_SHORT, 2, true, {GL_R16UI, GL_RG16UI, GL_RGB16UI, GL_RGBA16UI}},
    {GL_INT, 4, true, {GL_R32I, GL_RG32I, GL_RGB32I, GL_RGBA32I}},
    {GL_UNSIGNED_INT, 4, true, {GL_R32UI, GL_RG32UI, GL_RGB32UI, GL_RGBA32UI}},
    {GL_FLOAT, 4, false, {GL_R32F, GL_RG32F, GL_RGB32F, GL_RGBA32F}},
};

constexpr GLenum kIntegerFormats[4] = {GL_RED_INTEGER, GL_RG_INTEGER, GL_RGB_INTEGER, GL_RGBA_INTEGER};
constexpr GLenum kFloatFormats[4] = {GL_RED, GL_RG, GL_RGB, GL_RGBA};

// Reports and clears pending GL errors; true when there were none.
bool checkGlError(std::string_view what)
{
    bool ok = true;
    for (GLenum error = glGetError(); error != GL_NO_ERROR; error = glGetError()) {
        char code[16];
        std::snprintf(code, sizeof code, "0x%x", error);
        Log::log(Log::Level::Error, kCategory, std::string(what) + " failed with GL error " + code);
        ok = false;
    }
    return ok;
}

}  // namespace

std::optional<TextureFormat> Texture::formatFor(int pixelType, int channels)
{
    if (channels < 1 || channels > 4)
        return std::nullopt;
    for (const FormatRow& row : kFormats) {
        if (static_cast<int>(row.type) != pixelType)
            continue;
        TextureFormat format;
        format.internalFormat = row.internal[channels - 1];
        format.format = row.integer ? kIntegerFormats[channels - 1] : kFloatFormats[channels - 1];
        format.type = row.type;
        format.bytesPerPixel = row.typeSize * static_cast<std::size_t>(channels);
        return format;
    }
    return std::nullopt;
}

std::unique_ptr<Texture> Texture::create(int pixelType, int channels, int width, int height, int slices)
{
    const auto format = formatFor(pixelType, channels);
    if (!format || width <= 0 || height <= 0 || slices <= 0) {
        Log::log(Log::Level::Error, kCategory,
                 "Cannot create a texture of pixel type " + std::to_string(pixelType) + ", " +
                     std::to_string(channels) + " channels, " + std::to_string(width) + " x " +
                     std::to_string(height) + " x " + std::to_string(slices));
        return nullptr;
    }
    std::unique_ptr<Texture> texture(new Texture);
    texture->format_ = *format;
    texture->pixelType_ = pixelType;
    texture->channels_ = channels;
    texture->width_ = width;
    texture->height_ = height;
    texture->slices_ = slices;
    texture->target_ = slices > 1 ? GL_TEXTURE_3D : GL_TEXTURE_2D;
    bool ok = false;
    ContextManager::runWithOpenGL([&] {
        checkGlError("earlier GL call");
        GLuint id = 0;
        glCreateTextures(texture->target_, 1, &id);
        texture->id_ = id;
        if (slices > 1)
            glTextureStorage3D(id, 1, format->internalFormat, width, height, slices);
        else
            glTextureStorage2D(id, 1, format->internalFormat, width, height);
        // Integer textures are incomplete with filtering; nearest also keeps float values unblended.
        glTextureParameteri(id, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTextureParameteri(id, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        ok = checkGlError("Allocating a texture");
    });
    if (!ok)
        return nullptr;  // the destructor deletes a partly made texture
    return texture;
}

Texture::~Texture()
{
    if (id_ == 0)
        return;
    const GLuint id = id_;
    ContextManager::runWithOpenGL([id] { glDeleteTextures(1, &id); });
}

std::size_t Texture::byteSize() const
{
    return format_.bytesPerPixel * static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_) *
           static_cast<std::size_t>(slices_);
}

bool Texture::upload(const void* data, std::size_t bytes)
{
    if (bytes != byteSize() || data == nullptr) {
        Log::log(
            Log::Level::Error, kCategory,
            "Upload of " + std::to_string(bytes) + " bytes into a texture of " + std::to_string(byteSize()));
        return false;
    }
    bool ok = false;
    ContextManager::runWithOpenGL([&] {
        checkGlError("earlier GL call");
        // Rows of odd widths are not padded to 4 bytes in our buffers.
        glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
        glBindBuffer(GL_PIXEL_UNPACK_BUFFER, 0);
        if (target_ == GL_TEXTURE_3D)
            glTextureSubImage3D(id_, 0, 0, 0, 0, width_, height_, slices_, format_.format, format_.type,
                                data);
        else
            glTextureSubImage2D(id_, 0, 0, 0, width_, height_, format_.format, format_.type, data);
        ok = checkGlError("Texture upload");
    });
    return ok;
}

bool Texture::download(void* data, std::size_t bytes) const
{
    if (bytes != byteSize() || data == nullptr) {
        Log::log(Log::Level::Error, kCategory,
                 "Download of a texture of " + std::to_string(byteSize()) + " bytes into " +
                     std::to_string(bytes));
        return false;
    }
    bool ok = false;
    ContextManager::runWithOpenGL([&] {
        checkGlError("earlier GL call");
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
        glGetTextureImage(id_, 0, format_.format, format_.type, static_cast<GLsizei>(bytes), data);
        ok = checkGlError("Texture download");
    });
    return ok;
}

bool Texture::copyFrom(const Texture& source)
{
    if (source.format_.internalFormat != format_.internalFormat || source.width_ != width_ ||
        source.height_ != height_ || source.slices_ != slices_) {
        Log::log(Log::Level::Error, kCategory, "Texture copy between different formats or extents");
        return false;
    }
    bool ok = false;
    ContextManager::runWithOpenGL([&] {
        checkGlError("earlier GL call");
        glCopyImageSubData(source.id_, source.target_, 0, 0, 0, 0, id_, target_, 0, 0, 0, 0, width_, height_,
                           slices_);
        ok = checkGlError("Texture copy");
    });
    return ok;
}

}  // namespace Corvexis::GL
