#include "Host/Lib/HostAlgorithmFactory.h"

#include <mutex>

#include "Host/Lib/FactoryRegistry.h"
#include "Host/Lib/Files/LoadFileAlgorithm.h"
#include "Host/Lib/ImageProcessing/CropAlgorithm.h"
#include "Host/Lib/ImageProcessing/DownsampleAlgorithm.h"
#include "Host/Lib/ImageProcessing/FlipRotateAlgorithm.h"
#include "Host/Lib/ImageProcessing/GaussianSmoothingAlgorithm.h"
#include "Host/Lib/ImageProcessing/RgbToGreyAlgorithm.h"
#include "Host/Lib/ImageProcessing/ThresholdAlgorithm.h"
#include "Host/Lib/ImageProcessing/WindowLevelAlgorithm.h"

namespace Corvexis {

namespace {

std::mutex gRegistrationMutex;
// guarded by gRegistrationMutex
int gRegistrations = 0;
std::unique_ptr<HostAlgorithmFactory> gFactory;

}  // namespace

HostAlgorithmFactory::HostAlgorithmFactory() : AlgorithmFactory("Host")
{
    // Identifiers and menu paths are saved in workspaces: keep them stable.
    registerAlgorithm<GaussianSmoothingAlgorithm>("GaussianSmoothing", "Image Processing;Gaussian Smoothing");
    registerAlgorithm<ThresholdAlgorithm>("Threshold", "Image Processing;Threshold");
    registerAlgorithm<WindowLevelAlgorithm>("WindowLevel", "Image Processing;Window/Level to 8 Bit");
    registerAlgorithm<RgbToGreyAlgorithm>("RgbToGrey", "Image Processing;RGB to Grey");
    registerAlgorithm<FlipRotateAlgorithm>("FlipRotate", "Image Processing;Flip and Rotate");
    registerAlgorithm<CropAlgorithm>("Crop", "Image Processing;Crop");
    registerAlgorithm<DownsampleAlgorithm>("Downsample", "Image Processing;Downsample");
    registerAlgorithm<LoadFileAlgorithm>("LoadFile", "IO;Load Data File");
}

HostAlgorithmFactory::~HostAlgorithmFactory() = default;

HostAlgorithmFactory::Registration::Registration()
{
    std::lock_guard lock(gRegistrationMutex);
    if (gRegistrations++ == 0) {
        gFactory = std::make_unique<HostAlgorithmFactory>();
        FactoryRegistry::get().registerAlgorithmFactory(gFactory.get());
    }
}

HostAlgorithmFactory::Registration::~Registration()
{
    std::lock_guard lock(gRegistrationMutex);
    if (--gRegistrations == 0) {
        FactoryRegistry::get().unregisterAlgorithmFactory(gFactory.get());
        gFactory.reset();
    }
}

}  // namespace Corvexis
