#include "Stream/Framework/PolyDataStream.h"

namespace Corvexis {

PolyDataStream::PolyDataStream(const std::string& name) : Stream(name) {}

PolyDataStream::~PolyDataStream() = default;

}  // namespace Corvexis
