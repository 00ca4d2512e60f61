#include "Host/Core/DataComponentBase.h"

namespace Corvexis {

DataComponentBase::~DataComponentBase() = default;

void DataComponentBase::configure(const Properties*) {}

void DataComponentBase::configuration(Properties*) const {}

}  // namespace Corvexis
