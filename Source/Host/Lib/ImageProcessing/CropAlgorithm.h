#pragma once

#include <Eigen/Core>

#include "Host/Core/Parameter.h"
#include "Host/Lib/ImageProcessing/ImageAlgorithm.h"

namespace Corvexis {

// Keeps the region of "size" pixels (width, height) from "offset" (x, y; row 0 at the top) of every
// slice. A size component of 0 or less means "to the edge"; the region is clipped to the image, and a
// region that leaves nothing gives no result (logged). Pixels are copied whole: every pixel type and
// channel count is taken. Threading: as ImageAlgorithm.
class CropAlgorithm : public ImageAlgorithm
{
public:
    explicit CropAlgorithm(SharedImageSet* input = nullptr);
    ~CropAlgorithm() override;

    static bool createCompatible(const DataList& inputs, std::unique_ptr<Algorithm>* algorithm)
    {
        return createCompatibleFor<CropAlgorithm>(inputs, algorithm);
    }

    bool accepts(const ImageDescriptor& descriptor, std::string* why = nullptr) const override;

    Parameter<Eigen::Vector2i> offset{"offset", Eigen::Vector2i(0, 0), this};
    Parameter<Eigen::Vector2i> size{"size", Eigen::Vector2i(0, 0), this};

protected:
    std::unique_ptr<SharedImage> processAccepted(const SharedImage& image) override;
};

}  // namespace Corvexis
