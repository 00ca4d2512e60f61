#include "Host/Core/PointCloud.h"

#include <string>
#include <utility>

#include <Eigen/Geometry>
#include <Eigen/LU>

#include "Host/Core/Log.h"
#include "Host/Core/Mesh.h"

namespace Corvexis {

namespace {

constexpr const char* kCategory = "PointCloud";

bool refuseSize(const char* what, std::size_t given, std::size_t expected)
{
    Log::log(Log::Level::Warning, kCategory,
             std::string("Refused ") + what + ": " + std::to_string(given) + " given, " +
                 std::to_string(expected) + " expected (or none)");
    return false;
}

// Per-vertex means of half-edge values (index 3 * face + corner); vertices in no face get zero.
template <typename Vector>
std::vector<Vector> meanPerVertex(const Mesh& mesh, const std::vector<Vector>& halfEdgeValues)
{
    std::vector<Vector> sums(mesh.vertices().size(), Vector::Zero());
    std::vector<int> counts(mesh.vertices().size(), 0);
    const auto& faces = mesh.faces();
    for (std::size_t f = 0; f < faces.size(); ++f)
    {
        for (std::size_t corner = 0; corner < 3; ++corner)
        {
            const auto vertex = static_cast<std::size_t>(faces[f][static_cast<int>(corner)]);
            sums[vertex] += halfEdgeValues[3 * f + corner];
            ++counts[vertex];
        }
    }
    for (std::size_t i = 0; i < sums.size(); ++i)
        if (counts[i] > 0)
            sums[i] /= static_cast<float>(counts[i]);
    return sums;
}

}  // namespace

PointCloud::PointCloud(std::string name) : Data(std::move(name)) {}
PointCloud::PointCloud(const PointCloud& other) = default;
PointCloud& PointCloud::operator=(const PointCloud& other) = default;
PointCloud::~PointCloud() = default;

std::unique_ptr<PointCloud> PointCloud::clone() const
{
    return std::make_unique<PointCloud>(*this);
}

std::unique_ptr<PointCloud> PointCloud::fromMesh(const Mesh& mesh)
{
    auto cloud = std::make_unique<PointCloud>(mesh.name());
    cloud->setMatrixToWorld(mesh.matrixToWorld());
    cloud->points_ = mesh.vertices();

    if (mesh.hasVertexNormals())
    {
        cloud->normals_ = mesh.vertexNormals();
    }
    else if (mesh.hasHalfEdgeNormals())
    {
        cloud->normals_ = meanPerVertex(mesh, mesh.halfEdgeNormals());
        for (Eigen::Vector3f& n : cloud->normals_)
            n.normalize();  // a zero mean stays zero
    }

    if (mesh.hasVertexColors())
        cloud->colors_ = mesh.vertexColors();
    else if (mesh.hasHalfEdgeColors())
        cloud->colors_ = meanPerVertex(mesh, mesh.halfEdgeColors());
    return cloud;
}

Geometry::AlignedBox PointCloud::bounds() const
{
    Geometry::AlignedBox box;
    const Eigen::Matrix4d toWorld = matrixToWorld();
    for (const Eigen::Vector3f& p : points_)
        box.extend((toWorld * p.cast<double>().homogeneous()).head<3>());
    return box;
}

void PointCloud::setPoints(std::vector<Eigen::Vector3f> points)
{
    if (points.size() != points_.size())
    {
        normals_.clear();
        colors_.clear();
    }
    points_ = std::move(points);
}

void PointCloud::addPoint(const Eigen::Vector3f& point)
{
    points_.push_back(point);
    normals_.clear();
    colors_.clear();
}

bool PointCloud::transform(const Eigen::Matrix4d& matrix)
{
    const Eigen::Matrix3d linear = matrix.topLeftCorner<3, 3>();
    Eigen::Matrix3d inverse;
    bool invertible = false;
    double determinant = 0.0;
    if (matrix.allFinite())
        linear.computeInverseAndDetWithCheck(inverse, determinant, invertible);
    if (!invertible)
    {
        Log::log(Log::Level::Warning, kCategory, "Refused transform: matrix is singular or not finite");
        return false;
    }
    const Eigen::Vector3d translation = matrix.topRightCorner<3, 1>();
    const Eigen::Matrix3d normalMatrix = inverse.transpose();
    for (Eigen::Vector3f& p : points_)
        p = (linear * p.cast<double>() + translation).cast<float>();
    for (Eigen::Vector3f& n : normals_)
        n = (normalMatrix * n.cast<double>()).normalized().cast<float>();
    return true;
}

bool PointCloud::setNormals(std::vector<Eigen::Vector3f> normals)
{
    if (!normals.empty() && normals.size() != points_.size())
        return refuseSize("normals", normals.size(), points_.size());
    normals_ = std::move(normals);
    return true;
}

bool PointCloud::setColors(std::vector<Eigen::Vector4f> colors)
{
    if (!colors.empty() && colors.size() != points_.size())
        return refuseSize("colours", colors.size(), points_.size());
    colors_ = std::move(colors);
    return true;
}

}  // namespace Corvexis
