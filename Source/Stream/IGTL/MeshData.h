#pragma once

#include <utility>

#include "Host/Core/Mesh.h"
#include "Stream/IGTL/PolyDataDevice.h"

namespace Corvexis::IGTL {

extern template class PolyDataDevice<Mesh>;  // instantiated in PolyDataDevice.cpp

// A Mesh bound to a connection: POLYDATA messages in, a given Mesh out. Threading as PolyDataDevice.
class MeshData final : public PolyDataDevice<Mesh>
{
public:
    using PolyDataDevice<Mesh>::PolyDataDevice;

    // Calls `f` with the mesh under the lock. Thread-safe.
    template <typename F>
    void withMesh(F&& f) const
    {
        withContents(std::forward<F>(f));
    }
};

}  // namespace Corvexis::IGTL
