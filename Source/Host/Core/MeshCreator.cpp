#include "Host/Core/MeshCreator.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "Host/Core/Log.h"

namespace Corvexis {

namespace {

constexpr const char* kCategory = "MeshCreator";

// Splits every triangle into four; the midpoint of each edge is created once and shared by the two
// faces on either side, so the surface stays closed. Points are kept on the unit sphere in double.
void subdivide(std::vector<Eigen::Vector3d>& points, std::vector<Eigen::Vector3i>& faces)
{
    std::unordered_map<std::uint64_t, int> midpoints;
    midpoints.reserve(faces.size() * 3 / 2);
    auto midpoint = [&](int a, int b) {
        const auto low = static_cast<std::uint64_t>(std::min(a, b));
        const auto high = static_cast<std::uint64_t>(std::max(a, b));
        const std::uint64_t key = (low << 32) | high;
        const auto found = midpoints.find(key);
        if (found != midpoints.end())
            return found->second;
        points.push_back((points[static_cast<std::size_t>(a)] + points[static_cast<std::size_t>(b)]).normalized());
        const int index = static_cast<int>(points.size()) - 1;
        midpoints.emplace(key, index);
        return index;
    };

    std::vector<Eigen::Vector3i> finer;
    finer.reserve(faces.size() * 4);
    for (const Eigen::Vector3i& f : faces)
    {
        const int ab = midpoint(f[0], f[1]);
        const int bc = midpoint(f[1], f[2]);
        const int ca = midpoint(f[2], f[0]);
        // Each child keeps its parent's winding, hence its outward orientation.
        finer.emplace_back(f[0], ab, ca);
        finer.emplace_back(f[1], bc, ab);
        finer.emplace_back(f[2], ca, bc);
        finer.emplace_back(ab, bc, ca);
    }
    faces.swap(finer);
}

}  // namespace

std::unique_ptr<Mesh> MeshCreator::createSphere(double radius, int subdivisions)
{
    if (!std::isfinite(radius) || radius <= 0.0)
    {
        Log::log(Log::Level::Error, kCategory,
                 "createSphere: radius must be finite and positive, got " + std::to_string(radius));
        return nullptr;
    }
    if (subdivisions < 0)
    {
        Log::log(Log::Level::Error, kCategory,
                 "createSphere: subdivisions must not be negative, got " + std::to_string(subdivisions));
        return nullptr;
    }
    if (subdivisions > kMaxSphereSubdivisions)
    {
        Log::log(Log::Level::Warning, kCategory,
                 "createSphere: " + std::to_string(subdivisions) + " subdivisions clamped to " +
                     std::to_string(kMaxSphereSubdivisions));
        subdivisions = kMaxSphereSubdivisions;
    }

    // Regular icosahedron: the corners of three orthogonal golden rectangles.
    const double t = (1.0 + std::sqrt(5.0)) / 2.0;
    std::vector<Eigen::Vector3d> points = {
        {-1, t, 0}, {1, t, 0}, {-1, -t, 0}, {1, -t, 0}, {0, -1, t}, {0, 1, t},
        {0, -1, -t}, {0, 1, -t}, {t, 0, -1}, {t, 0, 1}, {-t, 0, -1}, {-t, 0, 1},
    };
    for (Eigen::Vector3d& p : points)
        p.normalize();
    std::vector<Eigen::Vector3i> faces = {
        {0, 11, 5}, {0, 5, 1},  {0, 1, 7},   {0, 7, 10}, {0, 10, 11}, {1, 5, 9}, {5, 11, 4},
        {11, 10, 2}, {10, 7, 6}, {7, 1, 8},  {3, 9, 4},  {3, 4, 2},   {3, 2, 6}, {3, 6, 8},
        {3, 8, 9},  {4, 9, 5},  {2, 4, 11}, {6, 2, 10}, {8, 6, 7},   {9, 8, 1},
    };
    for (int level = 0; level < subdivisions; ++level)
        subdivide(points, faces);

    std::vector<Eigen::Vector3f> vertices;
    vertices.reserve(points.size());
    for (const Eigen::Vector3d& p : points)
        vertices.push_back((p * radius).cast<float>());

    auto mesh = std::make_unique<Mesh>("Sphere");
    mesh->setGeometry(std::move(vertices), std::move(faces));
    return mesh;
}

}  // namespace Corvexis
