#include "Host/Lib/SequentialImageProcessor.h"

#include "Host/Lib/SharedImage.h"

namespace Corvexis {

SequentialImageProcessor::SequentialImageProcessor() = default;

SequentialImageProcessor::~SequentialImageProcessor() = default;

}  // namespace Corvexis
