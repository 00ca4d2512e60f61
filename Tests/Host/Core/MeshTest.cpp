#include "Host/Core/Mesh.h"

#include <gtest/gtest.h>

#include <cmath>

#include <Eigen/Geometry>

#include "Host/Core/Log.h"

using namespace Corvexis;

namespace {

// Unit square in z = 0 made of two counter-clockwise triangles.
Mesh squareMesh()
{
    Mesh mesh("square");
    EXPECT_TRUE(mesh.setGeometry({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}, {{0, 1, 2}, {0, 2, 3}}));
    return mesh;
}

}  // namespace

TEST(MeshTest, KindAndEmptyState)
{
    Mesh mesh;
    EXPECT_EQ(mesh.kind(), Data::Kind::Mesh);
    EXPECT_TRUE(mesh.isEmpty());
    EXPECT_TRUE(mesh.bounds().isEmpty());
    mesh.computeVertexNormals();
    EXPECT_FALSE(mesh.hasVertexNormals());
}

TEST(MeshTest, ComputeVertexNormalsOnKnownMesh)
{
    Mesh mesh = squareMesh();
    mesh.computeVertexNormals();
    ASSERT_TRUE(mesh.hasVertexNormals());
    for (const Eigen::Vector3f& n : mesh.vertexNormals())
        EXPECT_TRUE(n.isApprox(Eigen::Vector3f::UnitZ()));

    // A right-angled fold along the x axis: vertex on the fold gets the area-weighted mean.
    Mesh fold;
    ASSERT_TRUE(fold.setGeometry({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 2}, {5, 5, 5}},
                                 {{0, 1, 2}, {0, 3, 1}}));
    fold.computeVertexNormals();
    // Face 0 normal +z, area 0.5; face 1 normal +y, area 1: weighted (0, 1, 0.5) normalised.
    EXPECT_TRUE(fold.vertexNormals()[0].isApprox(Eigen::Vector3f(0, 1, 0.5f).normalized()));
    EXPECT_TRUE(fold.vertexNormals()[2].isApprox(Eigen::Vector3f::UnitZ()));
    EXPECT_TRUE(fold.vertexNormals()[3].isApprox(Eigen::Vector3f::UnitY()));
    EXPECT_TRUE(fold.vertexNormals()[4].isZero());  // in no face

    fold.computeHalfEdgeNormals();
    ASSERT_EQ(fold.halfEdgeNormals().size(), 6u);
    EXPECT_TRUE(fold.halfEdgeNormals()[0].isApprox(Eigen::Vector3f::UnitZ()));
    EXPECT_TRUE(fold.halfEdgeNormals()[3].isApprox(Eigen::Vector3f::UnitY()));
}

TEST(MeshTest, BadFaceIndicesRefusedWithoutChange)
{
    Mesh mesh = squareMesh();
    Log::ScopedCapture capture;
    EXPECT_FALSE(mesh.setGeometry({{0, 0, 0}, {1, 0, 0}}, {{0, 1, 2}}));
    EXPECT_FALSE(mesh.addFace({0, -1, 2}));
    EXPECT_FALSE(mesh.addFace({0, 1, 4}));
    EXPECT_FALSE(mesh.setVertex(4, {0, 0, 0}));
    EXPECT_EQ(mesh.numberOfVertices(), 4);
    EXPECT_EQ(mesh.numberOfFaces(), 2);
    EXPECT_TRUE(capture->containsFragment(Log::Level::Warning, "Mesh", "uses vertex index 2"));
    EXPECT_TRUE(capture->containsFragment(Log::Level::Warning, "Mesh", "uses vertex index -1"));
}

TEST(MeshTest, AttributeSizesEnforcedAndDroppedOnChange)
{
    Mesh mesh = squareMesh();
    Log::ScopedCapture capture;
    EXPECT_FALSE(mesh.setVertexNormals(std::vector<Eigen::Vector3f>(3, Eigen::Vector3f::UnitZ())));
    EXPECT_FALSE(mesh.setHalfEdgeColors(std::vector<Eigen::Vector4f>(4, Eigen::Vector4f::Ones())));
    EXPECT_FALSE(mesh.hasVertexNormals());
    EXPECT_TRUE(capture->containsFragment(Log::Level::Warning, "Mesh", "half-edge colours"));

    EXPECT_TRUE(mesh.setVertexColors(std::vector<Eigen::Vector4f>(4, Eigen::Vector4f(1, 0, 0, 1))));
    EXPECT_TRUE(mesh.setHalfEdgeColors(std::vector<Eigen::Vector4f>(6, Eigen::Vector4f::Ones())));
    EXPECT_TRUE(mesh.addFace({1, 3, 2}));  // half-edge colours no longer complete
    EXPECT_FALSE(mesh.hasHalfEdgeColors());
    EXPECT_TRUE(mesh.hasVertexColors());
    mesh.addVertex({2, 2, 2});  // vertex colours no longer complete
    EXPECT_FALSE(mesh.hasVertexColors());
}

TEST(MeshTest, CopyAndTransformKeepAttributesApart)
{
    Mesh mesh = squareMesh();
    mesh.computeVertexNormals();
    mesh.setMatrixToWorld(Eigen::Matrix4d::Identity());
    auto copy = mesh.clone();

    Eigen::Matrix4d m = (Eigen::Translation3d(10, 0, 0) * Eigen::AngleAxisd(M_PI / 2, Eigen::Vector3d::UnitX()) *
                         Eigen::Scaling(2.0, 1.0, 1.0))
                            .matrix();
    ASSERT_TRUE(mesh.transform(m));
    EXPECT_TRUE(mesh.vertices()[2].isApprox(Eigen::Vector3f(12, 0, 1)));
    EXPECT_TRUE(mesh.vertexNormals()[0].isApprox(Eigen::Vector3f(0, -1, 0)));
    EXPECT_TRUE(copy->vertices()[2].isApprox(Eigen::Vector3f(1, 1, 0)));
    EXPECT_EQ(copy->name(), "square");

    Log::ScopedCapture capture;
    EXPECT_FALSE(mesh.transform(Eigen::Matrix4d::Zero()));
    EXPECT_TRUE(mesh.vertices()[2].isApprox(Eigen::Vector3f(12, 0, 1)));

    copy->setMatrixToWorld((Eigen::Affine3d(Eigen::Translation3d(0, 0, 5))).matrix());
    EXPECT_TRUE(copy->bounds().min().isApprox(Eigen::Vector3d(0, 0, 5)));
    EXPECT_TRUE(copy->bounds().max().isApprox(Eigen::Vector3d(1, 1, 5)));
}
