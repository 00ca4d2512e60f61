#pragma once

#include <string>

namespace Corvexis::String {

// The host's default number of significant digits when formatting a double.
inline constexpr int kDefaultPrecision = 6;

// Formats `value` with `precision` significant digits in the shortest of fixed and scientific
// notation, without trailing zeros, as a default std::ostringstream does ("%g"): 30 -> "30",
// 29.97 -> "29.97", 1234567 -> "1.23457e+06", 0.0001 -> "0.0001". Not affected by the process's
// locale (always a decimal point). Non-finite values give "nan", "inf" and "-inf". A precision of 0
// counts as 1, a negative one as the default, and more than 100 as 100. Thread-safe.
std::string fromDouble(double value, int precision = kDefaultPrecision);

}  // namespace Corvexis::String
