#pragma once

#include <Eigen/Geometry>

namespace Corvexis::Geometry {

// Axis-aligned bounding box in world millimetres; default-constructed boxes are empty.
using AlignedBox = Eigen::AlignedBox3d;

}  // namespace Corvexis::Geometry
