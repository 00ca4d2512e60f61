#include "Stream/Framework/InstrumentCalibrationDataComponent.h"

#include <gtest/gtest.h>

#include "Host/Core/DataComponentList.h"
#include "Host/Core/Log.h"
#include "Host/Core/Properties.h"

namespace Corvexis {
namespace {

Eigen::Matrix4d shifted(double x)
{
    Eigen::Matrix4d m = Eigen::Matrix4d::Identity();
    m(0, 3) = x;
    return m;
}

TEST(InstrumentCalibrationDataComponent, SetSignalsAndCopiesCompareByCalibrations)
{
    InstrumentCalibrationDataComponent c;
    std::vector<std::string> changed;
    c.signalCalibrationChanged.connect(
        [&](const std::string& id, const InstrumentCalibrationDataComponent::Calibration& cal) {
            changed.push_back(id + ":" + std::to_string(cal.temporal));
        });
    c.setCalibration("b", shifted(1), 0.5);
    c.setCalibration("a", {shifted(2), 1.5});
    c.setCalibration("b", shifted(3), 2.0);
    EXPECT_EQ(changed.size(), 3u);
    EXPECT_EQ(c.calibration("b")->spatial, shifted(3));
    EXPECT_FALSE(c.calibration("zz"));

    InstrumentCalibrationDataComponent copy(c);
    EXPECT_EQ(copy, c);
    EXPECT_EQ(copy.signalCalibrationChanged.connectionCount(), 0u);
    copy.setCalibration("a", shifted(2), 9.0);
    EXPECT_FALSE(copy == c);
    EXPECT_EQ(changed.size(), 3u);  // the copy does not reach the original's receivers

    DataComponentList list;
    list.add(c.clone());
    const auto* stored = list.get<InstrumentCalibrationDataComponent>();
    ASSERT_NE(stored, nullptr);
    EXPECT_EQ(*stored, c);
}

TEST(InstrumentCalibrationDataComponent, ConfigurationRoundTripInIdentifierOrder)
{
    InstrumentCalibrationDataComponent c;
    c.setCalibration("z", shifted(-1.25), 3.0);
    c.setCalibration("a", shifted(0.1), -2.5);
    Properties p;
    c.configuration(&p);
    const auto blocks = p.subPropertiesList("Calibration");
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[0]->param("instrument", ""), "a");
    EXPECT_EQ(blocks[1]->param("instrument", ""), "z");

    InstrumentCalibrationDataComponent loaded;
    loaded.configure(&p);
    EXPECT_EQ(loaded, c);
}

TEST(InstrumentCalibrationDataComponent, ConfigureDefaultsAndSkipsBadBlocks)
{
    Log::ScopedCapture capture;
    Properties p;
    p.addSubProperties("Calibration")->setParam("instrument", "bare");
    Properties* bad = p.addSubProperties("Calibration");
    bad->setParam("instrument", "bad");
    bad->setParam("spatial", "1 2 3");
    p.addSubProperties("Calibration")->setParam("temporal", 4.0);  // no identifier

    InstrumentCalibrationDataComponent c;
    c.configure(&p);
    ASSERT_TRUE(c.calibration("bare"));
    EXPECT_TRUE(c.calibration("bare")->spatial.isIdentity(0.0));
    EXPECT_EQ(c.calibration("bare")->temporal, 0.0);
    EXPECT_FALSE(c.calibration("bad"));
    EXPECT_EQ(capture.sink().count(Log::Level::Error, "InstrumentCalibrationDataComponent",
                                   "Could not load Calibration suproperties"),
              2u);
}

}  // namespace
}  // namespace Corvexis
