#include "Stream/Simulated/FakeImageCpuPainter.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cassert>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <type_traits>
#include <vector>

#include "Host/Core/Log.h"
#include "Host/Core/MemImage.h"
#include "Stream/Simulated/FakeImageFrame.h"

namespace Corvexis {

namespace {

constexpr std::string_view kCategory = "FakeImagePainter";

// Frames of at least this many channel values are shared with the helper thread (a 640 x 480 byte frame
// is 307200). Below it the wake-up costs more than the second core saves.
constexpr std::size_t kShareThreshold = std::size_t{1} << 18;
// Channel values per unit of work (whole rows, at least one): a few microseconds, so that the caller,
// which waits for the helper's last unit, waits briefly, and the helper still gets a fair share when it
// wakes late.
constexpr std::size_t kValuesPerChunk = std::size_t{1} << 16;
// How long the caller polls for the helper's last unit before sleeping on the condition variable.
constexpr auto kFinishSpin = std::chrono::microseconds(50);

// Tells the processor that this thread is polling (so it yields resources to its sibling thread).
inline void pollPause()
{
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

// ----------------------------------------------------------------------------------------------------
// Frame tables

// A disc as the rows see it. The tables are laid out like a row of the image: the value for pixel x is
// repeated at x * C + ch for every channel ch, so that one flat loop over a row's channel values serves
// every channel count.
struct PreparedDisc
{
    const float* dx2 = nullptr;  // (x - cx)^2, filled for the pixels any of the disc's spans can reach
    float cx = 0.0f;
    float cy = 0.0f;
    float cz = 0.0f;
    float r2 = 0.0f;
    float gain = 0.0f;
    // Every square and partial sum of d2 is exact for every pixel, so d2 = dx2 + (dy2 + dz2) equals the
    // frame's (dx2 + dy2) + dz2 and a row needs one addition per value instead of two.
    bool exactSums = false;
    // The largest term the disc adds to a channel: (r2 * gain) + the largest colour term. d2 < r2 where
    // it adds, and rounding is monotonic, so no term is larger.
    float largestTerm = 0.0f;
};

// Everything a row needs, fixed for the frame. Pointers borrow the frame's tables and the calling
// thread's scratch buffers.
struct Job
{
    void* out = nullptr;             // first value of the image
    const float* bgFloat = nullptr;  // three rows of background values, for cellY + cellZ = 0, 1, 2
    const void* bgStored = nullptr;  // the same three rows clamped and converted to the pixel type
    const float* colour = nullptr;   // one row of colour terms: colourTerm[ch] at x * C + ch
    const std::uint8_t* cellY = nullptr;
    const std::uint8_t* cellZ = nullptr;
    std::array<PreparedDisc, FakeImageFrame::kDiscCount> discs{};
    int pixelType = 0;
    int channels = 0;
    int width = 0;
    int height = 0;
    int rows = 0;  // height * slices
    int rowsPerChunk = 1;
    float highest = 0.0f;
    std::array<float, 4> background{};  // the frame's background values, by grid phase
};

// Whether d2 of `disc` is computed exactly at every pixel of an image of extents w, h, s. With the centre
// on a grid of 2^-k pixels, every difference p - c and square is a multiple of 4^-k, and so is every
// partial sum; all of them are exact when the largest possible sum, in units of 4^-k, stays within the
// 24-bit significand.
bool sumsAreExact(const FakeImageFrame::Disc& disc, int w, int h, int s)
{
    const double centre[3] = {disc.cx, disc.cy, disc.cz};
    const int extent[3] = {w, h, s};
    for (int k = 0; k <= 2; ++k) {
        const double scale = std::ldexp(1.0, k);
        bool onGrid = true;
        double largest = 0.0;
        for (int a = 0; a < 3; ++a) {
            const double scaled = centre[a] * scale;
            onGrid = onGrid && scaled == std::floor(scaled);
            const double far = std::max(std::abs(centre[a]), std::abs(extent[a] - 1 - centre[a]));
            largest += far * far;
        }
        if (onGrid)
            return largest * scale * scale <= std::ldexp(1.0, 24);
    }
    return false;
}

// ----------------------------------------------------------------------------------------------------
// Rows

// A value of the image's type from a channel value. Every value of the picture is at least +0 (the
// background, gains and colour terms are, see paint()), and every type's lowest clamp limit is at most
// 0, so only the upper limit can apply; truncation then equals the reference's conversion.
// Clamp false: the caller proved v <= highest.
template <typename T, bool Clamp = true>
inline T convert(float v, float highest)
{
    const float clamped = !Clamp || v < highest ? v : highest;
    if constexpr (std::is_floating_point_v<T>)
        return static_cast<T>(clamped);
    else if constexpr (std::is_same_v<T, std::uint32_t>)
        return static_cast<std::uint32_t>(clamped);
    else  // through int32, which vectorises; exact, as the value is within T's range
        return static_cast<T>(static_cast<std::int32_t>(clamped));
}

// One disc's part of a row: values [a, b) (pixels times channels) and the terms of d2 that do not
// depend on x.
struct RowDisc
{
    const float* dx2;
    float p;  // dy2, or dy2 + dz2 where the sums are exact
    float q;  // dz2, or unused where the sums are exact
    float gain;
    float largestTerm;
    bool merged;
    int a;
    int b;
};

// The values [a, b) of a row inside one disc, which the span test proved: every value gets the disc's
// term, with the same single-precision operations, in the same order, as FakeImageFrame::value().
// The pixels of the other discs' terms are exactly +0 there and leave v unchanged, so they are skipped.
template <typename T, bool Merged, bool Clamp>
[[gnu::always_inline]] inline void paintOneDisc(T* __restrict out, const float* __restrict bg,
                                                const float* __restrict colour, const RowDisc& disc, int a,
                                                int b, float highest)
{
    const float* __restrict dx2 = disc.dx2;
    const float p = disc.p;
    const float q = disc.q;
    const float gain = disc.gain;
#pragma omp simd
    for (int i = a; i < b; ++i) {
        const float d2 = Merged ? dx2[i] + p : (dx2[i] + p) + q;
        out[i] = convert<T, Clamp>(bg[i] + (d2 * gain + colour[i]), highest);
    }
}

// As paintOneDisc, for values inside two discs (in the frame's order). A merged disc's q is +0, which
// leaves its exact d2 unchanged.
template <typename T>
[[gnu::always_inline]] inline void paintTwoDiscs(T* __restrict out, const float* __restrict bg,
                                                 const float* __restrict colour, const RowDisc& first,
                                                 const RowDisc& second, int a, int b, float highest)
{
    const float* __restrict dx2a = first.dx2;
    const float* __restrict dx2b = second.dx2;
#pragma omp simd
    for (int i = a; i < b; ++i) {
        const float d2a = (dx2a[i] + first.p) + first.q;
        const float d2b = (dx2b[i] + second.p) + second.q;
        const float v = bg[i] + (d2a * first.gain + colour[i]);
        out[i] = convert<T>(v + (d2b * second.gain + colour[i]), highest);
    }
}

// Values inside three or more discs: a few pixels where small discs overlap each other and the large one.
template <typename T>
void paintManyDiscs(T* out, const float* bg, const float* colour, const RowDisc* discs, int count, int a,
                    int b, float highest)
{
    for (int i = a; i < b; ++i) {
        float v = bg[i];
        for (int k = 0; k < count; ++k) {
            const float d2 = (discs[k].dx2[i] + discs[k].p) + discs[k].q;
            v = v + (d2 * discs[k].gain + colour[i]);
        }
        out[i] = convert<T>(v, highest);
    }
}

// The values [a, b) of a row inside exactly the discs discs[0..n-1] (in the frame's order).
// A vector loop runs over whole blocks of kBlock values (a multiple of every vector loop's step), so that
// its scalar remainder never runs: a range that does not divide is finished by one more block ending at
// b, which overlaps the previous one and writes the same values again. (Plain functions, not lambdas:
// only these are compiled for the instruction set of paintRows() below.)
constexpr int kBlock = 64;

// `clamp` false: no value of the row can exceed `highest` where only one disc adds to it.
template <typename T>
[[gnu::always_inline]] inline void paintInside(T* out, const float* bg, const float* colour,
                                               const RowDisc* discs, int n, int a, int b, float highest,
                                               bool clamp)
{
    if (n > 2) {
        paintManyDiscs<T>(out, bg, colour, discs, n, a, b, highest);
        return;
    }
    const int whole = b - a < kBlock ? b : a + (b - a) / kBlock * kBlock;
    const int starts[2] = {a, b - kBlock};
    const int ends[2] = {whole, b};
    for (int k = 0; k < (whole < b ? 2 : 1); ++k) {
        if (n == 2)
            paintTwoDiscs<T>(out, bg, colour, discs[0], discs[1], starts[k], ends[k], highest);
        else if (discs[0].merged && !clamp)
            paintOneDisc<T, true, false>(out, bg, colour, discs[0], starts[k], ends[k], highest);
        else if (discs[0].merged)
            paintOneDisc<T, true, true>(out, bg, colour, discs[0], starts[k], ends[k], highest);
        else if (!clamp)
            paintOneDisc<T, false, false>(out, bg, colour, discs[0], starts[k], ends[k], highest);
        else
            paintOneDisc<T, false, true>(out, bg, colour, discs[0], starts[k], ends[k], highest);
    }
}

// Whether a value under disc `d` alone can exceed `highest` in a row whose background is at most
// `rowBackground` (the row's background values are background[base] and background[base + 1]).
// v = bg + term <= rowBackground + largestTerm, as rounding is monotonic.
[[gnu::always_inline]] inline bool mayExceed(float rowBackground, const RowDisc& d, float highest)
{
    return !(rowBackground + d.largestTerm <= highest);
}

// The values [a, b) of a row outside every disc, copied from the converted background row.
template <typename T>
[[gnu::always_inline]] inline void copyBackground(T* out, const T* bgRow, int a, int b)
{
    if (a < b)
        std::memcpy(out + a, bgRow + a, static_cast<std::size_t>(b - a) * sizeof(T));
}

// The pixels [x0, x1) of row (y, z) for which the frame's own test d2 < r2 holds (x0 == x1: none).
// In single precision as on paper, x - cx, its square and both sums round monotonically, so d2 falls
// until x passes the centre and rises after: the inside pixels are contiguous and, if there are any,
// include the pixel of smallest d2 next to the centre. The square root only chooses where the exact test
// starts looking for each end.
struct Span
{
    int x0 = 0;
    int x1 = 0;
    float dy2 = 0.0f;
    float dz2 = 0.0f;
};

// The frame's inside test at pixel x of a row.
struct InsideTest
{
    const float* dx2;
    std::size_t stride;
    float dy2;
    float dz2;
    float r2;

    [[gnu::always_inline]] bool operator()(int x) const
    {
        return (dx2[static_cast<std::size_t>(x) * stride] + dy2) + dz2 < r2;
    }
};

[[gnu::always_inline]] inline Span rowSpan(const PreparedDisc& disc, int y, int z, int width, int channels)
{
    Span span;
    const float dy = static_cast<float>(y) - disc.cy;
    const float dz = static_cast<float>(z) - disc.cz;
    span.dy2 = dy * dy;
    span.dz2 = dz * dz;
    // Rounding is monotonic and dx2 >= 0, so no d2 of the row is below dy2 + dz2.
    if (!(span.dy2 + span.dz2 < disc.r2))
        return span;
    const std::size_t stride = static_cast<std::size_t>(channels);
    const float* dx2 = disc.dx2;
    const InsideTest inside{dx2, stride, span.dy2, span.dz2, disc.r2};
    int m = std::clamp(static_cast<int>(std::floor(std::clamp(disc.cx, -1.0f, static_cast<float>(width)))), 0,
                       width - 1);
    if (m + 1 < width &&
        dx2[static_cast<std::size_t>(m + 1) * stride] < dx2[static_cast<std::size_t>(m) * stride])
        ++m;
    if (!inside(m))
        return span;
    const double half =
        std::sqrt(std::max(0.0, static_cast<double>(disc.r2) - span.dy2 - static_cast<double>(span.dz2)));
    int lo = static_cast<int>(std::clamp(std::ceil(disc.cx - half), 0.0, static_cast<double>(m)));
    if (inside(lo)) {
        while (lo > 0 && inside(lo - 1))
            --lo;
    } else {
        do
            ++lo;
        while (!inside(lo));
    }
    int hi = static_cast<int>(std::clamp(std::floor(disc.cx + half), static_cast<double>(m), width - 1.0));
    if (inside(hi)) {
        while (hi + 1 < width && inside(hi + 1))
            ++hi;
    } else {
        do
            --hi;
        while (!inside(hi));
    }
    span.x0 = lo;
    span.x1 = hi + 1;
    return span;
}

// Rows [r0, r1). The background of each row is one of three rows (by cellY + cellZ), converted once per
// frame: values outside every disc are copied from it, and only the discs' exact spans are computed.
template <typename T>
[[gnu::always_inline]] inline void paintRowsTyped(const Job& job, int r0, int r1)
{
    const int w = job.width;
    const int channels = job.channels;
    const int rowValues = w * channels;
    const T* bgStored = static_cast<const T*>(job.bgStored);

    for (int r = r0; r < r1; ++r) {
        const int y = r % job.height;
        const int z = r / job.height;
        const std::size_t base = static_cast<std::size_t>(job.cellY[y] + job.cellZ[z]);
        const float* bg = job.bgFloat + base * rowValues;
        const T* bgRow = bgStored + base * rowValues;
        T* out = static_cast<T*>(job.out) + static_cast<std::size_t>(r) * rowValues;

        std::array<RowDisc, FakeImageFrame::kDiscCount> row;
        int count = 0;
        for (const PreparedDisc& disc : job.discs) {
            const Span span = rowSpan(disc, y, z, w, channels);
            if (span.x0 == span.x1)
                continue;
            const bool merged = disc.exactSums;
            row[static_cast<std::size_t>(count++)] = RowDisc{disc.dx2,
                                                             merged ? span.dy2 + span.dz2 : span.dy2,
                                                             merged ? 0.0f : span.dz2,
                                                             disc.gain,
                                                             disc.largestTerm,
                                                             merged,
                                                             span.x0 * channels,
                                                             span.x1 * channels};
        }

        const float rowBackground = job.background[base + 1];
        if (count == 0) {
            copyBackground(out, bgRow, 0, rowValues);
            continue;
        }
        if (count == 1) {  // most rows: the large disc alone
            const RowDisc& d = row[0];
            copyBackground(out, bgRow, 0, d.a);
            paintInside(out, bg, job.colour, &d, 1, d.a, d.b, job.highest,
                        mayExceed(rowBackground, d, job.highest));
            copyBackground(out, bgRow, d.b, rowValues);
            continue;
        }

        // Segment boundaries: the row's ends and every span's ends. Each span starts and ends on a cut, so
        // it covers a segment entirely or not at all.
        std::array<int, 2 * FakeImageFrame::kDiscCount + 2> cuts;
        int cutCount = 0;
        cuts[static_cast<std::size_t>(cutCount++)] = 0;
        cuts[static_cast<std::size_t>(cutCount++)] = rowValues;
        for (int k = 0; k < count; ++k) {
            cuts[static_cast<std::size_t>(cutCount++)] = row[static_cast<std::size_t>(k)].a;
            cuts[static_cast<std::size_t>(cutCount++)] = row[static_cast<std::size_t>(k)].b;
        }
        std::sort(cuts.begin(), cuts.begin() + cutCount);
        for (int s = 0; s + 1 < cutCount; ++s) {
            const int a = cuts[static_cast<std::size_t>(s)];
            const int b = cuts[static_cast<std::size_t>(s + 1)];
            if (a == b)
                continue;
            std::array<RowDisc, FakeImageFrame::kDiscCount> active;
            int n = 0;
            for (int k = 0; k < count; ++k) {
                const RowDisc& d = row[static_cast<std::size_t>(k)];
                if (d.a <= a && b <= d.b)
                    active[static_cast<std::size_t>(n++)] = d;
            }
            if (n == 0)
                copyBackground(out, bgRow, a, b);
            else
                paintInside(out, bg, job.colour, active.data(), n, a, b, job.highest,
                            mayExceed(rowBackground, active[0], job.highest));
        }
    }
}

// The per-value loops, compiled once per instruction-set level and chosen when the library loads. Every
// version performs the same IEEE single-precision operations (multiply-add is never fused in this file),
// so the choice changes the speed only, never a value. The levels rather than single extensions: they
// also select the wider vectors, which the compiler avoids for a bare extension.
// ThreadSanitizer's runtime is not ready when the loader resolves the clones' selector (an IFUNC) and
// crashes the process before main, so sanitised thread builds keep the default version only.
#if defined(__x86_64__) && !defined(__clang__) && !defined(__SANITIZE_THREAD__)
[[gnu::target_clones("arch=x86-64-v4", "arch=x86-64-v3", "default")]]
#endif
void paintRows(const Job& job, int r0, int r1)
{
    switch (job.pixelType) {
        case ImageDescriptor::kByte:
            paintRowsTyped<std::int8_t>(job, r0, r1);
            break;
        case ImageDescriptor::kUByte:
            paintRowsTyped<std::uint8_t>(job, r0, r1);
            break;
        case ImageDescriptor::kShort:
            paintRowsTyped<std::int16_t>(job, r0, r1);
            break;
        case ImageDescriptor::kUShort:
            paintRowsTyped<std::uint16_t>(job, r0, r1);
            break;
        case ImageDescriptor::kInt:
            paintRowsTyped<std::int32_t>(job, r0, r1);
            break;
        case ImageDescriptor::kUInt:
            paintRowsTyped<std::uint32_t>(job, r0, r1);
            break;
        case ImageDescriptor::kDouble:
            paintRowsTyped<double>(job, r0, r1);
            break;
        default:
            paintRowsTyped<float>(job, r0, r1);
            break;
    }
}

void paintChunk(const void* context, int chunk)
{
    const Job& job = *static_cast<const Job*>(context);
    const int r0 = chunk * job.rowsPerChunk;
    paintRows(job, r0, std::min(job.rows, r0 + job.rowsPerChunk));
}

// ----------------------------------------------------------------------------------------------------
// The helper thread

// One thread that joins a frame in progress. The caller publishes the frame's units of work and starts
// on them at once; the helper takes units from the same counter from the moment it runs. The caller
// never waits for the helper to start, only for a unit it has already taken, so a helper that the
// scheduler runs late costs nothing but its share. Between frames the helper sleeps on a condition
// variable; it never spins.
//
// Process-wide; created on the first shared frame and joined at exit. One caller at a time shares a
// frame (callerMutex_); another caller meanwhile paints alone. mutex_ guards the job description and
// the helper's membership; remaining_ hands out units without it.
class Helper
{
public:
    using Work = void (*)(const void* context, int unit);

    // The process's helper; null when its thread cannot be started. Thread-safe.
    static Helper* instance()
    {
        try {
            static Helper helper;
            return &helper;
        } catch (const std::system_error&) {
            return nullptr;
        }
    }

    // Runs work(context, u) for every u in [0, units), here and on the helper; returns when all are done
    // and the helper has left. False, having run nothing, when another caller is sharing a frame.
    // Thread-safe.
    bool share(Work work, const void* context, int units)
    {
        std::unique_lock caller(callerMutex_, std::try_to_lock);
        if (!caller.owns_lock())
            return false;
        {
            std::lock_guard lock(mutex_);
            work_ = work;
            context_ = context;
            remaining_.store(pack(0, static_cast<std::uint32_t>(units)), std::memory_order_relaxed);
            open_ = true;
            ++generation_;
        }
        wake_.notify_one();
        runUnits(work, context, true);
        {
            // From here the helper cannot join; if it is in, it finds no unit left after its current one.
            std::lock_guard lock(mutex_);
            open_ = false;
        }
        // The helper's last unit takes microseconds; polling for it briefly spares the caller a wake-up.
        const auto until = std::chrono::steady_clock::now() + kFinishSpin;
        while (inJob_.load(std::memory_order_acquire)) {
            if (std::chrono::steady_clock::now() >= until) {
                std::unique_lock lock(mutex_);
                left_.wait(lock, [this] { return !inJob_.load(std::memory_order_relaxed); });
                break;
            }
            pollPause();
        }
        return true;
    }

private:
    Helper() : thread_([this] { loop(); }) {}

    ~Helper()
    {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_one();
        thread_.join();
    }

    static std::uint64_t pack(std::uint32_t front, std::uint32_t back)
    {
        return (std::uint64_t{front} << 32) | back;
    }

    // Takes units from the front (the caller) or the back (the helper) until none are left. From frame
    // to frame each thread thus paints mostly the same rows, which stay in its core's cache.
    void runUnits(Work work, const void* context, bool fromFront)
    {
        std::uint64_t range = remaining_.load(std::memory_order_relaxed);
        for (;;) {
            const std::uint32_t front = static_cast<std::uint32_t>(range >> 32);
            const std::uint32_t back = static_cast<std::uint32_t>(range);
            if (front >= back)
                return;
            const std::uint64_t rest = fromFront ? pack(front + 1, back) : pack(front, back - 1);
            if (!remaining_.compare_exchange_weak(range, rest, std::memory_order_relaxed))
                continue;  // `range` now holds the current value
            work(context, static_cast<int>(fromFront ? front : back - 1));
            range = remaining_.load(std::memory_order_relaxed);
        }
    }

    void loop()
    {
        std::unique_lock lock(mutex_);
        std::uint64_t seen = 0;
        for (;;) {
            wake_.wait(lock, [&] { return stop_ || generation_ != seen; });
            if (stop_)
                return;
            seen = generation_;
            if (!open_)  // the caller finished before this thread ran
                continue;
            inJob_.store(true, std::memory_order_relaxed);
            const Work work = work_;
            const void* context = context_;
            lock.unlock();
            runUnits(work, context, false);
            lock.lock();
            // Release: the caller that sees false also sees every value this thread painted.
            inJob_.store(false, std::memory_order_release);
            left_.notify_one();
        }
    }

    std::mutex callerMutex_;  // held by the one caller sharing a frame
    std::mutex mutex_;
    std::condition_variable wake_;  // the helper waits here for a frame or the end
    std::condition_variable left_;  // the caller waits here for the helper to leave the frame
    // guarded by mutex_
    std::uint64_t generation_ = 0;  // frames published so far
    bool open_ = false;             // the current frame may still be joined
    bool stop_ = false;
    Work work_ = nullptr;
    const void* context_ = nullptr;
    // Written under mutex_; the caller also polls it without.
    std::atomic<bool> inJob_{false};
    // The units not yet taken, [front, back) packed as front << 32 | back; set under mutex_ before a
    // frame is published.
    std::atomic<std::uint64_t> remaining_{0};
    std::thread thread_;  // last: starts once every other member is initialised
};

// ----------------------------------------------------------------------------------------------------
// Per-frame preparation

// out[x * channels + ch] = value(x) for the pixels [first, last) and every channel.
template <typename Value>
void fillPixels(float* out, int channels, int first, int last, Value value)
{
    if (channels == 1) {
        for (int x = first; x < last; ++x)
            out[x] = value(x);
        return;
    }
    for (int x = first; x < last; ++x)
        std::fill_n(out + static_cast<std::size_t>(x) * channels, channels, value(x));
}

void convertBackground(int pixelType, const float* bg, void* stored, std::size_t count, float highest);

// The calling thread's tables, kept from frame to frame: painting allocates only when a frame is larger
// than any before on this thread, and the background and colour rows are rebuilt only when what they
// depend on changes (the stream paints frame after frame of one shape).
struct Scratch
{
    std::vector<float> bgFloat;
    std::vector<unsigned char> bgStored;
    std::vector<float> colour;
    std::vector<float> dx2;
    // What bgFloat, bgStored and colour were built from.
    int pixelType = -1;
    int channels = 0;
    std::vector<std::uint8_t> cellX;
    std::array<float, 4> background{};
    std::array<float, FakeImageFrame::kMaxChannels> colourTerm{};

    void prepareRows(const FakeImageFrame& frame)
    {
        const ImageDescriptor& d = frame.descriptor();
        if (d.pixelType == pixelType && d.channels == channels && frame.cellX() == cellX &&
            frame.background() == background && frame.colourTerm() == colourTerm)
            return;
        pixelType = -1;  // invalid until rebuilt
        const int w = d.width;
        const std::size_t rowValues = static_cast<std::size_t>(w) * d.channels;
        bgFloat.resize(3 * rowValues);
        bgStored.resize(3 * rowValues * d.typeSize());
        colour.resize(rowValues);
        const std::uint8_t* cells = frame.cellX().data();
        for (std::size_t base = 0; base < 3; ++base)
            fillPixels(bgFloat.data() + base * rowValues, d.channels, 0, w,
                       [&](int x) { return frame.background()[base + cells[x]]; });
        convertBackground(d.pixelType, bgFloat.data(), bgStored.data(), 3 * rowValues,
                          FakeImageFrame::highest(d.pixelType));
        for (std::size_t x = 0; x < static_cast<std::size_t>(w); ++x)
            for (int ch = 0; ch < d.channels; ++ch)
                colour[x * d.channels + ch] = frame.colourTerm()[static_cast<std::size_t>(ch)];
        cellX = frame.cellX();
        background = frame.background();
        colourTerm = frame.colourTerm();
        channels = d.channels;
        pixelType = d.pixelType;
    }
};

template <typename T>
void convertRows(const float* bg, void* stored, std::size_t count, float highest)
{
    T* out = static_cast<T*>(stored);
    for (std::size_t i = 0; i < count; ++i)
        out[i] = convert<T>(bg[i], highest);
}

void convertBackground(int pixelType, const float* bg, void* stored, std::size_t count, float highest)
{
    switch (pixelType) {
        case ImageDescriptor::kByte:
            convertRows<std::int8_t>(bg, stored, count, highest);
            break;
        case ImageDescriptor::kUByte:
            convertRows<std::uint8_t>(bg, stored, count, highest);
            break;
        case ImageDescriptor::kShort:
            convertRows<std::int16_t>(bg, stored, count, highest);
            break;
        case ImageDescriptor::kUShort:
            convertRows<std::uint16_t>(bg, stored, count, highest);
            break;
        case ImageDescriptor::kInt:
            convertRows<std::int32_t>(bg, stored, count, highest);
            break;
        case ImageDescriptor::kUInt:
            convertRows<std::uint32_t>(bg, stored, count, highest);
            break;
        case ImageDescriptor::kDouble:
            convertRows<double>(bg, stored, count, highest);
            break;
        default:
            convertRows<float>(bg, stored, count, highest);
            break;
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
        case ImageDescriptor::kDouble:
            return true;
        default:
            return false;
    }
}

// Whether every value of the frame is at least +0: all its terms are.
[[maybe_unused]] bool nonNegative(const FakeImageFrame& frame)
{
    const auto atLeastZero = [](float v) { return v >= 0.0f; };
    return std::all_of(frame.background().begin(), frame.background().end(), atLeastZero) &&
           std::all_of(frame.colourTerm().begin(), frame.colourTerm().end(), atLeastZero) &&
           std::all_of(frame.discs().begin(), frame.discs().end(),
                       [](const FakeImageFrame::Disc& d) { return d.gain >= 0.0f; });
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
    // The conversion clamps at the upper limit only (see convert()).
    assert(nonNegative(frame));

    const int w = want.width;
    const int channels = want.channels;
    const std::size_t rowValues = static_cast<std::size_t>(w) * channels;
    thread_local Scratch scratch;
    scratch.prepareRows(frame);
    scratch.dx2.resize(FakeImageFrame::kDiscCount * rowValues);

    Job job;
    job.out = image.data();
    job.pixelType = want.pixelType;
    job.channels = channels;
    job.width = w;
    job.height = want.height;
    job.rows = want.height * want.slices;
    job.highest = FakeImageFrame::highest(want.pixelType);
    job.cellY = frame.cellY().data();
    job.cellZ = frame.cellZ().data();
    job.background = frame.background();

    for (std::size_t i = 0; i < job.discs.size(); ++i) {
        const FakeImageFrame::Disc& disc = frame.discs()[i];
        PreparedDisc& d = job.discs[i];
        float* table = scratch.dx2.data() + i * rowValues;
        d.dx2 = table;
        d.cx = disc.cx;
        d.cy = disc.cy;
        d.cz = disc.cz;
        d.r2 = disc.r2;
        d.gain = disc.gain;
        d.exactSums = sumsAreExact(disc, w, want.height, want.slices);
        d.largestTerm = disc.r2 * disc.gain +
                        *std::max_element(frame.colourTerm().begin(), frame.colourTerm().begin() + channels);
        // The pixels rowSpan() can look at: those within the radius of the centre, the one beyond each
        // end and the two next to the centre (clamped into the row).
        const double radius = std::sqrt(static_cast<double>(disc.r2));
        const int first = static_cast<int>(std::clamp(std::floor(disc.cx - radius) - 2.0, 0.0, w - 1.0));
        const int last = static_cast<int>(std::clamp(std::ceil(disc.cx + radius) + 3.0,
                                                     std::min(first + 2.0, static_cast<double>(w)),
                                                     static_cast<double>(w)));
        fillPixels(table, channels, first, last, [&](int x) {
            const float dx = static_cast<float>(x) - disc.cx;
            return dx * dx;
        });
    }
    job.bgFloat = scratch.bgFloat.data();
    job.bgStored = scratch.bgStored.data();
    job.colour = scratch.colour.data();

    const std::size_t values = static_cast<std::size_t>(job.rows) * rowValues;
    job.rowsPerChunk = static_cast<int>(std::max<std::size_t>(1, kValuesPerChunk / rowValues));
    const int chunks = (job.rows + job.rowsPerChunk - 1) / job.rowsPerChunk;
    static const bool twoCores = std::thread::hardware_concurrency() >= 2;
    if (twoCores && values >= kShareThreshold && chunks >= 2) {
        Helper* helper = Helper::instance();
        if (helper != nullptr && helper->share(&paintChunk, &job, chunks))
            return true;
    }
    paintRows(job, 0, job.rows);
    return true;
}

}  // namespace Corvexis
