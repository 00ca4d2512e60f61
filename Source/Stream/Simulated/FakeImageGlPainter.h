#pragma once

#include <cstddef>
#include <memory>

namespace Corvexis {

class FakeImageFrame;
class GlImage;

namespace GL {
class ComputeProgram;
}

// Paints the simulated test picture (FakeImageFrame) into a graphics-card image with one compute
// shader dispatch and one buffer-to-texture copy, both on the graphics card.
//
// The shader evaluates FakeImageFrame's formula with `precise` arithmetic (no fused multiply-add, no
// reordering), so the pixels equal those of FakeImageCpuPainter bit for bit. Each invocation packs one
// 32-bit word of the image's main-memory layout (four 8-bit, two 16-bit or one 32-bit value) into a
// shader storage buffer, which then fills the texture as a pixel-unpack buffer. Going through a buffer
// instead of image stores keeps one code path for every pixel type and channel count, including the
// three-channel formats that image load/store does not offer.
//
// The program and buffers are made on the first paint and belong to the context manager's share group;
// the painter may be used on any thread with a context (or borrows one), one thread at a time. The
// written texture is complete for other contexts only after a GL::SyncObject (or a finish).
//
// Caller synchronises.
class FakeImageGlPainter
{
public:
    FakeImageGlPainter();
    ~FakeImageGlPainter();
    FakeImageGlPainter(const FakeImageGlPainter&) = delete;
    FakeImageGlPainter& operator=(const FakeImageGlPainter&) = delete;

    // Paints `image` with the calling thread's context, or a borrowed one. False, with an error under
    // "FakeImagePainter" and the image untouched, when the image's pixel type, extents or channel count
    // (1 to 4) differ from the frame's descriptor, when the image is not valid, or when OpenGL is
    // unavailable or the program does not build (logged once per painter).
    bool paint(GlImage& image, const FakeImageFrame& frame);

private:
    struct Uniforms;

    bool ensureProgram();
    bool paintWithContext(GlImage& image, const FakeImageFrame& frame);
    static void resizeBuffer(unsigned buffer, std::size_t& capacity, std::size_t bytes);

    std::unique_ptr<GL::ComputeProgram> program_;
    std::unique_ptr<Uniforms> uniforms_;
    bool programFailed_ = false;
    unsigned outputBuffer_ = 0;  // packed pixel words
    unsigned cellBuffer_ = 0;    // per-axis grid cell bits
    std::size_t outputCapacity_ = 0;  // bytes
    std::size_t cellCapacity_ = 0;    // bytes
};

}  // namespace Corvexis
