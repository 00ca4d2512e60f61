#include "Stream/IGTL/CreateDataIoAlgorithm.h"

#include "Host/Core/DataList.h"
#include "Stream/IGTL/Connection.h"

namespace Corvexis::IGTL {

bool CreateDataIoAlgorithm::createCompatible(const DataList& inputs, std::unique_ptr<Algorithm>* algorithm)
{
    if (inputs.size() < 1 || inputs.size() > 2)
        return false;
    auto* connection = dynamic_cast<Connection*>(inputs[0]);
    if (connection == nullptr)
        return false;
    if (algorithm != nullptr)
        *algorithm =
            std::make_unique<CreateDataIoAlgorithm>(connection, inputs.size() == 2 ? inputs[1] : nullptr);
    return true;
}

}  // namespace Corvexis::IGTL
