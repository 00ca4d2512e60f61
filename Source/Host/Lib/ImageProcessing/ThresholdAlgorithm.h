#pragma once

#include "Host/Core/Parameter.h"
#include "Host/Lib/ImageProcessing/ImageAlgorithm.h"

namespace Corvexis {

// A binary mask: every channel value at or above "threshold" becomes 1, every other 0, as unsigned
// bytes with the channel count and spacing of the input and the modality Label. Takes every pixel type,
// 1 to 4 channels, 2-D and 3-D. Threading: as ImageAlgorithm.
class ThresholdAlgorithm : public ImageAlgorithm
{
public:
    explicit ThresholdAlgorithm(SharedImageSet* input = nullptr);
    ~ThresholdAlgorithm() override;

    static bool createCompatible(const DataList& inputs, std::unique_ptr<Algorithm>* algorithm)
    {
        return createCompatibleFor<ThresholdAlgorithm>(inputs, algorithm);
    }

    bool accepts(const ImageDescriptor& descriptor, std::string* why = nullptr) const override;

    Parameter<double> threshold{"threshold", 128.0, this};

protected:
    std::unique_ptr<SharedImage> processAccepted(const SharedImage& image) override;
    Data::Modality resultModality(const SharedImage& image) const override;
};

}  // namespace Corvexis
