#include "Host/Lib/ImageProcessing/GaussianSmoothingGl.h"

#include <algorithm>
#include <string>

#include "Host/Core/Log.h"
#include "Host/GL/ComputeProgram.h"
#include "Host/GL/ContextManager.h"
#include "Host/GL/GlImage.h"
#include "Host/GL/OpenGL.h"
#include "Host/GL/Texture.h"

namespace Corvexis {

namespace {

constexpr std::string_view kCategory = "GaussianSmoothing";
constexpr unsigned kGroupSize = 256;
constexpr unsigned kMaxGroups = 65535;

// One invocation per channel value: the row pass of the main-memory path, acc = acc + w[k] * v.
constexpr const char* kRowShader = R"(
layout(local_size_x = 256) in;
layout(binding = 0) uniform SAMPLER source;
layout(std430, binding = 0) writeonly buffer Rows { float rows[]; };
layout(std430, binding = 1) readonly buffer Kernel { float weights[]; };
uniform ivec2 extent;
uniform int channels;
uniform int radius;
uniform uint valueCount;

void main()
{
    uint index = (gl_WorkGroupID.y * gl_NumWorkGroups.x + gl_WorkGroupID.x) * 256u + gl_LocalInvocationIndex;
    if (index >= valueCount)
        return;
    uint pixel = index / uint(channels);
    int ch = int(index % uint(channels));
    int x = int(pixel % uint(extent.x));
    int y = int(pixel / uint(extent.x));
    precise float acc = 0.0;
    for (int k = 0; k <= 2 * radius; ++k) {
        int sx = clamp(x + k - radius, 0, extent.x - 1);
        precise float v = float(texelFetch(source, ivec2(sx, y), 0)[ch]);
        precise float term = weights[k] * v;
        acc = acc + term;
    }
    rows[index] = acc;
}
)";

// One invocation per 32-bit word of the result's main-memory layout: the column pass, the conversion
// of the main-memory path (clamp, then truncate value - lowest + 0.5) and the packing.
constexpr const char* kColumnShader = R"(#version 430
layout(local_size_x = 256) in;
layout(std430, binding = 0) readonly buffer Rows { float rows[]; };
layout(std430, binding = 1) readonly buffer Kernel { float weights[]; };
layout(std430, binding = 2) writeonly buffer Words { uint words[]; };
uniform ivec2 extent;
uniform int channels;
uniform int radius;
uniform int typeSize;     // 1, 2 or 4 bytes
uniform int valueKind;    // 0 unsigned, 1 signed, 2 float
uniform float lowest;
uniform float highest;
uniform uint valueCount;
uniform uint wordCount;

float smoothed(uint index)
{
    uint rowValues = uint(extent.x * channels);
    int y = int(index / rowValues);
    uint inRow = index % rowValues;
    precise float acc = 0.0;
    for (int k = 0; k <= 2 * radius; ++k) {
        int sy = clamp(y + k - radius, 0, extent.y - 1);
        precise float term = weights[k] * rows[uint(sy) * rowValues + inRow];
        acc = acc + term;
    }
    return acc;
}

uint bitsOf(float v)
{
    if (valueKind == 2)
        return floatBitsToUint(v);
    precise float c = min(max(v, lowest), highest);
    precise float shifted = (c - lowest) + 0.5;
    uint t = uint(shifted);
    if (valueKind == 1)
        return uint(int(t) + int(lowest));
    return t;
}

void main()
{
    uint word = (gl_WorkGroupID.y * gl_NumWorkGroups.x + gl_WorkGroupID.x) * 256u + gl_LocalInvocationIndex;
    if (word >= wordCount)
        return;
    uint perWord = 4u / uint(typeSize);
    uint bits = 8u * uint(typeSize);
    uint mask = typeSize == 4 ? 0xFFFFFFFFu : ((1u << bits) - 1u);
    uint result = 0u;
    for (uint j = 0u; j < perWord; ++j) {
        uint index = word * perWord + j;
        if (index >= valueCount)
            break;
        result |= (bitsOf(smoothed(index)) & mask) << (bits * j);
    }
    words[word] = result;
}
)";

const char* const kSamplers[3] = {"usampler2D", "isampler2D", "sampler2D"};

int samplerKindOf(int pixelType)
{
    if (pixelType == ImageDescriptor::kFloat)
        return 2;
    return ImageDescriptor::isSignedType(pixelType) ? 1 : 0;
}

