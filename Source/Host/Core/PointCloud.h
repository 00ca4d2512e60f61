#pragma once

#include <memory>
#include <vector>

#include <Eigen/Core>

#include "Host/Core/Data.h"

namespace Corvexis {

class Mesh;

// A set of points in data coordinates, millimetres, with optional unit normals and RGBA colours in
// [0, 1]. Each attribute is either absent (empty) or has one entry per point; setters that would break
// this are refused with a warning under "PointCloud" and leave the cloud unchanged.
//
// Threading: caller synchronises (name and pose keep Data's thread-safe accessors). A cloud shared as
// std::shared_ptr<const PointCloud> is read-only and may be read from any thread.
class PointCloud : public Data
{
public:
    explicit PointCloud(std::string name = {});
    PointCloud(const PointCloud& other);
    PointCloud& operator=(const PointCloud& other);
    ~PointCloud() override;

    // A copy with name, pose, components and all attributes. Caller synchronises.
    std::unique_ptr<PointCloud> clone() const;

    // The vertices of `mesh` as points, with its name and pose. Normals: the vertex normals, else the
    // normalised mean of each vertex's half-edge normals, else none; colours likewise (plain mean).
    // Vertices in no face are kept. Caller synchronises (reads `mesh`).
    static std::unique_ptr<PointCloud> fromMesh(const Mesh& mesh);

    Kind kind() const override { return Kind::PointCloud; }
    // Box of the points after the pose, in world millimetres; empty for an empty cloud.
    Geometry::AlignedBox bounds() const override;

    int numberOfPoints() const { return static_cast<int>(points_.size()); }
    bool isEmpty() const { return points_.empty(); }

    const std::vector<Eigen::Vector3f>& points() const { return points_; }
    // Replaces the points; normals and colours are dropped when the count changes. Caller synchronises.
    void setPoints(std::vector<Eigen::Vector3f> points);
    // Appends a point; existing normals or colours are dropped (they would no longer be complete).
    // Caller synchronises.
    void addPoint(const Eigen::Vector3f& point);
    // Applies an affine transformation (millimetres) to the points and, by its inverse transpose, to the
    // normals. Refused (false) for a singular or non-finite matrix. Caller synchronises.
    bool transform(const Eigen::Matrix4d& matrix);

    bool hasNormals() const { return !normals_.empty(); }
    const std::vector<Eigen::Vector3f>& normals() const { return normals_; }
    // One per point, or empty to remove; false otherwise. Caller synchronises.
    bool setNormals(std::vector<Eigen::Vector3f> normals);
    void clearNormals() { normals_.clear(); }

    bool hasColors() const { return !colors_.empty(); }
    const std::vector<Eigen::Vector4f>& colors() const { return colors_; }
    // One per point, or empty to remove; false otherwise. Caller synchronises.
    bool setColors(std::vector<Eigen::Vector4f> colors);
    void clearColors() { colors_.clear(); }

private:
    std::vector<Eigen::Vector3f> points_;
    std::vector<Eigen::Vector3f> normals_;
    std::vector<Eigen::Vector4f> colors_;
};

}  // namespace Corvexis
