#include "Host/Lib/PluginBase.h"

namespace Corvexis {

PluginBase::PluginBase() = default;

PluginBase::~PluginBase() = default;

std::vector<std::string> PluginBase::dependencies() const
{
    return {};
}

}  // namespace Corvexis
