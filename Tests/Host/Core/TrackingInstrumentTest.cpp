#include "Host/Core/TrackingInstrument.h"

#include <gtest/gtest.h>

#include <limits>

using namespace Corvexis;

TEST(TrackingInstrumentTest, TrackerIdConstructorsTakeTheNameLast)
{
    TrackerID onlyId("probe-1");
    EXPECT_EQ(onlyId.ID(), "probe-1");
    EXPECT_EQ(onlyId.name(), "");
    EXPECT_EQ(onlyId.displayName(), "probe-1");

    TrackerID withName("probe-1", "Probe");
    EXPECT_EQ(withName.name(), "Probe");
    EXPECT_EQ(withName.modelNumber(), "");

    TrackerID full("probe-1", "MX-200", "Probe");
    EXPECT_EQ(full.modelNumber(), "MX-200");
    EXPECT_EQ(full.name(), "Probe");
    EXPECT_FALSE(full == withName);
    full.setModelNumber("");
    EXPECT_TRUE(full == withName);
}

TEST(TrackingInstrumentTest, DefaultsAndEqualityOverEveryField)
{
    TrackingInstrument a(TrackerID("ref", "Reference"));
    EXPECT_EQ(a.matrix, Eigen::Matrix4d::Identity());
    EXPECT_EQ(a.quality, 0.0);
    EXPECT_EQ(a.timestamp, 0u);
    EXPECT_EQ(a.status, 0);
    EXPECT_TRUE(a.active);
    EXPECT_FALSE(TrackingInstrument(TrackerID("x"), false).active);

    TrackingInstrument b = a;
    EXPECT_EQ(a, b);
    b.matrix(1, 3) = 2.5;
    EXPECT_NE(a, b);
    b = a;
    b.status = 3;
    EXPECT_NE(a, b);
    b = a;
    b.timestamp = 1;
    EXPECT_NE(a, b);
    b = a;
    b.id.setName("Other");
    EXPECT_NE(a, b);
    b = a;
    b.quality = std::numeric_limits<double>::quiet_NaN();
    EXPECT_NE(b, b);  // a NaN quality never compares equal, so a change to or from NaN is seen
}
