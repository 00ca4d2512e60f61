#include "Host/Core/StringUtils.h"

#include <algorithm>
#include <array>
#include <charconv>

namespace Corvexis::String {

std::string fromDouble(double value, int precision)
{
    if (precision < 0)
        precision = kDefaultPrecision;
    precision = std::clamp(precision, 1, 100);
    // With at most 100 significant digits, "%g" never needs more than about 110 characters.
    std::array<char, 160> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                      std::chars_format::general, precision);
    return std::string(buffer.data(), result.ptr);
}

}  // namespace Corvexis::String
