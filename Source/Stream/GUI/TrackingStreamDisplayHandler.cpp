#include "Stream/GUI/TrackingStreamDisplayHandler.h"

#include "Stream/Framework/TrackingStream.h"
#include "Stream/GUI/TrackingStreamDisplay.h"

namespace Corvexis {

bool TrackingStreamDisplayHandler::canShow(const Data& data) const
{
    return dynamic_cast<const TrackingStream*>(&data) != nullptr;
}

std::unique_ptr<DataDisplay> TrackingStreamDisplayHandler::createDisplay(Data& data) const
{
    auto* stream = dynamic_cast<TrackingStream*>(&data);
    if (stream == nullptr)
        return nullptr;
    return std::make_unique<TrackingStreamDisplay>(*stream);
}

}  // namespace Corvexis
