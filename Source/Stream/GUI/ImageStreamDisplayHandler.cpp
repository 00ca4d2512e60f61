#include "Stream/GUI/ImageStreamDisplayHandler.h"

#include "Stream/Framework/Stream.h"
#include "Stream/GUI/ImageStreamDisplay.h"

namespace Corvexis {

bool ImageStreamDisplayHandler::canShow(const Data& data) const
{
    const auto* stream = dynamic_cast<const Stream*>(&data);
    return stream != nullptr &&
           (stream->kind() == Data::Kind::ImageStream || stream->kind() == Data::Kind::VolumeStream);
}

std::unique_ptr<DataDisplay> ImageStreamDisplayHandler::createDisplay(Data& data) const
{
    auto* stream = dynamic_cast<Stream*>(&data);
    if (stream == nullptr || !canShow(data))
        return nullptr;
    return std::make_unique<ImageStreamDisplay>(*stream);
}

}  // namespace Corvexis
