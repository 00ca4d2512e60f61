#pragma once

#include <memory>
#include <vector>

#include "Host/Lib/Algorithm.h"

namespace Corvexis {

class ImageStream;

// Resets the modality of one or more image streams to None. Threading: caller synchronises.
class RemoveImageStreamModalityAlgorithm : public Algorithm
{
public:
    explicit RemoveImageStreamModalityAlgorithm(std::vector<ImageStream*> inputs);
    ~RemoveImageStreamModalityAlgorithm() override;

    // One or more inputs, all image streams.
    static bool createCompatible(const DataList& inputs, std::unique_ptr<Algorithm>* algorithm);

    // Success, skipping null entries; InvalidInput (2) with an empty input list.
    void compute() override;

private:
    std::vector<ImageStream*> inputs_;
};

}  // namespace Corvexis
