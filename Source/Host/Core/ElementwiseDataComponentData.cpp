#include "Host/Core/ElementwiseDataComponentData.h"

namespace Corvexis {

ElementwiseDataComponentData::~ElementwiseDataComponentData() = default;

}  // namespace Corvexis
