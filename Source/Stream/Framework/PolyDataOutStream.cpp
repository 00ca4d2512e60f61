#include "Stream/Framework/PolyDataOutStream.h"

namespace Corvexis {

PolyDataOutStream::PolyDataOutStream(OutputConnection& connection, const std::string& name)
    : OutStream(connection, name)
{
}

PolyDataOutStream::~PolyDataOutStream()
{
    close();
}

}  // namespace Corvexis
