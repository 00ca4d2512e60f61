#include "Host/Lib/DataDisplay.h"

namespace Corvexis {

DataDisplay::DataDisplay() = default;

DataDisplay::~DataDisplay() = default;

bool DataDisplay::isActive() const
{
    return false;
}

std::vector<std::string> DataDisplay::requests() const
{
    return {};
}

bool DataDisplay::request(const std::string&)
{
    return false;
}

}  // namespace Corvexis
