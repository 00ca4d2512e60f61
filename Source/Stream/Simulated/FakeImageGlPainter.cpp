#include "Stream/Simulated/FakeImageGlPainter.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "Host/Core/Log.h"
#include "Host/GL/ComputeProgram.h"
#include "Host/GL/ContextManager.h"
#include "Host/GL/GlImage.h"
#include "Host/GL/OpenGL.h"
#include "Host/GL/Texture.h"
#include "Stream/Simulated/FakeImageFrame.h"

namespace Corvexis {

namespace {

constexpr std::string_view kCategory = "FakeImagePainter";

constexpr unsigned kGroupSize = 256;
constexpr unsigned kMaxGroupsX = 65535;

// The formula of FakeImageFrame, operation for operation. `precise` forbids the compiler to fuse
// multiply and add or to reorder, which would change the rounding; additions, subtractions and
// multiplications of floats are correctly rounded in GLSL, so every value equals the CPU's.
constexpr const char* kShader = R"(#version 430
layout(local_size_x = 256) in;

layout(std430, binding = 0) writeonly buffer Words { uint words[]; };
layout(std430, binding = 1) readonly buffer Cells { uint cells[]; };

uniform ivec3 extent;        // width, height, slices
uniform int channels;        // 1 to 4
uniform int typeSize;        // bytes per value: 1, 2 or 4
uniform int valueKind;       // 0 unsigned integer, 1 signed integer, 2 float
uniform float lowest;
uniform float highest;
uniform uint valueCount;     // pixels * channels
uniform uint wordCount;
uniform vec4 background;     // by number of axes in an upper half cell
uniform vec4 colourTerm;     // by channel
uniform vec4 discs[5];       // centre x, y, z and squared radius
uniform float gains[5];

float pixelValue(int x, int y, int z, int ch)
{
    int n = int(cells[x] + cells[extent.x + y] + cells[extent.x + extent.y + z]);
    precise float v = background[n];
    for (int i = 0; i < 5; ++i) {
        precise float dx = float(x) - discs[i].x;
        precise float dy = float(y) - discs[i].y;
        precise float dz = float(z) - discs[i].z;
        precise float d2 = dx * dx + dy * dy + dz * dz;
        precise float scaled = d2 * gains[i];
        precise float added = d2 < discs[i].w ? scaled + colourTerm[ch] : 0.0;
        v = v + added;
    }
    return v;
}

uint bitsOf(float v)
{
    float c = min(max(v, lowest), highest);
    if (valueKind == 2)
        return floatBitsToUint(c);
    if (valueKind == 1)
        return uint(int(c));
    return uint(c);
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
        uint pixel = index / uint(channels);
        int ch = int(index % uint(channels));
        int x = int(pixel % uint(extent.x));
        uint rest = pixel / uint(extent.x);
        int y = int(rest % uint(extent.y));
        int z = int(rest / uint(extent.y));
        result |= (bitsOf(pixelValue(x, y, z, ch)) & mask) << (bits * j);
    }
    words[word] = result;
}
)";

int valueKindOf(int pixelType)
{
    if (pixelType == ImageDescriptor::kFloat)
        return 2;
    return ImageDescriptor::isSignedType(pixelType) ? 1 : 0;
}

}  // namespace

struct FakeImageGlPainter::Uniforms
{
    int extent = -1;
    int channels = -1;
    int typeSize = -1;
    int valueKind = -1;
    int lowest = -1;
    int highest = -1;
    int valueCount = -1;
    int wordCount = -1;
    int background = -1;
    int colourTerm = -1;
    int discs = -1;
    int gains = -1;
};

FakeImageGlPainter::FakeImageGlPainter() = default;

FakeImageGlPainter::~FakeImageGlPainter()
{
    if (outputBuffer_ == 0 && cellBuffer_ == 0)
        return;
    const GLuint buffers[2] = {outputBuffer_, cellBuffer_};
    GL::ContextManager::runWithOpenGL([&buffers] { glDeleteBuffers(2, buffers); });
}

bool FakeImageGlPainter::paint(GlImage& image, const FakeImageFrame& frame)
{
    const ImageDescriptor& want = frame.descriptor();
    const ImageDescriptor& have = image.descriptor();
    if (!image.isValid() || have.pixelType != want.pixelType || have.width != want.width ||
        have.height != want.height || have.slices != want.slices || have.channels != want.channels ||
        want.channels < 1 || want.channels > FakeImageFrame::kMaxChannels) {
        Log::log(Log::Level::Error, kCategory,
                 "Cannot paint a graphics-card image of " + have.toString() + " with a frame of " +
                     want.toString() + " (1 to 4 channels)");
        return false;
    }
    if (programFailed_)
        return false;
    bool painted = false;
    const bool ran = GL::ContextManager::runWithOpenGL([&] { painted = paintWithContext(image, frame); });
    return ran && painted;
}

bool FakeImageGlPainter::ensureProgram()
{
    if (program_)
        return true;
    program_ = GL::ComputeProgram::compile(kShader);
    if (!program_) {
        programFailed_ = true;
        Log::log(Log::Level::Error, kCategory, "The painting program does not build; no images are painted");
        return false;
    }
    auto u = std::make_unique<Uniforms>();
    u->extent = program_->uniformLocation("extent");
    u->channels = program_->uniformLocation("channels");
    u->typeSize = program_->uniformLocation("typeSize");
    u->valueKind = program_->uniformLocation("valueKind");
    u->lowest = program_->uniformLocation("lowest");
    u->highest = program_->uniformLocation("highest");
    u->valueCount = program_->uniformLocation("valueCount");
    u->wordCount = program_->uniformLocation("wordCount");
    u->background = program_->uniformLocation("background");
    u->colourTerm = program_->uniformLocation("colourTerm");
    u->discs = program_->uniformLocation("discs");
    u->gains = program_->uniformLocation("gains");
    uniforms_ = std::move(u);

    GLuint buffers[2] = {0, 0};
    glCreateBuffers(2, buffers);
    outputBuffer_ = buffers[0];
    cellBuffer_ = buffers[1];
    return true;
}

