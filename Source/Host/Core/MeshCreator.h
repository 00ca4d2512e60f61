#pragma once

#include <memory>

#include "Host/Core/Mesh.h"

namespace Corvexis {

// Generators of simple meshes (test sources, phantoms). Stateless; thread-safe.
class MeshCreator
{
public:
    // Highest subdivision level createSphere builds: 40962 vertices, 81920 faces. Each level multiplies
    // the face count by four, so higher requests are clamped to keep memory bounded.
    static constexpr int kMaxSphereSubdivisions = 6;

    // An icosphere centred at the origin: a regular icosahedron whose triangles are split `subdivisions`
    // times into four, new vertices pushed out onto the sphere. Level k has 10 * 4^k + 2 vertices
    // (12, 42, 162, ...) and 20 * 4^k faces, all wound outward. `radius` in millimetres. No normals or
    // colours are set (computeVertexNormals gives the radial normals closely).
    // Null with an error under "MeshCreator" for a radius that is not finite and positive or for
    // negative subdivisions; levels above kMaxSphereSubdivisions are clamped with a warning.
    // Thread-safe.
    static std::unique_ptr<Mesh> createSphere(double radius, int subdivisions);

    MeshCreator() = delete;
};

}  // namespace Corvexis
