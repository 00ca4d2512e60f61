#include "Stream/Framework/StreamSettings.h"

#include <gtest/gtest.h>

#include "Host/Core/GlobalSettings.h"
#include "Host/Core/Properties.h"

using namespace Corvexis;

TEST(StreamSettingsTest, KeysLabelsDefaultsAndAttributes)
{
    GlobalSettings::get().removeSection(StreamSettings::kSettingsName);
    StreamSettings settings;
    Properties p;
    settings.configuration(&p);
    EXPECT_EQ(p.attribute("label"), "Stream");

    EXPECT_EQ(p.param<int>("streamInactivityTimeout", 0), 2000);
    EXPECT_EQ(p.paramAttribute("streamInactivityTimeout", "label"), "Stream inactivity timeout [ms]");
    EXPECT_EQ(p.paramAttribute("streamInactivityTimeout", "tooltip"),
              "Timeout after which a stream is considered inactive");

    EXPECT_EQ(p.param<std::string>("trackingStreamHistory", ""), "Limited");
    EXPECT_EQ(p.paramAttribute("trackingStreamHistory", "values"), "None, Limited, Unlimited");
    EXPECT_EQ(p.param<std::string>("trackingStreamIndicator", ""), "Coordinate System");
    EXPECT_EQ(p.paramAttribute("trackingStreamIndicator", "values"), "None, Camera Cone, Coordinate System");
    EXPECT_EQ(p.param<std::string>("trackingStreamVisualizationMatrixConvetion", ""),
              "Calibration and Registration");
    EXPECT_EQ(p.paramAttribute("trackingStreamVisualizationMatrixConvetion", "label"),
              "Tracking Stream Matrix Convention in 3D View");

    const std::string path = p.param<std::string>("defaultStreamRecorderPath", "");
    EXPECT_NE(path.find("CorvexisRecordings"), std::string::npos);
    EXPECT_EQ(p.paramAttribute("defaultStreamRecorderPath", "label"), "Default Stream Recording Directory");
    EXPECT_FALSE(p.paramAttribute("defaultStreamRecorderPath", "OpenDirectory").empty());
}

TEST(StreamSettingsTest, StoredInTheGlobalSettingsWhenDestroyedAndRestoredWhenMade)
{
    GlobalSettings::get().removeSection(StreamSettings::kSettingsName);
    {
        StreamSettings settings;
        settings.streamInactivityTimeout.setValue(4500);
        settings.trackingStreamHistory.setValue("Unlimited");
    }
    auto section = GlobalSettings::get().section(StreamSettings::kSettingsName);
    ASSERT_NE(section, nullptr);
    EXPECT_EQ(section->param<int>("streamInactivityTimeout", 0), 4500);

    StreamSettings restored;
    EXPECT_EQ(restored.streamInactivityTimeout.value(), 4500);
    EXPECT_EQ(restored.trackingStreamHistory.value(), "Unlimited");
    restored.configureDefaults();
    EXPECT_EQ(restored.streamInactivityTimeout.value(), 2000);
}
