#include "Host/Core/Mesh.h"

#include <string>
#include <utility>

#include <Eigen/Geometry>
#include <Eigen/LU>

#include "Host/Core/Log.h"

namespace Corvexis {

namespace {

constexpr const char* kCategory = "Mesh";

void warn(const std::string& text)
{
    Log::log(Log::Level::Warning, kCategory, text);
}

bool refuseSize(const char* what, std::size_t given, std::size_t expected)
{
    warn(std::string("Refused ") + what + ": " + std::to_string(given) + " given, " + std::to_string(expected) +
         " expected (or none)");
    return false;
}

// The matrices used to move points and normals by `matrix`; false when it is singular or not finite.
bool affineParts(const Eigen::Matrix4d& matrix, Eigen::Matrix3d& linear, Eigen::Vector3d& translation,
                 Eigen::Matrix3d& normalMatrix)
{
    if (!matrix.allFinite())
        return false;
    linear = matrix.topLeftCorner<3, 3>();
    translation = matrix.topRightCorner<3, 1>();
    bool invertible = false;
    Eigen::Matrix3d inverse;
    double determinant = 0.0;
    linear.computeInverseAndDetWithCheck(inverse, determinant, invertible);
    if (!invertible)
        return false;
    normalMatrix = inverse.transpose();
    return true;
}

}  // namespace

Mesh::Mesh(std::string name) : Data(std::move(name)) {}
Mesh::Mesh(const Mesh& other) = default;
Mesh& Mesh::operator=(const Mesh& other) = default;
Mesh::~Mesh() = default;

std::unique_ptr<Mesh> Mesh::clone() const
{
    return std::make_unique<Mesh>(*this);
}

Geometry::AlignedBox Mesh::bounds() const
{
    Geometry::AlignedBox box;
    const Eigen::Matrix4d toWorld = matrixToWorld();
    for (const Eigen::Vector3f& v : vertices_)
        box.extend((toWorld * v.cast<double>().homogeneous()).head<3>());
    return box;
}

bool Mesh::checkFaces(const std::vector<Eigen::Vector3i>& faces, std::size_t vertexCount)
{
    for (std::size_t f = 0; f < faces.size(); ++f)
    {
        for (int corner = 0; corner < 3; ++corner)
        {
            const int index = faces[f][corner];
            if (index < 0 || static_cast<std::size_t>(index) >= vertexCount)
            {
                warn("Refused faces: face " + std::to_string(f) + " corner " + std::to_string(corner) +
                     " uses vertex index " + std::to_string(index) + " but the mesh has " +
                     std::to_string(vertexCount) + " vertices");
                return false;
            }
        }
    }
    return true;
}

void Mesh::dropMismatchedAttributes()
{
    if (vertexNormals_.size() != vertices_.size())
        vertexNormals_.clear();
    if (vertexColors_.size() != vertices_.size())
        vertexColors_.clear();
    if (halfEdgeNormals_.size() != 3 * faces_.size())
        halfEdgeNormals_.clear();
    if (halfEdgeColors_.size() != 3 * faces_.size())
        halfEdgeColors_.clear();
}

bool Mesh::setGeometry(std::vector<Eigen::Vector3f> vertices, std::vector<Eigen::Vector3i> faces)
{
    if (!checkFaces(faces, vertices.size()))
        return false;
    vertices_ = std::move(vertices);
    faces_ = std::move(faces);
    dropMismatchedAttributes();
    return true;
}

int Mesh::addVertex(const Eigen::Vector3f& position)
{
    vertices_.push_back(position);
    dropMismatchedAttributes();
    return numberOfVertices() - 1;
}

bool Mesh::addFace(const Eigen::Vector3i& face)
{
    if (!checkFaces({face}, vertices_.size()))
        return false;
    faces_.push_back(face);
    dropMismatchedAttributes();
    return true;
}

bool Mesh::setVertex(int index, const Eigen::Vector3f& position)
{
    if (index < 0 || index >= numberOfVertices())
    {
        warn("Refused setVertex: index " + std::to_string(index) + " out of range (" +
             std::to_string(vertices_.size()) + " vertices)");
        return false;
    }
    vertices_[static_cast<std::size_t>(index)] = position;
    return true;
}

bool Mesh::transform(const Eigen::Matrix4d& matrix)
{
    Eigen::Matrix3d linear;
    Eigen::Vector3d translation;
    Eigen::Matrix3d normalMatrix;
    if (!affineParts(matrix, linear, translation, normalMatrix))
    {
        warn("Refused transform: matrix is singular or not finite");
        return false;
    }
    for (Eigen::Vector3f& v : vertices_)
        v = (linear * v.cast<double>() + translation).cast<float>();
    for (auto* normals : {&vertexNormals_, &halfEdgeNormals_})
        for (Eigen::Vector3f& n : *normals)
            n = (normalMatrix * n.cast<double>()).normalized().cast<float>();
    return true;
}

Eigen::Vector3f Mesh::faceNormal(int face) const
{
    if (face < 0 || face >= numberOfFaces())
        return Eigen::Vector3f::Zero();
    const Eigen::Vector3i& f = faces_[static_cast<std::size_t>(face)];
    const Eigen::Vector3d a = vertices_[static_cast<std::size_t>(f[0])].cast<double>();
    const Eigen::Vector3d b = vertices_[static_cast<std::size_t>(f[1])].cast<double>();
    const Eigen::Vector3d c = vertices_[static_cast<std::size_t>(f[2])].cast<double>();
    // normalized() leaves a zero vector (degenerate face) at zero.
    return (b - a).cross(c - a).normalized().cast<float>();
}

bool Mesh::setVertexNormals(std::vector<Eigen::Vector3f> normals)
{
    if (!normals.empty() && normals.size() != vertices_.size())
        return refuseSize("vertex normals", normals.size(), vertices_.size());
    vertexNormals_ = std::move(normals);
    return true;
}

void Mesh::computeVertexNormals()
{
    // The unnormalised cross product has twice the face's area as its length, which gives the area
    // weighting for free; sums are kept in double so that large fans do not lose precision.
    std::vector<Eigen::Vector3d> sums(vertices_.size(), Eigen::Vector3d::Zero());
    for (const Eigen::Vector3i& f : faces_)
    {
        const Eigen::Vector3d a = vertices_[static_cast<std::size_t>(f[0])].cast<double>();
        const Eigen::Vector3d b = vertices_[static_cast<std::size_t>(f[1])].cast<double>();
        const Eigen::Vector3d c = vertices_[static_cast<std::size_t>(f[2])].cast<double>();
        const Eigen::Vector3d weighted = (b - a).cross(c - a);
        for (int corner = 0; corner < 3; ++corner)
            sums[static_cast<std::size_t>(f[corner])] += weighted;
    }
    vertexNormals_.resize(vertices_.size());
    for (std::size_t i = 0; i < sums.size(); ++i)
        vertexNormals_[i] = sums[i].normalized().cast<float>();
}

bool Mesh::setHalfEdgeNormals(std::vector<Eigen::Vector3f> normals)
{
    if (!normals.empty() && normals.size() != 3 * faces_.size())
        return refuseSize("half-edge normals", normals.size(), 3 * faces_.size());
    halfEdgeNormals_ = std::move(normals);
    return true;
}

void Mesh::computeHalfEdgeNormals()
{
    halfEdgeNormals_.resize(3 * faces_.size());
    for (int f = 0; f < numberOfFaces(); ++f)
    {
        const Eigen::Vector3f n = faceNormal(f);
        for (std::size_t corner = 0; corner < 3; ++corner)
            halfEdgeNormals_[3 * static_cast<std::size_t>(f) + corner] = n;
    }
}

bool Mesh::setVertexColors(std::vector<Eigen::Vector4f> colors)
{
    if (!colors.empty() && colors.size() != vertices_.size())
        return refuseSize("vertex colours", colors.size(), vertices_.size());
    vertexColors_ = std::move(colors);
    return true;
}

bool Mesh::setHalfEdgeColors(std::vector<Eigen::Vector4f> colors)
{
    if (!colors.empty() && colors.size() != 3 * faces_.size())
        return refuseSize("half-edge colours", colors.size(), 3 * faces_.size());
    halfEdgeColors_ = std::move(colors);
    return true;
}

}  // namespace Corvexis
