#pragma once

#include "Host/Core/Parameter.h"
#include "Host/Lib/ImageProcessing/ImageAlgorithm.h"

namespace Corvexis {

// Mirrors and turns every slice of an image: first "flipX" (left to right) and "flipY" (top to bottom),
// then "rotation" degrees clockwise as the image is shown with row 0 at the top (0, 90, 180 or 270; any
// other value gives no result, logged). A quarter turn swaps width and height and the x and y spacing.
// Pixels are moved whole, so every pixel type and channel count is taken and values stay exact.
// Threading: as ImageAlgorithm.
class FlipRotateAlgorithm : public ImageAlgorithm
{
public:
    explicit FlipRotateAlgorithm(SharedImageSet* input = nullptr);
    ~FlipRotateAlgorithm() override;

    static bool createCompatible(const DataList& inputs, std::unique_ptr<Algorithm>* algorithm)
    {
        return createCompatibleFor<FlipRotateAlgorithm>(inputs, algorithm);
    }

    bool accepts(const ImageDescriptor& descriptor, std::string* why = nullptr) const override;

    Parameter<bool> flipX{"flipX", false, this};
    Parameter<bool> flipY{"flipY", false, this};
    Parameter<int> rotation{"rotation", 0, this};

protected:
    std::unique_ptr<SharedImage> processAccepted(const SharedImage& image) override;
};

}  // namespace Corvexis
