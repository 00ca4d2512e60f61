#pragma once

#include <string>

#include "Stream/Framework/OutStream.h"

namespace Corvexis {

// An out-stream that reports the kind of a image stream, so that algorithms and forwarders pair it
// with image sources.
class ImageOutStream : public OutStream
{
public:
    ImageOutStream(OutputConnection& connection, const std::string& name);
    // Closes the stream first.
    ~ImageOutStream() override;

    Kind kind() const override { return Kind::ImageStream; }  // thread-safe
};

}  // namespace Corvexis
