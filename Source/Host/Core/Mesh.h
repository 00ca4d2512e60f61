#pragma once

#include <memory>
#include <vector>

#include <Eigen/Core>

#include "Host/Core/Data.h"

namespace Corvexis {

// A triangle mesh in data coordinates, millimetres; the pose of Data places it in the world.
//
// Faces are triangles of vertex indices, wound counter-clockwise seen from outside, so the right-hand
// normal (v1 - v0) x (v2 - v0) points outward. A half-edge is the pair (face, corner): half-edge
// attributes hold three entries per face, at index 3 * face + corner, and let a vertex carry a
// different normal or colour in each face it belongs to (sharp edges, flat shading).
//
// Every attribute is either absent (empty) or complete: one entry per vertex, respectively three per
// face. Setters that would break this, and faces that index outside the vertices, are refused with a
// warning under "Mesh" and leave the mesh unchanged. Normals are unit vectors; colours are RGBA in
// [0, 1].
//
// Threading: caller synchronises (name and pose keep Data's thread-safe accessors). A mesh shared as
// std::shared_ptr<const Mesh> is read-only and may be read from any thread.
class Mesh : public Data
{
public:
    explicit Mesh(std::string name = {});
    Mesh(const Mesh& other);
    Mesh& operator=(const Mesh& other);
    ~Mesh() override;

    // A copy with name, pose, components and all attributes. Caller synchronises.
    std::unique_ptr<Mesh> clone() const;

    Kind kind() const override { return Kind::Mesh; }
    // Box of the vertices after the pose, in world millimetres; empty for a mesh without vertices.
    Geometry::AlignedBox bounds() const override;

    int numberOfVertices() const { return static_cast<int>(vertices_.size()); }
    int numberOfFaces() const { return static_cast<int>(faces_.size()); }
    bool isEmpty() const { return vertices_.empty(); }

    const std::vector<Eigen::Vector3f>& vertices() const { return vertices_; }
    const std::vector<Eigen::Vector3i>& faces() const { return faces_; }

    // Replaces vertices and faces. Refused (false) when a face indexes outside `vertices`. Attributes
    // whose size no longer matches are dropped. Caller synchronises.
    bool setGeometry(std::vector<Eigen::Vector3f> vertices, std::vector<Eigen::Vector3i> faces);
    // Appends a vertex and returns its index; per-vertex attributes are dropped unless the caller
    // completes them afterwards by a setter. Caller synchronises.
    int addVertex(const Eigen::Vector3f& position);
    // Appends a face; refused (false) when an index is out of range. Half-edge attributes are dropped.
    // Caller synchronises.
    bool addFace(const Eigen::Vector3i& face);
    // Moves one vertex; false for an index out of range. Normals are not recomputed. Caller synchronises.
    bool setVertex(int index, const Eigen::Vector3f& position);
    // Applies an affine transformation (millimetres) to the vertices and, by its inverse transpose, to
    // the normals, which are renormalised. Refused (false) for a singular or non-finite matrix.
    // Caller synchronises.
    bool transform(const Eigen::Matrix4d& matrix);

    // Unit normal of a face by the right-hand rule; zero for a degenerate face or an index out of range.
    Eigen::Vector3f faceNormal(int face) const;

    bool hasVertexNormals() const { return !vertexNormals_.empty(); }
    const std::vector<Eigen::Vector3f>& vertexNormals() const { return vertexNormals_; }
    // One per vertex, or empty to remove; false (and unchanged) for any other size. Caller synchronises.
    bool setVertexNormals(std::vector<Eigen::Vector3f> normals);
    void clearVertexNormals() { vertexNormals_.clear(); }
    // Sets each vertex normal to the normalised sum of the normals of the faces around it, weighted by
    // their areas; a vertex in no face (or only in degenerate ones) gets the zero vector.
    // Caller synchronises.
    void computeVertexNormals();

    bool hasHalfEdgeNormals() const { return !halfEdgeNormals_.empty(); }
    const std::vector<Eigen::Vector3f>& halfEdgeNormals() const { return halfEdgeNormals_; }
    // Three per face, or empty to remove; false otherwise. Caller synchronises.
    bool setHalfEdgeNormals(std::vector<Eigen::Vector3f> normals);
    void clearHalfEdgeNormals() { halfEdgeNormals_.clear(); }
    // Gives every corner of a face that face's normal (flat shading). Caller synchronises.
    void computeHalfEdgeNormals();

    bool hasVertexColors() const { return !vertexColors_.empty(); }
    const std::vector<Eigen::Vector4f>& vertexColors() const { return vertexColors_; }
    // One per vertex, or empty to remove; false otherwise. Caller synchronises.
    bool setVertexColors(std::vector<Eigen::Vector4f> colors);
    void clearVertexColors() { vertexColors_.clear(); }

    bool hasHalfEdgeColors() const { return !halfEdgeColors_.empty(); }
    const std::vector<Eigen::Vector4f>& halfEdgeColors() const { return halfEdgeColors_; }
    // Three per face, or empty to remove; false otherwise. Caller synchronises.
    bool setHalfEdgeColors(std::vector<Eigen::Vector4f> colors);
    void clearHalfEdgeColors() { halfEdgeColors_.clear(); }

private:
    // True when every index of every face lies in [0, vertexCount); logs the first bad face otherwise.
    static bool checkFaces(const std::vector<Eigen::Vector3i>& faces, std::size_t vertexCount);
    void dropMismatchedAttributes();

    std::vector<Eigen::Vector3f> vertices_;
    std::vector<Eigen::Vector3i> faces_;
    std::vector<Eigen::Vector3f> vertexNormals_;
    std::vector<Eigen::Vector3f> halfEdgeNormals_;
    std::vector<Eigen::Vector4f> vertexColors_;
    std::vector<Eigen::Vector4f> halfEdgeColors_;
};

}  // namespace Corvexis
