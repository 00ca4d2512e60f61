#include "Stream/Framework/StreamIoAlgorithm.h"

#include "Stream/Framework/Stream.h"

namespace Corvexis {

StreamIoAlgorithm::StreamIoAlgorithm() = default;

StreamIoAlgorithm::~StreamIoAlgorithm() = default;

OwningDataList StreamIoAlgorithm::takeOutput()
{
    return StreamAlgorithmBase::takeOutput();
}

}  // namespace Corvexis
