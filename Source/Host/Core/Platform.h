#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace Corvexis::Platform {

struct MemoryInfo
{
    uint64_t totalBytes = 0;      // physical memory
    uint64_t availableBytes = 0;  // memory that new allocations can get without swapping
};

// Physical and available memory of the machine, read from /proc/meminfo. Empty (with a warning under
// the category "Platform") when the file cannot be read or lacks the needed lines. Thread-safe.
std::optional<MemoryInfo> memoryInfo();

// Parses the text of /proc/meminfo ("MemTotal:  16318164 kB" lines). Available memory is the
// "MemAvailable" line; kernels older than 3.14 lack it, and then it is estimated as
// MemFree + Buffers + Cached. Empty when MemTotal or every source of the available amount is missing,
// or a value is malformed. Thread-safe.
std::optional<MemoryInfo> parseMemoryInfo(std::string_view procMeminfoText);

}  // namespace Corvexis::Platform
