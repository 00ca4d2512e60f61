#pragma once

#include <memory>
#include <vector>

#include "Host/Core/Parameter.h"
#include "Host/Lib/ImageProcessing/ImageAlgorithm.h"

namespace Corvexis {

class GaussianSmoothingGl;

// Separable Gaussian smoothing in x and y of every slice, per channel, with standard deviation "sigma"
// in pixels (0.1 to 64; others give no result, logged). The kernel has radius ceil(3 sigma) and sums to
// one; borders repeat the edge pixel. Takes every pixel type with 1 to 4 channels; keeps type, layout
// and spacing. Integer results are clamped and rounded half up.
//
// Two paths with the same arithmetic: main-memory images go through vectorised row loops, and images
// that are up to date only on the graphics card (2-D, 8/16-bit integers or float) go through two compute
// shader passes and stay there. 8- and 16-bit integers and floats are combined in single precision, in
// the same order on both paths with no fused multiply-add, so both give the same values (the tests allow
// one unit for integers and 1e-5 relative for floats, for drivers that round differently); 32-bit
// integers are combined in double precision on the main-memory path only.
//
// Threading: as ImageAlgorithm. The graphics path uses the calling thread's context or borrows one.
class GaussianSmoothingAlgorithm : public ImageAlgorithm
{
public:
    explicit GaussianSmoothingAlgorithm(SharedImageSet* input = nullptr);
    ~GaussianSmoothingAlgorithm() override;

    static bool createCompatible(const DataList& inputs, std::unique_ptr<Algorithm>* algorithm)
    {
        return createCompatibleFor<GaussianSmoothingAlgorithm>(inputs, algorithm);
    }

    bool accepts(const ImageDescriptor& descriptor, std::string* why = nullptr) const override;

    // The normalised kernel (2 * radius + 1 weights, centre in the middle) for `sigma` pixels.
    static std::vector<double> kernel(double sigma);

    // Smooths a main-memory image of an accepted layout into a new one; null when memory runs out.
    static std::unique_ptr<MemImage> smoothMem(const MemImage& image, const std::vector<double>& weights);

    Parameter<double> sigma{"sigma", 1.0, this};

protected:
    std::unique_ptr<SharedImage> processAccepted(const SharedImage& image) override;

private:
    std::unique_ptr<GaussianSmoothingGl> gl_;
};

}  // namespace Corvexis
