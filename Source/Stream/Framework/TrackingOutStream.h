#pragma once

#include <string>

#include "Stream/Framework/OutStream.h"

namespace Corvexis {

// An out-stream that reports the kind of a tracking stream, so that algorithms and forwarders pair it
// with tracking sources.
class TrackingOutStream : public OutStream
{
public:
    TrackingOutStream(OutputConnection& connection, const std::string& name);
    // Closes the stream first.
    ~TrackingOutStream() override;

    Kind kind() const override { return Kind::TrackingStream; }  // thread-safe
};

}  // namespace Corvexis
