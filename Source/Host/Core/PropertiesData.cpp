#include "Host/Core/PropertiesData.h"

namespace Corvexis {

PropertiesData::PropertiesData(Properties properties, std::string name)
    : Data(std::move(name)), properties_(std::move(properties))
{
}

PropertiesData::~PropertiesData() = default;

}  // namespace Corvexis
