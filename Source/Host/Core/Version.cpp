#include "Host/Core/Version.h"

namespace Corvexis::Utils {

std::string Version::toString() const
{
    return std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(patch);
}

}  // namespace Corvexis::Utils
