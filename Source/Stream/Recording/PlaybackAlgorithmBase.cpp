#include "Stream/Recording/PlaybackAlgorithmBase.h"

#include "Host/Core/SettingsSchema.h"

namespace Corvexis {

PlaybackAlgorithmBase::PlaybackAlgorithmBase()
{
    speedFactor.setAttribute("min", "0.001");
}

PlaybackAlgorithmBase::~PlaybackAlgorithmBase() = default;

void PlaybackAlgorithmBase::configure(const Properties* properties)
{
    StreamAlgorithm::configure(properties);
    double fps = 0.0;
    if (properties != nullptr && properties->getParam("Fps", fps))
        fps_ = fps;
}

void PlaybackAlgorithmBase::describeSettings(Properties* schema) const
{
    if (schema == nullptr)
        return;
    StreamAlgorithm::describeSettings(schema);
    SettingsSchema::add(*schema, "Fps", kDefaultFps,
                        "frames per second to play at instead of the recorded rate");
    schema->setParamAttribute("Fps", "min", "0.001");
}

}  // namespace Corvexis
