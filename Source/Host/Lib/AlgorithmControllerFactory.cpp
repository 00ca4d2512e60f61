#include "Host/Lib/AlgorithmControllerFactory.h"

#include <algorithm>

namespace Corvexis {

AlgorithmControllerFactory::AlgorithmControllerFactory() = default;

AlgorithmControllerFactory::~AlgorithmControllerFactory() = default;

std::vector<std::string> AlgorithmControllerFactory::menuEntries() const
{
    std::lock_guard lock(mutex_);
    return menuEntries_;
}

void AlgorithmControllerFactory::registerMenuEntry(const std::string& menuPath)
{
    std::lock_guard lock(mutex_);
    if (std::find(menuEntries_.begin(), menuEntries_.end(), menuPath) == menuEntries_.end())
        menuEntries_.push_back(menuPath);
}

}  // namespace Corvexis
