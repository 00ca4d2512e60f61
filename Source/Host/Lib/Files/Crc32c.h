#pragma once

#include <cstddef>
#include <cstdint>

namespace Corvexis::Files {

// CRC-32C (Castagnoli polynomial 0x1EDC6F41, reflected, initial value and final xor 0xFFFFFFFF), the
// checksum of iSCSI, ext4 and btrfs. The processor's CRC32 instruction is used where it exists, a
// table-driven loop otherwise; both give the same values. Thread-safe.
//
//     std::uint32_t crc = crc32cUpdate(0, a, na);
//     crc = crc32cUpdate(crc, b, nb);   // == crc32cUpdate(0, a+b, na+nb)
std::uint32_t crc32cUpdate(std::uint32_t crc, const void* data, std::size_t size);

}  // namespace Corvexis::Files
