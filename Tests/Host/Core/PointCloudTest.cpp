#include "Host/Core/PointCloud.h"

#include <gtest/gtest.h>

#include <Eigen/Geometry>

#include "Host/Core/Log.h"
#include "Host/Core/Mesh.h"
#include "Host/Core/MeshCreator.h"

using namespace Corvexis;

TEST(PointCloudTest, FromMeshKeepsNormalsColoursNameAndPose)
{
    auto sphere = MeshCreator::createSphere(10.0, 2);
    ASSERT_NE(sphere, nullptr);
    sphere->computeVertexNormals();
    std::vector<Eigen::Vector4f> colours;
    for (int i = 0; i < sphere->numberOfVertices(); ++i)
        colours.emplace_back(static_cast<float>(i) / 1000.0f, 0.5f, 0.0f, 1.0f);
    ASSERT_TRUE(sphere->setVertexColors(colours));
    const Eigen::Matrix4d pose = Eigen::Affine3d(Eigen::Translation3d(1, 2, 3)).matrix();
    sphere->setMatrixToWorld(pose);

    auto cloud = PointCloud::fromMesh(*sphere);
    EXPECT_EQ(cloud->kind(), Data::Kind::PointCloud);
    EXPECT_EQ(cloud->name(), sphere->name());
    EXPECT_TRUE(cloud->matrixToWorld().isApprox(pose));
    EXPECT_EQ(cloud->points(), sphere->vertices());
    EXPECT_EQ(cloud->normals(), sphere->vertexNormals());
    EXPECT_EQ(cloud->colors(), colours);
}

TEST(PointCloudTest, FromMeshAveragesHalfEdgeAttributes)
{
    Mesh mesh;
    ASSERT_TRUE(mesh.setGeometry({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 2}, {9, 9, 9}}, {{0, 1, 2}, {0, 3, 1}}));
    mesh.computeHalfEdgeNormals();
    std::vector<Eigen::Vector4f> colours(6, Eigen::Vector4f(1, 0, 0, 1));
    for (std::size_t i = 3; i < 6; ++i)
        colours[i] = Eigen::Vector4f(0, 0, 1, 1);
    ASSERT_TRUE(mesh.setHalfEdgeColors(colours));

    auto cloud = PointCloud::fromMesh(mesh);
    ASSERT_EQ(cloud->numberOfPoints(), 5);
    // Vertex 0 lies in both faces (normals +z and +y), vertex 2 only in the first.
    EXPECT_TRUE(cloud->normals()[0].isApprox(Eigen::Vector3f(0, 1, 1).normalized()));
    EXPECT_TRUE(cloud->normals()[2].isApprox(Eigen::Vector3f::UnitZ()));
    EXPECT_TRUE(cloud->normals()[4].isZero());
    EXPECT_TRUE(cloud->colors()[0].isApprox(Eigen::Vector4f(0.5f, 0, 0.5f, 1)));
    EXPECT_TRUE(cloud->colors()[3].isApprox(Eigen::Vector4f(0, 0, 1, 1)));

    Mesh bare;
    ASSERT_TRUE(bare.setGeometry({{0, 0, 0}}, {}));
    auto bareCloud = PointCloud::fromMesh(bare);
    EXPECT_FALSE(bareCloud->hasNormals());
    EXPECT_FALSE(bareCloud->hasColors());
}

TEST(PointCloudTest, AttributeSizesEnforcedAndCopiesIndependent)
{
    PointCloud cloud("cloud");
    cloud.setPoints({{0, 0, 0}, {1, 0, 0}});
    Log::ScopedCapture capture;
    EXPECT_FALSE(cloud.setNormals({Eigen::Vector3f::UnitZ()}));
    EXPECT_FALSE(cloud.setColors(std::vector<Eigen::Vector4f>(3, Eigen::Vector4f::Ones())));
    EXPECT_TRUE(capture->containsFragment(Log::Level::Warning, "PointCloud", "normals"));
    ASSERT_TRUE(cloud.setNormals({Eigen::Vector3f::UnitZ(), Eigen::Vector3f::UnitZ()}));

    auto copy = cloud.clone();
    ASSERT_TRUE(cloud.transform(Eigen::Affine3d(Eigen::Translation3d(20, 0, 0)).matrix()));
    EXPECT_TRUE(cloud.points()[1].isApprox(Eigen::Vector3f(21, 0, 0)));
    EXPECT_TRUE(cloud.normals()[1].isApprox(Eigen::Vector3f::UnitZ()));
    EXPECT_TRUE(copy->points()[1].isApprox(Eigen::Vector3f(1, 0, 0)));
    EXPECT_FALSE(cloud.transform(Eigen::Matrix4d::Zero()));

    cloud.addPoint({5, 5, 5});
    EXPECT_FALSE(cloud.hasNormals());
    EXPECT_TRUE(copy->hasNormals());
    EXPECT_TRUE(cloud.bounds().max().isApprox(Eigen::Vector3d(21, 5, 5)));
}
