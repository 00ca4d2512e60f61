#include "Stream/StreamIoAlgorithm.h"

#include "Stream/Stream.h"

namespace Corvexis {

StreamIoAlgorithm::StreamIoAlgorithm() = default;

StreamIoAlgorithm::~StreamIoAlgorithm() = default;

OwningDataList StreamIoAlgorithm::takeOutput()
{
    return StreamAlgorithmBase::takeOutput();
}

}  // namespace Corvexis
