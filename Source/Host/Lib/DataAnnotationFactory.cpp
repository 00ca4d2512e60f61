#include "Host/Lib/DataAnnotationFactory.h"

namespace Corvexis {

DataAnnotationFactory::DataAnnotationFactory() = default;

DataAnnotationFactory::~DataAnnotationFactory() = default;

}  // namespace Corvexis
