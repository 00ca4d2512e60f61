#include "Stream/Processing/RemoveImageStreamModalityAlgorithm.h"

#include "Stream/Framework/ImageStream.h"

namespace Corvexis {

RemoveImageStreamModalityAlgorithm::RemoveImageStreamModalityAlgorithm(std::vector<ImageStream*> inputs)
    : inputs_(std::move(inputs))
{
}

RemoveImageStreamModalityAlgorithm::~RemoveImageStreamModalityAlgorithm() = default;

bool RemoveImageStreamModalityAlgorithm::createCompatible(const DataList& inputs,
                                                          std::unique_ptr<Algorithm>* algorithm)
{
    const auto streams = inputs.get<ImageStream>();
    if (streams.empty() || streams.size() != inputs.size())
        return false;
    if (algorithm != nullptr)
        *algorithm = std::make_unique<RemoveImageStreamModalityAlgorithm>(streams);
    return true;
}

void RemoveImageStreamModalityAlgorithm::compute()
{
    if (inputs_.empty()) {
        setStatus(Status::InvalidInput);
        return;
    }
    for (ImageStream* stream : inputs_) {
        if (stream != nullptr)
            stream->setModality(Data::Modality::None);
    }
    setStatus(Status::Success);
}

}  // namespace Corvexis
