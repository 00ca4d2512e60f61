#include "Stream/PolyDataStreamData.h"

namespace Corvexis {

PolyDataStreamData::PolyDataStreamData(Stream* stream) : StreamData(stream) {}

PolyDataStreamData::PolyDataStreamData(const PolyDataStreamData& other) = default;

PolyDataStreamData::~PolyDataStreamData() = default;

std::unique_ptr<StreamData> PolyDataStreamData::clone() const
{
    return std::make_unique<PolyDataStreamData>(*this);
}

}  // namespace Corvexis
