#pragma once

#include <memory>

#include "Stream/IGTL/CreateDeviceAlgorithm.h"

namespace Corvexis {
class DataList;
}

namespace Corvexis::IGTL {

// "IGTLink Data IO": CreateDeviceAlgorithm for a connection chosen among the inputs. The first input
// must be a Connection; a second input is the data an output data device sends once. Threading as
// CreateDeviceAlgorithm.
class CreateDataIoAlgorithm : public CreateDeviceAlgorithm
{
public:
    using CreateDeviceAlgorithm::CreateDeviceAlgorithm;

    static bool createCompatible(const DataList& inputs, std::unique_ptr<Algorithm>* algorithm);
};

}  // namespace Corvexis::IGTL
