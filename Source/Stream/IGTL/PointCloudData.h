#pragma once

#include <utility>

#include "Host/Core/PointCloud.h"
#include "Stream/IGTL/PolyDataDevice.h"

namespace Corvexis::IGTL {

extern template class PolyDataDevice<PointCloud>;  // instantiated in PolyDataDevice.cpp

// A PointCloud bound to a connection: POLYDATA messages in, a given PointCloud out. Threading as
// PolyDataDevice.
class PointCloudData final : public PolyDataDevice<PointCloud>
{
public:
    using PolyDataDevice<PointCloud>::PolyDataDevice;

    // Calls `f` with the point cloud under the lock. Thread-safe.
    template <typename F>
    void withPointCloud(F&& f) const
    {
        withContents(std::forward<F>(f));
    }
};

}  // namespace Corvexis::IGTL
