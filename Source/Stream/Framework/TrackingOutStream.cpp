#include "Stream/Framework/TrackingOutStream.h"

namespace Corvexis {

TrackingOutStream::TrackingOutStream(OutputConnection& connection, const std::string& name)
    : OutStream(connection, name)
{
}

TrackingOutStream::~TrackingOutStream()
{
    close();
}

}  // namespace Corvexis
