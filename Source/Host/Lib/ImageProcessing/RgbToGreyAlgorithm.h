#pragma once

#include "Host/Lib/ImageProcessing/ImageAlgorithm.h"

namespace Corvexis {

// One grey channel from red, green and blue (the first three channels; a fourth, alpha, is ignored):
// 0.299 R + 0.587 G + 0.114 B, computed in double and rounded half up (clamped) for integer types. Keeps
// the pixel type. Takes every pixel type with 3 or 4 channels, 2-D and 3-D. Threading: as ImageAlgorithm.
class RgbToGreyAlgorithm : public ImageAlgorithm
{
public:
    explicit RgbToGreyAlgorithm(SharedImageSet* input = nullptr);
    ~RgbToGreyAlgorithm() override;

    static bool createCompatible(const DataList& inputs, std::unique_ptr<Algorithm>* algorithm)
    {
        return createCompatibleFor<RgbToGreyAlgorithm>(inputs, algorithm);
    }

    bool accepts(const ImageDescriptor& descriptor, std::string* why = nullptr) const override;

protected:
    std::unique_ptr<SharedImage> processAccepted(const SharedImage& image) override;
};

}  // namespace Corvexis
