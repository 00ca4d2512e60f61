#include "Stream/Processing/SetImageStreamModalityAlgorithm.h"

#include "Stream/Framework/ImageStream.h"

namespace Corvexis {

SetImageStreamModalityAlgorithm::SetImageStreamModalityAlgorithm(std::vector<ImageStream*> inputs)
    : inputs_(std::move(inputs))
{
    modality.setLabel("Modality");
    modality.setAttribute("values", "None, X-Ray, Ultrasound, Video, OCT, LABEL");
    modality.setAttribute("keys", "0, 1, 4, 5, 7, 8");
}

SetImageStreamModalityAlgorithm::~SetImageStreamModalityAlgorithm() = default;

bool SetImageStreamModalityAlgorithm::createCompatible(const DataList& inputs,
                                                       std::unique_ptr<Algorithm>* algorithm)
{
    const auto streams = inputs.get<ImageStream>();
    if (streams.empty() || streams.size() != inputs.size())
        return false;
    if (algorithm != nullptr)
        *algorithm = std::make_unique<SetImageStreamModalityAlgorithm>(streams);
    return true;
}

void SetImageStreamModalityAlgorithm::compute()
{
    if (inputs_.empty()) {
        setStatus(Status::InvalidInput);
        return;
    }
    const auto value = static_cast<Data::Modality>(modality.value());
    for (ImageStream* stream : inputs_) {
        if (stream != nullptr)
            stream->setModality(value);
    }
    setStatus(Status::Success);
}

}  // namespace Corvexis
