#pragma once

#include "Host/Core/Parameter.h"
#include "Host/Lib/ImageProcessing/ImageAlgorithm.h"

namespace Corvexis {

// Shrinks every slice by the integer "factor" (1 to 64; others give no result, logged): each output
// pixel is the mean of a factor x factor block, per channel, computed in double and rounded half up
// for integer types. Sizes that do not divide keep a last, partial block whose mean is over the pixels
// it has, so the output is ceil(width / factor) x ceil(height / factor). The x and y spacing grow by the
// factor. Takes every pixel type and channel count. Threading: as ImageAlgorithm.
class DownsampleAlgorithm : public ImageAlgorithm
{
public:
    explicit DownsampleAlgorithm(SharedImageSet* input = nullptr);
    ~DownsampleAlgorithm() override;

    static bool createCompatible(const DataList& inputs, std::unique_ptr<Algorithm>* algorithm)
    {
        return createCompatibleFor<DownsampleAlgorithm>(inputs, algorithm);
    }

    bool accepts(const ImageDescriptor& descriptor, std::string* why = nullptr) const override;

    Parameter<int> factor{"factor", 2, this};

protected:
    std::unique_ptr<SharedImage> processAccepted(const SharedImage& image) override;
};

}  // namespace Corvexis
