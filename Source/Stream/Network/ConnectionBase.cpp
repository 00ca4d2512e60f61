#include "Stream/Network/ConnectionBase.h"

namespace Corvexis::Network {

ConnectionBase::~ConnectionBase() = default;

}  // namespace Corvexis::Network
