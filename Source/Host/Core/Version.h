#pragma once

#include <string>

namespace Corvexis::Utils {

// A three-part version number (major.minor.patch). A plain value; caller synchronises.
struct Version
{
    int major = 0;
    int minor = 0;
    int patch = 0;

    // "4.5.0".
    std::string toString() const;

    bool operator==(const Version&) const = default;
};

}  // namespace Corvexis::Utils