void FakeImageGlPainter::resizeBuffer(unsigned buffer, std::size_t& capacity, std::size_t bytes)
{
    if (bytes <= capacity)
        return;
    glNamedBufferData(buffer, static_cast<GLsizeiptr>(bytes), nullptr, GL_DYNAMIC_COPY);
    capacity = bytes;
}

bool FakeImageGlPainter::paintWithContext(GlImage& image, const FakeImageFrame& frame)
{
    if (!ensureProgram())
        return false;
    const ImageDescriptor& d = frame.descriptor();
    const std::size_t typeSize = d.typeSize();
    const std::size_t values = d.pixelCount() * static_cast<std::size_t>(d.channels);
    const std::size_t bytes = values * typeSize;
    const std::size_t words = (bytes + 3) / 4;
    const std::size_t groups = (words + kGroupSize - 1) / kGroupSize;
    const std::size_t groupsX = std::min<std::size_t>(groups, kMaxGroupsX);
    const std::size_t groupsY = (groups + groupsX - 1) / groupsX;
    if (values > 0xFFFFFFFFu || groupsY > kMaxGroupsX) {
        Log::log(Log::Level::Error, kCategory, "Image too large to paint on the graphics card: " + d.toString());
        return false;
    }

    while (glGetError() != GL_NO_ERROR) {
    }

    // Per-axis cell bits, x then y then z.
    std::vector<GLuint> cells;
    cells.reserve(frame.cellX().size() + frame.cellY().size() + frame.cellZ().size());
    cells.insert(cells.end(), frame.cellX().begin(), frame.cellX().end());
    cells.insert(cells.end(), frame.cellY().begin(), frame.cellY().end());
    cells.insert(cells.end(), frame.cellZ().begin(), frame.cellZ().end());
    const std::size_t cellBytes = cells.size() * sizeof(GLuint);
    resizeBuffer(cellBuffer_, cellCapacity_, cellBytes);
    glNamedBufferSubData(cellBuffer_, 0, static_cast<GLsizeiptr>(cellBytes), cells.data());
    resizeBuffer(outputBuffer_, outputCapacity_, words * 4);

    const GLuint program = program_->id();
    const Uniforms& u = *uniforms_;
    glProgramUniform3i(program, u.extent, d.width, d.height, d.slices);
    glProgramUniform1i(program, u.channels, d.channels);
    glProgramUniform1i(program, u.typeSize, static_cast<GLint>(typeSize));
    glProgramUniform1i(program, u.valueKind, valueKindOf(d.pixelType));
    glProgramUniform1f(program, u.lowest, FakeImageFrame::lowest(d.pixelType));
    glProgramUniform1f(program, u.highest, FakeImageFrame::highest(d.pixelType));
    glProgramUniform1ui(program, u.valueCount, static_cast<GLuint>(values));
    glProgramUniform1ui(program, u.wordCount, static_cast<GLuint>(words));
    glProgramUniform4fv(program, u.background, 1, frame.background().data());
    glProgramUniform4fv(program, u.colourTerm, 1, frame.colourTerm().data());
    GLfloat discs[FakeImageFrame::kDiscCount * 4];
    GLfloat gains[FakeImageFrame::kDiscCount];
    for (int i = 0; i < FakeImageFrame::kDiscCount; ++i) {
        const FakeImageFrame::Disc& disc = frame.discs()[static_cast<std::size_t>(i)];
        discs[i * 4 + 0] = disc.cx;
        discs[i * 4 + 1] = disc.cy;
        discs[i * 4 + 2] = disc.cz;
        discs[i * 4 + 3] = disc.r2;
        gains[i] = disc.gain;
    }
    glProgramUniform4fv(program, u.discs, FakeImageFrame::kDiscCount, discs);
    glProgramUniform1fv(program, u.gains, FakeImageFrame::kDiscCount, gains);

    glBindBufferBase(GL_SHADER_STORAGE_BUFFER, 0, outputBuffer_);
    glBindBufferBase(GL_SHADER_STORAGE_BUFFER, 1, cellBuffer_);
    // dispatch() ends with a barrier that covers the pixel-unpack read below.
    program_->dispatch(static_cast<unsigned>(groupsX), static_cast<unsigned>(groupsY));
    glBindBufferBase(GL_SHADER_STORAGE_BUFFER, 0, 0);
    glBindBufferBase(GL_SHADER_STORAGE_BUFFER, 1, 0);

    const GL::TextureFormat& format = image.glTexture()->format();
    glBindBuffer(GL_PIXEL_UNPACK_BUFFER, outputBuffer_);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    if (image.target() == GL_TEXTURE_3D)
        glTextureSubImage3D(image.texture(), 0, 0, 0, 0, d.width, d.height, d.slices, format.format,
                            format.type, nullptr);
    else
        glTextureSubImage2D(image.texture(), 0, 0, 0, d.width, d.height, format.format, format.type, nullptr);
    glBindBuffer(GL_PIXEL_UNPACK_BUFFER, 0);

    bool ok = true;
    for (GLenum error = glGetError(); error != GL_NO_ERROR; error = glGetError()) {
        Log::log(Log::Level::Error, kCategory,
                 "Painting on the graphics card failed with GL error " + std::to_string(error));
        ok = false;
    }
    return ok;
}

}  // namespace Corvexis
