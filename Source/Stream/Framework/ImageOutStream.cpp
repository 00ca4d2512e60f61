#include "Stream/Framework/ImageOutStream.h"

namespace Corvexis {

ImageOutStream::ImageOutStream(OutputConnection& connection, const std::string& name)
    : OutStream(connection, name)
{
}

ImageOutStream::~ImageOutStream()
{
    close();
}

}  // namespace Corvexis
