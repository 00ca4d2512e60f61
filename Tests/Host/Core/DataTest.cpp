#include "Host/Core/Data.h"

#include <gtest/gtest.h>

#include <limits>

#include <Eigen/Geometry>

#include "Host/Core/Log.h"
#include "Host/Core/TimestampDataComponent.h"

using namespace Corvexis;

namespace {

class PlainData : public Data
{
public:
    using Data::Data;
    Kind kind() const override { return Kind::Image; }
};

// A data item that addresses its pose from world to data, as streams do.
class FromWorldData : public Data
{
public:
    using Data::Data;
    Kind kind() const override { return Kind::ImageStream; }
    int matrixConvention() const override { return kMatrixFromWorld; }
};

Eigen::Matrix4d somePose()
{
    Eigen::Affine3d t = Eigen::Translation3d(10, -20, 5) * Eigen::AngleAxisd(0.3, Eigen::Vector3d::UnitZ());
    return t.matrix();
}

}  // namespace

TEST(DataTest, KindAndModalityValuesArePersistent)
{
    EXPECT_EQ(static_cast<int>(Data::Kind::Image), 1);
    EXPECT_EQ(static_cast<int>(Data::Kind::Volume), 2);
    EXPECT_EQ(static_cast<int>(Data::Kind::ImageStream), 5);
    EXPECT_EQ(static_cast<int>(Data::Kind::VolumeStream), 6);
    EXPECT_EQ(static_cast<int>(Data::Kind::TrackingStream), 9);
    EXPECT_EQ(static_cast<int>(Data::Kind::PolyDataStream), 13);
    EXPECT_EQ(static_cast<int>(Data::Kind::EncodedImageStream), 15);
    EXPECT_EQ(static_cast<int>(Data::Modality::None), 0);
    EXPECT_EQ(static_cast<int>(Data::Modality::Xray), 1);
    EXPECT_EQ(static_cast<int>(Data::Modality::Ultrasound), 4);
    EXPECT_EQ(static_cast<int>(Data::Modality::Video), 5);
    EXPECT_EQ(static_cast<int>(Data::Modality::Oct), 7);
    EXPECT_EQ(static_cast<int>(Data::Modality::Label), 8);
}

TEST(DataTest, ModalityTextsRoundTrip)
{
    EXPECT_EQ(Data::modalityString(Data::Modality::None), "");
    EXPECT_EQ(Data::modalityString(Data::Modality::Ultrasound), "Ultrasound");
    EXPECT_EQ(Data::modalityString(static_cast<Data::Modality>(42)), "Unknown");
    for (int v = 0; v <= 9; ++v) {
        const auto m = static_cast<Data::Modality>(v);
        EXPECT_EQ(Data::modalityFromString(Data::modalityString(m)), m) << v;
    }
    EXPECT_EQ(Data::modalityFromString("x-ray"), Data::Modality::Xray);
    EXPECT_EQ(Data::modalityFromString("None"), Data::Modality::None);
    EXPECT_FALSE(Data::modalityFromString("Sonar").has_value());
    EXPECT_EQ(Data::kindString(Data::Kind::TrackingStream), "Tracking Stream");
    EXPECT_EQ(Data::kindString(static_cast<Data::Kind>(14)), "Unknown");
}

TEST(DataTest, DefaultsOfTheDataSlots)
{
    PlainData d("Volume 1");
    EXPECT_EQ(d.name(), "Volume 1");
    d.setName("Renamed");
    EXPECT_EQ(d.name(), "Renamed");
    EXPECT_EQ(d.modality(), Data::Modality::None);
    EXPECT_EQ(d.matrixConvention(), Data::kMatrixToWorld);
    EXPECT_FALSE(d.isAnnotationType());
    EXPECT_TRUE(d.bounds().isEmpty());
    EXPECT_EQ(d.matrix(), Eigen::Matrix4d::Identity());
}

TEST(DataTest, MatrixFollowsTheItemsConvention)
{
    const Eigen::Matrix4d pose = somePose();

    PlainData toWorld;
    toWorld.setMatrix(pose);
    EXPECT_TRUE(toWorld.matrixToWorld().isApprox(pose));
    EXPECT_TRUE(toWorld.matrixFromWorld().isApprox(pose.inverse()));

    FromWorldData fromWorld;
    fromWorld.setMatrix(pose);
    EXPECT_TRUE(fromWorld.matrixFromWorld().isApprox(pose));
    EXPECT_TRUE(fromWorld.matrixToWorld().isApprox(pose.inverse()));
    EXPECT_TRUE(fromWorld.matrix().isApprox(pose));

    fromWorld.setMatrixToWorld(pose);
    EXPECT_TRUE(fromWorld.matrix().isApprox(pose.inverse()));
}

TEST(DataTest, SingularOrNonFinitePoseIsRefusedAndOldPoseKept)
{
    PlainData d;
    d.setMatrixToWorld(somePose());
    Log::ScopedCapture capture;
    d.setMatrixToWorld(Eigen::Matrix4d::Zero());
    Eigen::Matrix4d nan = Eigen::Matrix4d::Identity();
    nan(0, 3) = std::numeric_limits<double>::quiet_NaN();
    d.setMatrixFromWorld(nan);
    EXPECT_TRUE(d.matrixToWorld().isApprox(somePose()));
    EXPECT_EQ(capture->records().size(), 2u);
    EXPECT_TRUE(capture->containsFragment(Log::Level::Warning, "Data", "not invertible"));
}

TEST(DataTest, CopyClonesComponentsAndKeepsNameAndPose)
{
    PlainData a("A");
    a.setMatrixToWorld(somePose());
    a.components().emplace<TimestampDataComponent>(1u, 2u);

    PlainData b(a);
    EXPECT_EQ(b.name(), "A");
    EXPECT_TRUE(b.matrixToWorld().isApprox(somePose()));
    ASSERT_NE(b.components().get<TimestampDataComponent>(), nullptr);
    EXPECT_NE(b.components().get<TimestampDataComponent>(), a.components().get<TimestampDataComponent>());
    b.components().get<TimestampDataComponent>()->setTimestampDevice(99);
    EXPECT_EQ(a.components().get<TimestampDataComponent>()->timestampDevice(), 1u);

    PlainData c("C");
    c = a;
    EXPECT_EQ(c.name(), "A");
    EXPECT_EQ(c.components().size(), 1u);
}
