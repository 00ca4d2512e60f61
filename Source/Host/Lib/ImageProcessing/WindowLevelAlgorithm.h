#pragma once

#include "Host/Core/Parameter.h"
#include "Host/Lib/ImageProcessing/ImageAlgorithm.h"

namespace Corvexis {

// Maps the value range ["level" - "window" / 2, "level" + "window" / 2] linearly onto 0..255 as unsigned
// bytes (clamped outside, rounded half up): v8 = (v - (level - window / 2)) * 255 / window. Takes every
// pixel type and 1 to 4 channels, 2-D and 3-D; a window that is not positive gives no result (logged).
// Threading: as ImageAlgorithm.
class WindowLevelAlgorithm : public ImageAlgorithm
{
public:
    explicit WindowLevelAlgorithm(SharedImageSet* input = nullptr);
    ~WindowLevelAlgorithm() override;

    static bool createCompatible(const DataList& inputs, std::unique_ptr<Algorithm>* algorithm)
    {
        return createCompatibleFor<WindowLevelAlgorithm>(inputs, algorithm);
    }

    bool accepts(const ImageDescriptor& descriptor, std::string* why = nullptr) const override;

    Parameter<double> window{"window", 256.0, this};
    Parameter<double> level{"level", 128.0, this};

protected:
    std::unique_ptr<SharedImage> processAccepted(const SharedImage& image) override;
};

}  // namespace Corvexis
