#include "Host/Lib/DataDisplayHandler.h"

namespace Corvexis {

DataDisplayHandler::DataDisplayHandler() = default;

DataDisplayHandler::~DataDisplayHandler() = default;

}  // namespace Corvexis
