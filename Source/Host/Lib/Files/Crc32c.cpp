#include "Host/Lib/Files/Crc32c.h"

#include <array>
#include <cstring>

#if defined(__x86_64__)
#include <nmmintrin.h>
#endif

namespace Corvexis::Files {

namespace {

constexpr std::uint32_t kPolyReflected = 0x82F63B78u;

// Slicing-by-8 tables: table[k][b] is the CRC of byte b followed by k zero bytes.
struct Tables
{
    std::array<std::array<std::uint32_t, 256>, 8> t{};
    Tables()
    {
        for (std::uint32_t b = 0; b < 256; ++b) {
            std::uint32_t c = b;
            for (int i = 0; i < 8; ++i)
                c = (c & 1u) ? (c >> 1) ^ kPolyReflected : c >> 1;
            t[0][b] = c;
        }
        for (std::uint32_t b = 0; b < 256; ++b)
            for (int k = 1; k < 8; ++k)
                t[k][b] = (t[k - 1][b] >> 8) ^ t[0][t[k - 1][b] & 0xFFu];
    }
};

const Tables& tables()
{
    static const Tables instance;
    return instance;
}

std::uint32_t updateSoftware(std::uint32_t c, const unsigned char* p, std::size_t n)
{
    const auto& t = tables().t;
    while (n >= 8) {
        std::uint32_t lo;
        std::uint32_t hi;
        std::memcpy(&lo, p, 4);
        std::memcpy(&hi, p + 4, 4);
        lo ^= c;  // little-endian host: the first byte is the lowest
        c = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^
            t[3][hi & 0xFF] ^ t[2][(hi >> 8) & 0xFF] ^ t[1][(hi >> 16) & 0xFF] ^ t[0][hi >> 24];
        p += 8;
        n -= 8;
    }
    while (n-- > 0)
        c = (c >> 8) ^ t[0][(c ^ *p++) & 0xFFu];
    return c;
}

// Multiplication by x^(8 * bytes) modulo the polynomial, on the reflected CRC register: what feeding
// `bytes` zero bytes through the register does. Built from the 32 x 32 bit matrix of one zero bit by
// repeated squaring, as GF(2) matrices (column i is the image of bit i).
std::uint32_t matrixTimes(const std::uint32_t* matrix, std::uint32_t vector)
{
    std::uint32_t sum = 0;
    for (int i = 0; vector != 0; ++i, vector >>= 1)
        if (vector & 1u)
            sum ^= matrix[i];
    return sum;
}

void matrixSquare(std::uint32_t* square, const std::uint32_t* matrix)
{
    for (int i = 0; i < 32; ++i)
        square[i] = matrixTimes(matrix, matrix[i]);
}

std::uint32_t shiftByZeros(std::uint32_t crc, std::size_t bytes)
{
    std::uint32_t odd[32];
    std::uint32_t even[32];
    odd[0] = kPolyReflected;  // one zero bit
    for (int i = 1; i < 32; ++i)
        odd[i] = 1u << (i - 1);
    matrixSquare(even, odd);  // two zero bits
    matrixSquare(odd, even);  // four zero bits
    // Each round squares once more: 8, 16, 32, ... zero bits, applied where `bytes` has a one.
    do {
        matrixSquare(even, odd);
        if (bytes & 1u)
            crc = matrixTimes(even, crc);
        bytes >>= 1;
        if (bytes == 0)
            break;
        matrixSquare(odd, even);
        if (bytes & 1u)
            crc = matrixTimes(odd, crc);
        bytes >>= 1;
    } while (bytes != 0);
    return crc;
}

#if defined(__x86_64__)
// The CRC32 instruction has a latency of three cycles and a throughput of one per cycle, so one chain
// of dependent instructions uses a third of it. Blocks of 3 x kLane bytes are therefore checksummed as
// three lanes whose registers advance together, then joined by shifting the earlier registers past the
// later lanes with a precomputed operator for kLane zero bytes.
constexpr std::size_t kLane = 4096;

struct LaneShift
{
    std::uint32_t matrix[32];
    LaneShift()
    {
        for (int i = 0; i < 32; ++i)
            matrix[i] = shiftByZeros(1u << i, kLane);
    }
};

std::uint32_t shiftLane(std::uint32_t crc)
{
    static const LaneShift shift;
    return matrixTimes(shift.matrix, crc);
}

__attribute__((target("sse4.2"))) std::uint32_t updateHardware(std::uint32_t c, const unsigned char* p,
                                                               std::size_t n)
{
    std::uint64_t c64 = c;
    while (n >= 3 * kLane) {
        std::uint64_t cb = 0;
        std::uint64_t cd = 0;
        for (std::size_t i = 0; i < kLane; i += 8) {
            std::uint64_t va;
            std::uint64_t vb;
            std::uint64_t vd;
            std::memcpy(&va, p + i, 8);
            std::memcpy(&vb, p + kLane + i, 8);
            std::memcpy(&vd, p + 2 * kLane + i, 8);
            c64 = _mm_crc32_u64(c64, va);
            cb = _mm_crc32_u64(cb, vb);
            cd = _mm_crc32_u64(cd, vd);
        }
        // Registers started at 0 are plain remainders, so joining is shift-then-xor.
        std::uint32_t joined = shiftLane(static_cast<std::uint32_t>(c64)) ^ static_cast<std::uint32_t>(cb);
        joined = shiftLane(joined) ^ static_cast<std::uint32_t>(cd);
        c64 = joined;
        p += 3 * kLane;
        n -= 3 * kLane;
    }
    while (n >= 8) {
        std::uint64_t v;
        std::memcpy(&v, p, 8);
        c64 = _mm_crc32_u64(c64, v);
        p += 8;
        n -= 8;
    }
    auto c32 = static_cast<std::uint32_t>(c64);
    while (n-- > 0)
        c32 = _mm_crc32_u8(c32, *p++);
    return c32;
}

bool hasHardware()
{
    static const bool has = __builtin_cpu_supports("sse4.2");
    return has;
}
#endif

}  // namespace

std::uint32_t crc32cUpdate(std::uint32_t crc, const void* data, std::size_t size)
{
    const auto* p = static_cast<const unsigned char*>(data);
    std::uint32_t c = ~crc;
#if defined(__x86_64__)
    if (hasHardware())
        return ~updateHardware(c, p, size);
#endif
    return ~updateSoftware(c, p, size);
}

}  // namespace Corvexis::Files
