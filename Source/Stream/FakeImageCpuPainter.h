#pragma once

namespace Corvexis {

class FakeImageFrame;
class MemImage;

// Paints the simulated test picture (FakeImageFrame) into a main-memory image. The work is O(pixels)
// with a small constant: each row's background is one of three rows converted once per frame and
// copied; only the span of each row that a disc's bounding sphere (with a rounding margin) covers is
// evaluated per pixel, with the frame's exact inside test, so the result equals FakeImageFrame::value()
// clamped and converted. The per-pixel loops are compiled for AVX-512, AVX2 and the base instruction
// set, chosen at load time, with identical results. Rows are shared with an OpenMP team (at most two
// threads) only for frames of at least 2^20 channel values and only when the process runs with passive
// OpenMP waiting (OMP_WAIT_POLICY=passive or GOMP_SPINCOUNT=0): otherwise idle members spin after every
// frame and, on shared cores, stall the frame itself.
//
// Stateless; thread-safe (concurrent calls on different images).
class FakeImageCpuPainter
{
public:
    // Paints channels 0 to frame.channels()-1 of `image`. False, with an error under "FakeImagePainter"
    // and the image untouched, when the image's pixel type, extents or channel count (1 to 4) differ from
    // the frame's descriptor.
    static bool paint(MemImage& image, const FakeImageFrame& frame);
};

}  // namespace Corvexis