double lowestOf(int pixelType)
{
    switch (pixelType) {
        case ImageDescriptor::kByte:
            return -128.0;
        case ImageDescriptor::kShort:
            return -32768.0;
        default:
            return 0.0;
    }
}

double highestOf(int pixelType)
{
    switch (pixelType) {
        case ImageDescriptor::kByte:
            return 127.0;
        case ImageDescriptor::kUByte:
            return 255.0;
        case ImageDescriptor::kShort:
            return 32767.0;
        case ImageDescriptor::kUShort:
            return 65535.0;
        default:
            return 0.0;
    }
}

// Splits `groups` work groups over x and y within the per-axis limit.
bool groupGrid(std::size_t groups, unsigned& x, unsigned& y)
{
    const std::size_t gx = std::max<std::size_t>(1, std::min<std::size_t>(groups, kMaxGroups));
    const std::size_t gy = (groups + gx - 1) / gx;
    if (gy > kMaxGroups)
        return false;
    x = static_cast<unsigned>(gx);
    y = static_cast<unsigned>(std::max<std::size_t>(gy, 1));
    return true;
}

}  // namespace

GaussianSmoothingGl::GaussianSmoothingGl() = default;

GaussianSmoothingGl::~GaussianSmoothingGl()
{
    if (rowsBuffer_ == 0)
        return;
    const GLuint buffers[3] = {rowsBuffer_, kernelBuffer_, wordsBuffer_};
    GL::ContextManager::runWithOpenGL([&buffers] { glDeleteBuffers(3, buffers); });
}

bool GaussianSmoothingGl::supports(const ImageDescriptor& d)
{
    const bool type = d.pixelType == ImageDescriptor::kByte || d.pixelType == ImageDescriptor::kUByte ||
                      d.pixelType == ImageDescriptor::kShort || d.pixelType == ImageDescriptor::kUShort ||
                      d.pixelType == ImageDescriptor::kFloat;
    return type && d.isValid() && d.slices == 1 && d.channels >= 1 && d.channels <= 4;
}

std::unique_ptr<GlImage> GaussianSmoothingGl::smooth(const GlImage& image, const std::vector<double>& weights)
{
    if (!image.isValid() || !supports(image.descriptor()) || weights.empty() || weights.size() % 2 == 0) {
        Log::log(Log::Level::Error, kCategory,
                 "Cannot smooth this image on the graphics card: " + image.descriptor().toString());
        return nullptr;
    }
    if (failed_)
        return nullptr;
    std::unique_ptr<GlImage> result;
    GL::ContextManager::runWithOpenGL([&] { result = smoothWithContext(image, weights); });
    return result;
}

bool GaussianSmoothingGl::ensurePrograms(int samplerKind)
{
    if (!columnProgram_) {
        columnProgram_ = GL::ComputeProgram::compile(kColumnShader);
        GLuint buffers[3] = {0, 0, 0};
        glCreateBuffers(3, buffers);
        rowsBuffer_ = buffers[0];
        kernelBuffer_ = buffers[1];
        wordsBuffer_ = buffers[2];
    }
    auto& row = rowPrograms_[static_cast<std::size_t>(samplerKind)];
    if (!row) {
        const std::string source =
            std::string("#version 430\n#define SAMPLER ") + kSamplers[samplerKind] + "\n" + kRowShader;
        row = GL::ComputeProgram::compile(source);
    }
    if (!columnProgram_ || !row) {
        failed_ = true;
        Log::log(Log::Level::Error, kCategory,
                 "The smoothing programs do not build; smoothing stays in main memory");
        return false;
    }
    return true;
}

void GaussianSmoothingGl::reserve(unsigned buffer, std::size_t& capacity, std::size_t bytes)
{
    if (bytes <= capacity)
        return;
    glNamedBufferData(buffer, static_cast<GLsizeiptr>(bytes), nullptr, GL_DYNAMIC_COPY);
    capacity = bytes;
}

