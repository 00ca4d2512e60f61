#pragma once

#include <memory>
#include <vector>

#include "Host/Core/Parameter.h"
#include "Host/Lib/Algorithm.h"

namespace Corvexis {

class ImageStream;

// Sets the modality of one or more image streams to "modality" (one of the host's values None 0,
// X-Ray 1, Ultrasound 4, Video 5, OCT 7, LABEL 8). Threading: caller synchronises.
class SetImageStreamModalityAlgorithm : public Algorithm
{
public:
    explicit SetImageStreamModalityAlgorithm(std::vector<ImageStream*> inputs);
    ~SetImageStreamModalityAlgorithm() override;

    // One or more inputs, all image streams.
    static bool createCompatible(const DataList& inputs, std::unique_ptr<Algorithm>* algorithm);

    // Success, skipping null entries; InvalidInput (2) with an empty input list.
    void compute() override;

    Parameter<int> modality{"modality", 0, this};

private:
    std::vector<ImageStream*> inputs_;
};

}  // namespace Corvexis
