#pragma once

#include <vector>

#include "Stream/IGTL/SupportedDeviceTypes.h"

namespace Corvexis::IGTL {

// The twelve device kinds this plug-in offers, in three groups (images, poly-data, tracking), in the
// order of SupportedDeviceTypes' list. Tracking kinds read their IGTL type from the property "igtlType"
// ("TRANSFORM" when absent). Output data devices send their input data once when created with one.
//
// Threading: stateless; thread-safe.
class DeviceKinds
{
public:
    static std::vector<SupportedDeviceTypes::Descriptor> imageKinds();
    static std::vector<SupportedDeviceTypes::Descriptor> polyDataKinds();
    static std::vector<SupportedDeviceTypes::Descriptor> trackingKinds();
    // Registers the three groups one descriptor at a time.
    static void registerAll();
};

}  // namespace Corvexis::IGTL
