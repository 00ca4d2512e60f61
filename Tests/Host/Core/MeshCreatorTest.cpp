#include "Host/Core/MeshCreator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <utility>

#include "Host/Core/Log.h"

using namespace Corvexis;

TEST(MeshCreatorTest, SphereCountsFollowIcosphereLevels)
{
    const int expectedVertices[] = {12, 42, 162, 642};
    for (int level = 0; level < 4; ++level)
    {
        auto sphere = MeshCreator::createSphere(10.0, level);
        ASSERT_NE(sphere, nullptr);
        EXPECT_EQ(sphere->numberOfVertices(), expectedVertices[level]) << "level " << level;
        EXPECT_EQ(sphere->numberOfFaces(), 20 << (2 * level)) << "level " << level;
    }
}

TEST(MeshCreatorTest, SphereIsClosedOutwardAndAtRadius)
{
    const double radius = 10.0;
    auto sphere = MeshCreator::createSphere(radius, 3);
    ASSERT_NE(sphere, nullptr);
    for (const Eigen::Vector3f& v : sphere->vertices())
        EXPECT_NEAR(v.norm(), radius, 1e-4);

    // Every directed edge appears once and its reverse once: closed and consistently wound.
    std::map<std::pair<int, int>, int> directed;
    for (int f = 0; f < sphere->numberOfFaces(); ++f)
    {
        const Eigen::Vector3i& face = sphere->faces()[static_cast<std::size_t>(f)];
        for (int c = 0; c < 3; ++c)
            ++directed[{face[c], face[(c + 1) % 3]}];
        Eigen::Vector3f centre = Eigen::Vector3f::Zero();
        for (int c = 0; c < 3; ++c)
            centre += sphere->vertices()[static_cast<std::size_t>(face[c])] / 3.0f;
        EXPECT_GT(sphere->faceNormal(f).dot(centre.normalized()), 0.9f) << "face " << f;
    }
    for (const auto& [edge, count] : directed)
    {
        EXPECT_EQ(count, 1);
        EXPECT_EQ(directed.count({edge.second, edge.first}), 1u);
    }

    sphere->computeVertexNormals();
    for (std::size_t i = 0; i < sphere->vertices().size(); ++i)
        EXPECT_GT(sphere->vertexNormals()[i].dot(sphere->vertices()[i].normalized()), 0.99f);
}

TEST(MeshCreatorTest, BadArgumentsRefusedAndLevelClamped)
{
    Log::ScopedCapture capture;
    EXPECT_EQ(MeshCreator::createSphere(0.0, 1), nullptr);
    EXPECT_EQ(MeshCreator::createSphere(-1.0, 1), nullptr);
    EXPECT_EQ(MeshCreator::createSphere(std::numeric_limits<double>::quiet_NaN(), 1), nullptr);
    EXPECT_EQ(MeshCreator::createSphere(1.0, -1), nullptr);
    EXPECT_TRUE(capture->containsFragment(Log::Level::Error, "MeshCreator", "radius"));

    auto clamped = MeshCreator::createSphere(10.0, 32);
    ASSERT_NE(clamped, nullptr);
    const int level = MeshCreator::kMaxSphereSubdivisions;
    EXPECT_EQ(clamped->numberOfVertices(), 10 * (1 << (2 * level)) + 2);
    EXPECT_TRUE(capture->containsFragment(Log::Level::Warning, "MeshCreator", "clamped"));
}
