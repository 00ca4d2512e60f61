#include "Host/Lib/Image.h"

namespace Corvexis::Image {

std::string locationName(Location location)
{
    switch (location) {
        case Location::Empty:
            return "Empty";
        case Location::Memory:
            return "Memory";
        case Location::OpenGL:
            return "OpenGL";
        case Location::OpenCL:
            return "OpenCL";
        case Location::Custom:
            return "Custom";
    }
    return "Invalid (" + std::to_string(static_cast<int>(location)) + ")";
}

}  // namespace Corvexis::Image
