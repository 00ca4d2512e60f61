#include "Stream/Framework/PolyDataStreamData.h"

#include "Stream/Framework/PolyDataStream.h"

namespace Corvexis {

PolyDataStreamData::PolyDataStreamData(Stream* stream) : StreamData(stream) {}

PolyDataStreamData::PolyDataStreamData(const PolyDataStreamData& other) = default;

PolyDataStreamData::~PolyDataStreamData() = default;

std::unique_ptr<StreamData> PolyDataStreamData::clone() const
{
    return std::make_unique<PolyDataStreamData>(*this);
}

PolyDataStream* PolyDataStreamData::polyDataStream() const
{
    return dynamic_cast<PolyDataStream*>(stream());
}

}  // namespace Corvexis
