#include "Host/Core/Framework.h"

namespace Corvexis::Framework {

Utils::Version version()
{
    return Utils::Version{4, 5, 0};
}

}  // namespace Corvexis::Framework