std::unique_ptr<GlImage> GaussianSmoothingGl::smoothWithContext(const GlImage& image,
                                                                const std::vector<double>& weightsD)
{
    const ImageDescriptor& d = image.descriptor();
    const int kind = samplerKindOf(d.pixelType);
    if (!ensurePrograms(kind))
        return nullptr;
    const std::size_t values = d.pixelCount() * static_cast<std::size_t>(d.channels);
    const std::size_t typeSize = d.typeSize();
    const std::size_t words = (values * typeSize + 3) / 4;
    unsigned rowX = 0, rowY = 0, colX = 0, colY = 0;
    if (values > 0xFFFFFFFFu || !groupGrid((values + kGroupSize - 1) / kGroupSize, rowX, rowY) ||
        !groupGrid((words + kGroupSize - 1) / kGroupSize, colX, colY)) {
        Log::log(Log::Level::Error, kCategory,
                 "Image too large to smooth on the graphics card: " + d.toString());
        return nullptr;
    }
    auto out = GlImage::create(d);
    if (!out)
        return nullptr;

    while (glGetError() != GL_NO_ERROR) {
    }
    const std::vector<float> weights(weightsD.begin(), weightsD.end());
    const int radius = static_cast<int>(weights.size() / 2);
    reserve(kernelBuffer_, kernelCapacity_, weights.size() * sizeof(float));
    glNamedBufferSubData(kernelBuffer_, 0, static_cast<GLsizeiptr>(weights.size() * sizeof(float)),
                         weights.data());
    reserve(rowsBuffer_, rowsCapacity_, values * sizeof(float));
    reserve(wordsBuffer_, wordsCapacity_, words * 4);

    const GLuint row = rowPrograms_[static_cast<std::size_t>(kind)]->id();
    glProgramUniform2i(row, glGetUniformLocation(row, "extent"), d.width, d.height);
    glProgramUniform1i(row, glGetUniformLocation(row, "channels"), d.channels);
    glProgramUniform1i(row, glGetUniformLocation(row, "radius"), radius);
    glProgramUniform1ui(row, glGetUniformLocation(row, "valueCount"), static_cast<GLuint>(values));
    glBindTextureUnit(0, image.texture());
    glBindBufferBase(GL_SHADER_STORAGE_BUFFER, 0, rowsBuffer_);
    glBindBufferBase(GL_SHADER_STORAGE_BUFFER, 1, kernelBuffer_);
    // dispatch() ends with a barrier that covers the column pass's reads.
    rowPrograms_[static_cast<std::size_t>(kind)]->dispatch(rowX, rowY);
    glBindTextureUnit(0, 0);

    const GLuint col = columnProgram_->id();
    glProgramUniform2i(col, glGetUniformLocation(col, "extent"), d.width, d.height);
    glProgramUniform1i(col, glGetUniformLocation(col, "channels"), d.channels);
    glProgramUniform1i(col, glGetUniformLocation(col, "radius"), radius);
    glProgramUniform1i(col, glGetUniformLocation(col, "typeSize"), static_cast<GLint>(typeSize));
    glProgramUniform1i(col, glGetUniformLocation(col, "valueKind"), kind);
    glProgramUniform1f(col, glGetUniformLocation(col, "lowest"), static_cast<float>(lowestOf(d.pixelType)));
    glProgramUniform1f(col, glGetUniformLocation(col, "highest"), static_cast<float>(highestOf(d.pixelType)));
    glProgramUniform1ui(col, glGetUniformLocation(col, "valueCount"), static_cast<GLuint>(values));
    glProgramUniform1ui(col, glGetUniformLocation(col, "wordCount"), static_cast<GLuint>(words));
    glBindBufferBase(GL_SHADER_STORAGE_BUFFER, 2, wordsBuffer_);
    columnProgram_->dispatch(colX, colY);
    for (GLuint binding = 0; binding < 3; ++binding)
        glBindBufferBase(GL_SHADER_STORAGE_BUFFER, binding, 0);

    const GL::TextureFormat& format = out->glTexture()->format();
    glBindBuffer(GL_PIXEL_UNPACK_BUFFER, wordsBuffer_);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTextureSubImage2D(out->texture(), 0, 0, 0, d.width, d.height, format.format, format.type, nullptr);
    glBindBuffer(GL_PIXEL_UNPACK_BUFFER, 0);

    bool ok = true;
    for (GLenum error = glGetError(); error != GL_NO_ERROR; error = glGetError()) {
        Log::log(Log::Level::Error, kCategory,
                 "Smoothing on the graphics card failed with GL error " + std::to_string(error));
        ok = false;
    }
    return ok ? std::move(out) : nullptr;
}

}  // namespace Corvexis
