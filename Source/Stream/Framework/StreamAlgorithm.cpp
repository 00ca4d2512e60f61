#include "Stream/Framework/StreamAlgorithm.h"

namespace Corvexis {

StreamAlgorithm::StreamAlgorithm() = default;

StreamAlgorithm::~StreamAlgorithm() = default;

OwningDataList StreamAlgorithm::takeOutput()
{
    return StreamAlgorithmBase::takeOutput();
}

}  // namespace Corvexis
