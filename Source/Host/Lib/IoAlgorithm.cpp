#include "Host/Lib/IoAlgorithm.h"

namespace Corvexis {

IoAlgorithm::IoAlgorithm() = default;

IoAlgorithm::~IoAlgorithm() = default;

std::string IoAlgorithm::location() const
{
    std::lock_guard lock(locationMutex_);
    return location_;
}

void IoAlgorithm::setLocation(const std::string& location)
{
    std::lock_guard lock(locationMutex_);
    location_ = location;
}

}  // namespace Corvexis
