#pragma once

namespace Corvexis {

class FakeImageFrame;
class MemImage;

// Paints the simulated test picture (FakeImageFrame) into a main-memory image, bit-identical to
// FakeImageFrame::value() clamped and converted (and so to FakeImageGlPainter).
//
// The work is O(pixels) with a small constant. Each row's background is one of three rows converted once
// (and kept while the frame shape stays the same) and copied. Each disc's span in a row is found exactly:
// d2 falls and then rises along a row in floating point too, so its inside pixels are contiguous, and a
// square-root estimate of each end is corrected with the frame's own test d2 < r2. Only those spans are
// evaluated per value, without a per-value test, by OpenMP SIMD loops compiled for AVX-512, AVX2 and the
// base instruction set (chosen at load time, with identical results). Where a disc's centre lies on
// whole, half or quarter pixels and its squared distances stay small enough to be summed exactly, a row
// needs one addition per value less; where no value of a row can reach the type's upper limit, no clamp.
//
// Threads: frames of at least 2^18 channel values are shared, in units of whole rows, between the
// calling thread and one process-wide helper thread (started on the first such frame, joined when the
// library is unloaded or the process exits). Not an OpenMP team: the team's closing barrier waits for
// every member, so a member that the scheduler has not run yet (the other core is busy) holds the frame,
// and its idle members spin between frames unless the process was started with passive waiting; on two
// shared cores either stalls frames by milliseconds. The helper sleeps on a condition variable between
// frames, the caller starts on the rows at once and never waits for the helper to start, only for a unit
// the helper has already taken.
//
// Stateless for the caller; thread-safe: concurrent calls paint concurrently (one of them with the
// helper, the others on their own threads). Each calling thread keeps its per-frame tables (a few rows of
// the image) until it exits.
class FakeImageCpuPainter
{
public:
    // Paints channels 0 to frame.channels()-1 of `image`. False, with an error under "FakeImagePainter"
    // and the image untouched, when the image's pixel type, extents or channel count (1 to 4) differ from
    // the frame's descriptor.
    static bool paint(MemImage& image, const FakeImageFrame& frame);
};

}  // namespace Corvexis
