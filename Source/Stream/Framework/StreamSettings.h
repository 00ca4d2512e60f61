#pragma once

#include <string>

#include "Host/Core/Configurable.h"
#include "Host/Core/Parameter.h"

namespace Corvexis {

// The plug-in's global settings. Loaded from the host's GlobalSettings when made and stored back there
// when destroyed. Parameters are thread-safe to read and set.
class StreamSettings : public Configurable
{
public:
    StreamSettings();
    ~StreamSettings() override;

    // Adds the attribute "label" = "Stream" to the written block.
    void configuration(Properties* p) const override;

    // Name of the block in GlobalSettings.
    static constexpr const char* kSettingsName = "Stream";

    Parameter<std::string> defaultStreamRecorderPath;
    Parameter<int> streamInactivityTimeout;  // ms
    Parameter<std::string> trackingStreamHistory;
    Parameter<std::string> trackingStreamIndicator;
    Parameter<std::string> trackingStreamVisualizationMatrixConvetion;
};

}  // namespace Corvexis
