#include "Stream/GUI/PolyDataDisplayHandler.h"

#include "Stream/Framework/PolyDataStream.h"
#include "Stream/GUI/PolyDataStreamDisplay.h"

namespace Corvexis {

bool PolyDataDisplayHandler::canShow(const Data& data) const
{
    return dynamic_cast<const PolyDataStream*>(&data) != nullptr;
}

std::unique_ptr<DataDisplay> PolyDataDisplayHandler::createDisplay(Data& data) const
{
    auto* stream = dynamic_cast<PolyDataStream*>(&data);
    if (stream == nullptr)
        return nullptr;
    return std::make_unique<PolyDataStreamDisplay>(*stream);
}

}  // namespace Corvexis
