#include "Host/Core/TrackingSequence.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include <Eigen/Geometry>

#include "Host/Core/TimestampDataComponent.h"
#include "Host/Core/TrackingInstrument.h"

namespace Corvexis {
namespace {

Eigen::Matrix4d pose(double angleDeg, const Eigen::Vector3d& axis, const Eigen::Vector3d& translation)
{
    Eigen::Matrix4d m = Eigen::Matrix4d::Identity();
    m.topLeftCorner<3, 3>() =
        Eigen::AngleAxisd(angleDeg * std::numbers::pi / 180.0, axis.normalized()).toRotationMatrix();
    m.topRightCorner<3, 1>() = translation;
    return m;
}

double rotationAngleDeg(const Eigen::Matrix4d& m)
{
    return Eigen::AngleAxisd(Eigen::Matrix3d(m.topLeftCorner<3, 3>())).angle() * 180.0 / std::numbers::pi;
}

TEST(TrackingSequence, InterpolatesAtSamplesBetweenAndOutsideTheRange)
{
    TrackingSequence ts("probe");
    const Eigen::Vector3d z(0, 0, 1);
    ts.add(pose(0, z, {0, 0, 0}), 1.0, 0.2);
    ts.add(pose(90, z, {10, 20, 30}), 2.0, 0.8);

    // At the samples the stored poses come back exactly.
    EXPECT_TRUE(ts.matrixAt(1.0).isApprox(ts.rawMatrix(0), 1e-12));
    EXPECT_TRUE(ts.matrixAt(2.0).isApprox(ts.rawMatrix(1), 1e-12));
    EXPECT_DOUBLE_EQ(ts.qualityAt(2.0), 0.8);

    // A quarter of the way: translation and quality linear, rotation a quarter of the angle.
    const Eigen::Matrix4d q = ts.matrixAt(1.25);
    EXPECT_TRUE((q.topRightCorner<3, 1>().isApprox(Eigen::Vector3d(2.5, 5, 7.5), 1e-12)));
    EXPECT_NEAR(rotationAngleDeg(q), 22.5, 1e-9);
    EXPECT_NEAR(ts.qualityAt(1.25), 0.35, 1e-12);

    // Outside the range the nearest sample holds.
    EXPECT_TRUE(ts.matrixAt(-5.0).isApprox(ts.rawMatrix(0), 1e-12));
    EXPECT_TRUE(ts.matrixAt(99.0).isApprox(ts.rawMatrix(1), 1e-12));
    EXPECT_DOUBLE_EQ(ts.qualityAt(99.0), 0.8);

    TrackingSequence empty;
    EXPECT_TRUE(empty.matrixAt(1.0).isIdentity());
    EXPECT_EQ(empty.qualityAt(1.0), 0.0);
    EXPECT_FALSE(empty.timestamps().has_value());
}

TEST(TrackingSequence, RotationOf170DegreesIsInterpolatedTheShortWay)
{
    TrackingSequence ts;
    const Eigen::Vector3d axis(0, 1, 0);
    ts.add(pose(0, axis, {0, 0, 0}), 0.0);
    ts.add(pose(170, axis, {0, 0, 0}), 1.0);
    EXPECT_NEAR(rotationAngleDeg(ts.matrixAt(0.5)), 85.0, 1e-9);

    // From +170 to -170 degrees the short way is 20 degrees through 180, not 340 through 0.
    TrackingSequence wrap;
    wrap.add(pose(170, axis, {0, 0, 0}), 0.0);
    wrap.add(pose(-170, axis, {0, 0, 0}), 1.0);
    EXPECT_NEAR(rotationAngleDeg(wrap.matrixAt(0.5)), 180.0, 1e-9);
    EXPECT_NEAR(rotationAngleDeg(wrap.matrixAt(0.25)), 175.0, 1e-9);
}

TEST(TrackingSequence, KeepsTimeOrderAndComponentsAlignedThroughAddAndRemoval)
{
    TrackingSequence ts;
    for (double t : {3.0, 1.0, 2.0, 4.0}) {
        const int i = ts.add(Eigen::Matrix4d::Identity(), t, t / 10.0, static_cast<int>(t));
        ts.elementwiseComponents()[static_cast<std::size_t>(i)].emplace<TimestampDataComponent>(
            static_cast<std::uint64_t>(t), 0u);
    }
    ASSERT_EQ(ts.size(), 4);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(ts.timestamp(i), i + 1.0);
        EXPECT_EQ(ts.status(i), i + 1);
        EXPECT_EQ(ts.elementwiseComponents()[static_cast<std::size_t>(i)]
                      .get<TimestampDataComponent>()
                      ->timestampDevice(),
                  static_cast<std::uint64_t>(i + 1));
    }
    EXPECT_EQ(ts.add(Eigen::Matrix4d::Identity(), NAN), -1);

    EXPECT_EQ(ts.removeBefore(2.5), 2);
    ASSERT_EQ(ts.size(), 2);
    EXPECT_EQ(ts.timestamp(0), 3.0);
    EXPECT_EQ(ts.elementwiseComponents().size(), 2u);
    EXPECT_EQ(ts.elementwiseComponents()[0].get<TimestampDataComponent>()->timestampDevice(), 3u);
    ts.removeOldest(10);
    EXPECT_TRUE(ts.empty());
    EXPECT_TRUE(ts.elementwiseComponents().empty());
}

TEST(TrackingSequence, CalibrationRelativityAndTheirSwitchesOnClones)
{
    TrackingSequence ts;
    TrackingInstrument instrument;
    instrument.matrix = pose(30, {1, 0, 0}, {1, 2, 3});
    instrument.quality = 0.5;
    instrument.status = 7;
    ts.add(instrument, 0.5);
    const Eigen::Matrix4d calibration = pose(0, {0, 0, 1}, {0, 0, 5});
    const Eigen::Matrix4d reference = pose(45, {0, 0, 1}, {100, 0, 0});
    ts.setCalibration(calibration);
    ts.setRelativeTracking(true, reference);
    EXPECT_TRUE(ts.matrix(0).isApprox(reference.inverse() * instrument.matrix * calibration, 1e-12));
    EXPECT_TRUE(ts.matrixAt(0.5).isApprox(ts.matrix(0), 1e-12));

    // Playback ignores calibration and relativity on a clone; the original keeps both.
    auto clone = ts.clone();
    clone->setCalibration(Eigen::Matrix4d::Identity());
    clone->setRelativeTracking(false);
    EXPECT_TRUE(clone->matrix(0).isApprox(instrument.matrix, 1e-12));
    EXPECT_TRUE(ts.matrix(0).isApprox(reference.inverse() * instrument.matrix * calibration, 1e-12));
    EXPECT_EQ(clone->status(0), 7);
    EXPECT_EQ(clone->quality(0), 0.5);

    clone->setIgnoreTimestamps(true);
    EXPECT_FALSE(clone->timestamps().has_value());
    ASSERT_TRUE(ts.timestamps().has_value());
    EXPECT_EQ(*ts.timestamps(), std::vector<double>{0.5});
}

}  // namespace
}  // namespace Corvexis
