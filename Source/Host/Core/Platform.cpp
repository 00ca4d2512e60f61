#include "Host/Core/Platform.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>

#include "Host/Core/Log.h"

namespace Corvexis::Platform {

namespace {

// One "Key:   1234 kB" line. A present but malformed line fails the whole parse rather than being
// skipped, since a silently wrong memory figure is worse than none.
struct Field
{
    bool present = false;
    bool valid = false;
    uint64_t bytes = 0;
};

Field findField(std::string_view text, std::string_view key)
{
    Field field;
    size_t lineStart = 0;
    while (lineStart < text.size()) {
        size_t lineEnd = text.find('\n', lineStart);
        if (lineEnd == std::string_view::npos)
            lineEnd = text.size();
        std::string_view line = text.substr(lineStart, lineEnd - lineStart);
        lineStart = lineEnd + 1;
        if (line.size() <= key.size() || line.substr(0, key.size()) != key || line[key.size()] != ':')
            continue;
        field.present = true;
        std::string_view rest = line.substr(key.size() + 1);
        const size_t digits = rest.find_first_not_of(' ');
        if (digits == std::string_view::npos)
            return field;
        rest.remove_prefix(digits);
        uint64_t value = 0;
        const auto [end, ec] = std::from_chars(rest.data(), rest.data() + rest.size(), value);
        if (ec != std::errc())
            return field;
        std::string_view unit = rest.substr(static_cast<size_t>(end - rest.data()));
        while (!unit.empty() && unit.front() == ' ')
            unit.remove_prefix(1);
        while (!unit.empty() && (unit.back() == ' ' || unit.back() == '\r'))
            unit.remove_suffix(1);
        uint64_t scale = 1;
        if (unit == "kB")
            scale = 1024;
        else if (!unit.empty())
            return field;
        if (value > std::numeric_limits<uint64_t>::max() / scale)
            return field;
        field.valid = true;
        field.bytes = value * scale;
        return field;
    }
    return field;
}

}  // namespace

std::optional<MemoryInfo> parseMemoryInfo(std::string_view procMeminfoText)
{
    const Field total = findField(procMeminfoText, "MemTotal");
    if (!total.valid)
        return std::nullopt;
    MemoryInfo info;
    info.totalBytes = total.bytes;
    const Field available = findField(procMeminfoText, "MemAvailable");
    if (available.present) {
        if (!available.valid)
            return std::nullopt;
        info.availableBytes = available.bytes;
        return info;
    }
    uint64_t estimate = 0;
    for (const auto key : {"MemFree", "Buffers", "Cached"}) {
        const Field part = findField(procMeminfoText, key);
        if (!part.valid)
            return std::nullopt;
        estimate += part.bytes;
    }
    info.availableBytes = std::min(estimate, info.totalBytes);
    return info;
}

std::optional<MemoryInfo> memoryInfo()
{
    std::ifstream file("/proc/meminfo");
    if (!file) {
        Log::log(Log::Level::Warning, "Platform", "Cannot open /proc/meminfo");
        return std::nullopt;
    }
    std::ostringstream text;
    text << file.rdbuf();
    auto info = parseMemoryInfo(text.str());
    if (!info)
        Log::log(Log::Level::Warning, "Platform", "Cannot parse the memory figures of /proc/meminfo");
    return info;
}

}  // namespace Corvexis::Platform
