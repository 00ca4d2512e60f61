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

#if defined(__x86_64__)
__attribute__((target("sse4.2"))) std::uint32_t updateHardware(std::uint32_t c, const unsigned char* p,
                                                               std::size_t n)
{
    std::uint64_t c64 = c;
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
