#include "Host/Lib/TrackedSharedImageSet.h"

#include <gtest/gtest.h>

#include "Host/Core/TypedImage.h"

namespace Corvexis {
namespace {

std::shared_ptr<SharedImage> frame()
{
    return std::make_shared<SharedImage>(std::unique_ptr<MemImage>(TypedImage<std::uint8_t>::create(2, 2)));
}

Eigen::Matrix4d translation(double x)
{
    Eigen::Matrix4d m = Eigen::Matrix4d::Identity();
    m(0, 3) = x;
    return m;
}

// Frame times are milliseconds, tracking times seconds: frame 1 at 1500 ms lies half-way between the
// samples at 1 s and 2 s.
TEST(TrackedSharedImageSet, FramesGetThePoseAtTheirTimeOrByIndex)
{
    TrackedSharedImageSet set("tracked");
    set.add(frame(), 1000.0);
    set.add(frame(), 1500.0);
    set.add(frame());  // no time: falls back to its index
    auto ts = std::make_unique<TrackingSequence>();
    ts->add(translation(10), 1.0);
    ts->add(translation(20), 2.0);
    ts->add(translation(40), 3.0);
    set.addTracking(std::move(ts));
    EXPECT_EQ(set.kind(), Data::Kind::TrackedImageSet);

    EXPECT_DOUBLE_EQ(set.frameMatrix(0)(0, 3), 10.0);
    EXPECT_DOUBLE_EQ(set.frameMatrix(1)(0, 3), 15.0);
    EXPECT_DOUBLE_EQ(set.frameMatrix(2)(0, 3), 40.0);
    set.setUseTimestamps(false);
    EXPECT_DOUBLE_EQ(set.frameMatrix(1)(0, 3), 20.0);
    set.setUseTimestamps(true);
    set.applyTrackingToFrames();
    EXPECT_DOUBLE_EQ(set.get(1)->matrix()(0, 3), 15.0);
    EXPECT_TRUE(set.frameMatrix(7).isIdentity());
    EXPECT_TRUE(set.frameMatrix(0, 3).isIdentity());

    auto copy = set.cloneTracked();
    EXPECT_EQ(copy->name(), "tracked");
    ASSERT_EQ(copy->numTracking(), 1);
    EXPECT_TRUE(copy->tracking()->hasSameContent(*set.tracking()));
    EXPECT_NE(copy->tracking(), set.tracking());
    EXPECT_EQ(copy->size(), 3);
}

}  // namespace
}  // namespace Corvexis
