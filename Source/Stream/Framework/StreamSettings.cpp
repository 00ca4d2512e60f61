#include "Stream/Framework/StreamSettings.h"

#include <filesystem>

#include "Host/Core/GlobalSettings.h"

namespace Corvexis {

namespace {

// Recordings go below the system's temporary directory unless the user chooses another.
std::string defaultRecordingDirectory()
{
    std::error_code ec;
    std::filesystem::path base = std::filesystem::temp_directory_path(ec);
    if (ec)
        base = "/tmp";
    return (base / "CorvexisRecordings").string();
}

}  // namespace

StreamSettings::StreamSettings()
    : defaultStreamRecorderPath("defaultStreamRecorderPath", defaultRecordingDirectory(), this),
      streamInactivityTimeout("streamInactivityTimeout", 2000, this),
      trackingStreamHistory("trackingStreamHistory", "Limited", this),
      trackingStreamIndicator("trackingStreamIndicator", "Coordinate System", this),
      trackingStreamVisualizationMatrixConvetion("trackingStreamVisualizationMatrixConvetion",
                                                 "Calibration and Registration", this)
{
    defaultStreamRecorderPath.setLabel("Default Stream Recording Directory");
    defaultStreamRecorderPath.setAttribute("OpenDirectory", "true");
    streamInactivityTimeout.setLabel("Stream inactivity timeout [ms]");
    streamInactivityTimeout.setAttribute("tooltip", "Timeout after which a stream is considered inactive");
    trackingStreamHistory.setLabel("Tracking Stream History in 3D View");
    trackingStreamHistory.setAttribute("values", "None, Limited, Unlimited");
    trackingStreamIndicator.setLabel("Tracking Stream Pose Indicator in 3D View");
    trackingStreamIndicator.setAttribute("values", "None, Camera Cone, Coordinate System");
    trackingStreamVisualizationMatrixConvetion.setLabel("Tracking Stream Matrix Convention in 3D View");
    trackingStreamVisualizationMatrixConvetion.setAttribute(
        "values", "Raw Matrix, Calibration Only, Registration Only, Calibration and Registration");

    GlobalSettings::get().restoreConfiguration(kSettingsName, *this);
}

StreamSettings::~StreamSettings()
{
    GlobalSettings::get().storeConfiguration(kSettingsName, *this);
}

void StreamSettings::configuration(Properties* p) const
{
    Configurable::configuration(p);
    if (p)
        p->setAttribute("label", "Stream");
}

}  // namespace Corvexis
