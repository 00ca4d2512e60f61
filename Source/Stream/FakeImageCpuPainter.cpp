#include "Stream/FakeImageCpuPainter.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <omp.h>
#include <strings.h>

#include "Host/Core/Log.h"
#include "Host/Core/MemImage.h"
#include "Stream/FakeImageFrame.h"

namespace Corvexis {

namespace {

constexpr std::string_view kCategory = "FakeImagePainter";

// The team. libgomp's idle members spin before they sleep (GOMP_SPINCOUNT, 300000 iterations unless
// OMP_WAIT_POLICY=passive), and both are read only when the library loads. On a machine whose cores are
// shared with other processes a spinning member takes the core that the member holding the work needs:
// measured on 2 loaded cores, a 1920 x 1080 byte frame took 40 ms with a team of two against 1.7 ms on
// the calling thread alone. So frames are painted on the calling thread unless the process was started
// with passive waiting (OMP_WAIT_POLICY=passive or GOMP_SPINCOUNT=0), and then only frames of at least
// kParallelThreshold channel values, with a team of at most kMaxTeam.
constexpr std::size_t kParallelThreshold = std::size_t{1} << 20;
constexpr int kMaxTeam = 2;

bool passiveWaiting()
{
    const char* policy = std::getenv("OMP_WAIT_POLICY");
    const char* spin = std::getenv("GOMP_SPINCOUNT");
    return (policy != nullptr && strcasecmp(policy, "passive") == 0) ||
           (spin != nullptr && std::strcmp(spin, "0") == 0);
}

// Rows per unit of work handed to a team member. Dynamic so that a member the scheduler delays does
// not hold back a fixed share of the frame.
constexpr int kRowsPerChunk = 16;

// A disc as seen from one row: the terms of d2 that do not depend on x, and the span of x that its
// inside test can accept.
struct RowDisc
{
    const float* dx2;  // (x - cx)^2 by x, the same for every row
    float dy2;
    float dz2;
    float r2;
    float gain;
    int x0;  // first pixel of the span
    int x1;  // one past the last pixel of the span
};

// Everything a row needs, fixed for the frame. Pointers borrow the frame's tables and paint()'s buffers.
struct Job
{
    const FakeImageFrame* frame;
    void* out;             // first pixel of the image
    const float* bgFloat;  // three rows of w background values, for cellY + cellZ = 0, 1, 2
    const float* dx2;      // (x - cx)^2 of each disc in turn, w values per disc
    const void* bgStored;  // the same three rows clamped, converted and with C channels interleaved
    int pixelType;
    int channels;
    int width;
    int height;
    int rows;  // height * slices
    float lowest;
    float highest;
    float colour[FakeImageFrame::kMaxChannels];
};

// `term` where `keep`, else +0: the reference's (keep ? term : 0), written as a bit mask because a
// conditional floating-point choice is a branch to the vectoriser (a compare may trap), a mask is not.
inline float masked(float term, bool keep)
{
    const std::uint32_t mask = 0u - static_cast<std::uint32_t>(keep);
    return std::bit_cast<float>(std::bit_cast<std::uint32_t>(term) & mask);
}

template <typename T>
inline T store(float v, float lowest, float highest)
{
    // By value, so that both compare to selects (the reference-returning std::min/max keep a branch).
    const float low = v < lowest ? lowest : v;
    return static_cast<T>(low > highest ? highest : low);
}

// Pixels [a, b) of a row, under the discs of `discs` (in the frame's order), which are all the discs
// whose span covers the segment. A disc that does not cover a pixel adds exactly +0 in the reference
// formula, and v + 0 == v for every value here (never -0), so leaving the other discs out keeps every
// pixel bit-identical. N is the disc count when known at compile time, 0 for any count.
template <int C, typename T, int N>
[[gnu::always_inline]] inline void paintSegment(T* out, const float* bg, int a, int b, const RowDisc* discs,
                                                int count, const float* colourIn, float lowest, float highest)
{
    float colour[C];
    for (int ch = 0; ch < C; ++ch)
        colour[ch] = colourIn[ch];
    if constexpr (N == 1) {
        const float* dx2 = discs[0].dx2;
        const float dy2 = discs[0].dy2;
        const float dz2 = discs[0].dz2;
        const float r2 = discs[0].r2;
        const float gain = discs[0].gain;
#pragma omp simd
        for (int x = a; x < b; ++x) {
            // Same operations, in the same order, as FakeImageFrame::value().
            const float d2 = dx2[x] + dy2 + dz2;
            const bool inside = d2 < r2;
            const float scaled = d2 * gain;
            for (int ch = 0; ch < C; ++ch)
                out[x * C + ch] = store<T>(bg[x] + masked(scaled + colour[ch], inside), lowest, highest);
        }
    } else {
        const int n = N > 0 ? N : count;
        for (int x = a; x < b; ++x) {
            float v[C];
            for (int ch = 0; ch < C; ++ch)
                v[ch] = bg[x];
            for (int k = 0; k < n; ++k) {
                const RowDisc& disc = discs[k];
                const float d2 = disc.dx2[x] + disc.dy2 + disc.dz2;
                const bool inside = d2 < disc.r2;
                const float scaled = d2 * disc.gain;
                for (int ch = 0; ch < C; ++ch) {
                    const float term = scaled + colour[ch];
                    v[ch] = v[ch] + (inside ? term : 0.0f);
                }
            }
            for (int ch = 0; ch < C; ++ch)
                out[x * C + ch] = store<T>(v[ch], lowest, highest);
        }
    }
}

// Rows [r0, r1) of the image. The background row of each pixel row is one of three (by cellY + cellZ),
// so pixels outside every disc's span are copied from a row converted once per frame; only the spans
// are evaluated per pixel.
template <int C, typename T>
[[gnu::always_inline]] inline void paintRowsTyped(const Job& job, int r0, int r1)
{
    const FakeImageFrame& frame = *job.frame;
    const int w = job.width;
    const std::size_t rowValues = static_cast<std::size_t>(w) * C;
    const std::uint8_t* cellY = frame.cellY().data();
    const std::uint8_t* cellZ = frame.cellZ().data();
    const auto& discs = frame.discs();
    const T* bgStored = static_cast<const T*>(job.bgStored);

    for (int r = r0; r < r1; ++r) {
        const int y = r % job.height;
        const int z = r / job.height;
        const int base = cellY[y] + cellZ[z];
        const float* bg = job.bgFloat + static_cast<std::size_t>(base) * w;
        const T* bgRow = bgStored + static_cast<std::size_t>(base) * rowValues;
        T* out = static_cast<T*>(job.out) + static_cast<std::size_t>(r) * rowValues;

        std::array<RowDisc, FakeImageFrame::kDiscCount> row;
        int rowCount = 0;
        // Segment boundaries: the row's ends and every span's ends.
        std::array<int, 2 * FakeImageFrame::kDiscCount + 2> cuts;
        int cutCount = 0;
        cuts[cutCount++] = 0;
        cuts[cutCount++] = w;
        for (std::size_t i = 0; i < discs.size(); ++i) {
            const FakeImageFrame::Disc& disc = discs[i];
            const float dy = static_cast<float>(y) - disc.cy;
            const float dz = static_cast<float>(z) - disc.cz;
            const float dy2 = dy * dy;
            const float dz2 = dz * dz;
            // The span of x where d2 < r2 can hold, widened by a margin far above the float rounding of
            // d2, so that every pixel the exact test would accept is visited.
            const double r2 = disc.r2;
            const double margin = 1.0 + 1e-5 * r2;
            const double rest = r2 - static_cast<double>(dy2) - static_cast<double>(dz2) + margin;
            if (rest < 0.0)
                continue;
            const double half = std::sqrt(rest) + 1.0;
            const double first = std::max(0.0, std::floor(disc.cx - half));
            const double last = std::min(w - 1.0, std::ceil(disc.cx + half));
            if (first > last)
                continue;
            RowDisc& d = row[static_cast<std::size_t>(rowCount++)];
            d = RowDisc{job.dx2 + i * static_cast<std::size_t>(w),
                        dy2,
                        dz2,
                        disc.r2,
                        disc.gain,
                        static_cast<int>(first),
                        static_cast<int>(last) + 1};
            cuts[static_cast<std::size_t>(cutCount++)] = d.x0;
            cuts[static_cast<std::size_t>(cutCount++)] = d.x1;
        }
        if (rowCount == 0) {
            std::memcpy(out, bgRow, rowValues * sizeof(T));
            continue;
        }
        std::sort(cuts.begin(), cuts.begin() + cutCount);
        for (int i = 0; i + 1 < cutCount; ++i) {
            const int a = cuts[static_cast<std::size_t>(i)];
            const int b = cuts[static_cast<std::size_t>(i + 1)];
            if (a == b)
                continue;
            // Every span starts and ends on a cut, so it covers [a, b) entirely or not at all.
            std::array<RowDisc, FakeImageFrame::kDiscCount> active;
            int count = 0;
            for (int k = 0; k < rowCount; ++k) {
                const RowDisc& d = row[static_cast<std::size_t>(k)];
                if (d.x0 <= a && b <= d.x1)
                    active[static_cast<std::size_t>(count++)] = d;
            }
            switch (count) {
                case 0:
                    std::memcpy(out + static_cast<std::size_t>(a) * C,
                                bgRow + static_cast<std::size_t>(a) * C,
                                static_cast<std::size_t>(b - a) * C * sizeof(T));
                    break;
                case 1:
                    paintSegment<C, T, 1>(out, bg, a, b, active.data(), 1, job.colour, job.lowest,
                                          job.highest);
                    break;
                case 2:
                    paintSegment<C, T, 2>(out, bg, a, b, active.data(), 2, job.colour, job.lowest,
                                          job.highest);
                    break;
                default:
                    paintSegment<C, T, 0>(out, bg, a, b, active.data(), count, job.colour, job.lowest,
                                          job.highest);
                    break;
            }
        }
    }
}

template <int C>
[[gnu::always_inline]] inline void paintRowsChannels(const Job& job, int r0, int r1)
{
    switch (job.pixelType) {
        case ImageDescriptor::kByte:
            paintRowsTyped<C, std::int8_t>(job, r0, r1);
            break;
        case ImageDescriptor::kUByte:
            paintRowsTyped<C, std::uint8_t>(job, r0, r1);
            break;
        case ImageDescriptor::kShort:
            paintRowsTyped<C, std::int16_t>(job, r0, r1);
            break;
        case ImageDescriptor::kUShort:
            paintRowsTyped<C, std::uint16_t>(job, r0, r1);
            break;
        case ImageDescriptor::kInt:
            paintRowsTyped<C, std::int32_t>(job, r0, r1);
            break;
        case ImageDescriptor::kUInt:
            paintRowsTyped<C, std::uint32_t>(job, r0, r1);
            break;
        default:
            paintRowsTyped<C, float>(job, r0, r1);
            break;
    }
}

// The per-pixel loops, compiled once per instruction set and chosen when the library loads. Every
// version performs the same IEEE single-precision operations (multiply-add is never fused in this
// file), so the choice changes the speed only, never a pixel.
// ThreadSanitizer's runtime is not ready when the loader resolves the clones' selector (an IFUNC) and
// crashes the process before main, so sanitised thread builds keep the default version only.
#if defined(__x86_64__) && !defined(__clang__) && !defined(__SANITIZE_THREAD__)
[[gnu::target_clones("avx512f", "avx2", "default")]]
#endif
void paintRows(const Job& job, int r0, int r1)
{
    switch (job.channels) {
        case 1:
            paintRowsChannels<1>(job, r0, r1);
            break;
        case 2:
            paintRowsChannels<2>(job, r0, r1);
            break;
        case 3:
            paintRowsChannels<3>(job, r0, r1);
            break;
        default:
            paintRowsChannels<4>(job, r0, r1);
            break;
    }
}

template <typename T>
void convertBackground(const float* bg, T* out, int width, int channels, float lowest, float highest)
{
    for (int x = 0; x < width; ++x)
        for (int ch = 0; ch < channels; ++ch)
            out[static_cast<std::size_t>(x) * channels + ch] = store<T>(bg[x], lowest, highest);
}

std::size_t typeSize(int pixelType)
{
    switch (pixelType) {
        case ImageDescriptor::kByte:
        case ImageDescriptor::kUByte:
            return 1;
        case ImageDescriptor::kShort:
        case ImageDescriptor::kUShort:
            return 2;
        default:
            return 4;
    }
}

bool knownType(int pixelType)
{
    switch (pixelType) {
        case ImageDescriptor::kByte:
        case ImageDescriptor::kUByte:
        case ImageDescriptor::kShort:
        case ImageDescriptor::kUShort:
        case ImageDescriptor::kInt:
        case ImageDescriptor::kUInt:
        case ImageDescriptor::kFloat:
            return true;
        default:
            return false;
    }
}

}  // namespace

bool FakeImageCpuPainter::paint(MemImage& image, const FakeImageFrame& frame)
{
    const ImageDescriptor& want = frame.descriptor();
    const ImageDescriptor& have = image.descriptor();
    if (have.pixelType != want.pixelType || have.width != want.width || have.height != want.height ||
        have.slices != want.slices || have.channels != want.channels || want.channels < 1 ||
        want.channels > FakeImageFrame::kMaxChannels) {
        Log::log(Log::Level::Error, kCategory,
                 "Cannot paint a main-memory image of " + have.toString() + " with a frame of " +
                     want.toString() + " (1 to 4 channels)");
        return false;
    }
    if (!knownType(want.pixelType))
        return false;

    Job job{};
    job.frame = &frame;
    job.out = image.data();
    job.pixelType = want.pixelType;
    job.channels = want.channels;
    job.width = want.width;
    job.height = want.height;
    job.rows = want.height * want.slices;
    job.lowest = FakeImageFrame::lowest(want.pixelType);
    job.highest = FakeImageFrame::highest(want.pixelType);
    for (int ch = 0; ch < FakeImageFrame::kMaxChannels; ++ch)
        job.colour[ch] = frame.colourTerm()[static_cast<std::size_t>(ch)];

    // The three background rows, as floats for the disc spans and as stored values for the rest. Small
    // (3 rows), so allocated per frame; the frame itself is never buffered.
    const int w = want.width;
    const std::size_t rowValues = static_cast<std::size_t>(w) * want.channels;
    std::vector<float> bgFloat(3 * static_cast<std::size_t>(w));
    std::vector<std::uint8_t> bgStored(3 * rowValues * typeSize(want.pixelType));
    const std::uint8_t* cellX = frame.cellX().data();
    for (int base = 0; base < 3; ++base) {
        float* bg = bgFloat.data() + static_cast<std::size_t>(base) * w;
        for (int x = 0; x < w; ++x)
            bg[x] = frame.background()[static_cast<std::size_t>(base + cellX[x])];
        void* stored =
            bgStored.data() + static_cast<std::size_t>(base) * rowValues * typeSize(want.pixelType);
        switch (want.pixelType) {
            case ImageDescriptor::kByte:
                convertBackground(bg, static_cast<std::int8_t*>(stored), w, want.channels, job.lowest,
                                  job.highest);
                break;
            case ImageDescriptor::kUByte:
                convertBackground(bg, static_cast<std::uint8_t*>(stored), w, want.channels, job.lowest,
                                  job.highest);
                break;
            case ImageDescriptor::kShort:
                convertBackground(bg, static_cast<std::int16_t*>(stored), w, want.channels, job.lowest,
                                  job.highest);
                break;
            case ImageDescriptor::kUShort:
                convertBackground(bg, static_cast<std::uint16_t*>(stored), w, want.channels, job.lowest,
                                  job.highest);
                break;
            case ImageDescriptor::kInt:
                convertBackground(bg, static_cast<std::int32_t*>(stored), w, want.channels, job.lowest,
                                  job.highest);
                break;
            case ImageDescriptor::kUInt:
                convertBackground(bg, static_cast<std::uint32_t*>(stored), w, want.channels, job.lowest,
                                  job.highest);
                break;
            default:
                convertBackground(bg, static_cast<float*>(stored), w, want.channels, job.lowest, job.highest);
                break;
        }
    }
    job.bgFloat = bgFloat.data();
    std::vector<float> dx2(FakeImageFrame::kDiscCount * static_cast<std::size_t>(w));
    for (int i = 0; i < FakeImageFrame::kDiscCount; ++i) {
        const float cx = frame.discs()[static_cast<std::size_t>(i)].cx;
        float* table = dx2.data() + static_cast<std::size_t>(i) * w;
        for (int x = 0; x < w; ++x) {
            const float dx = static_cast<float>(x) - cx;
            table[x] = dx * dx;
        }
    }
    job.dx2 = dx2.data();
    job.bgStored = bgStored.data();

    const std::size_t values = static_cast<std::size_t>(job.rows) * rowValues;
    static const bool teamAllowed = passiveWaiting();  // the environment libgomp read at load time
    const int team =
        teamAllowed && values >= kParallelThreshold ? std::clamp(omp_get_max_threads(), 1, kMaxTeam) : 1;
    if (team == 1) {
        paintRows(job, 0, job.rows);
        return true;
    }
#pragma omp parallel for num_threads(team) schedule(dynamic, 1)
    for (int chunk = 0; chunk < (job.rows + kRowsPerChunk - 1) / kRowsPerChunk; ++chunk) {
        const int r0 = chunk * kRowsPerChunk;
        paintRows(job, r0, std::min(job.rows, r0 + kRowsPerChunk));
    }
    return true;
}

}  // namespace Corvexis
