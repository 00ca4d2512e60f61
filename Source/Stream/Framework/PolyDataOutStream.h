#pragma once

#include <string>

#include "Stream/Framework/OutStream.h"

namespace Corvexis {

// An out-stream that reports the kind of a poly-data stream, so that algorithms and forwarders pair it
// with poly-data sources.
class PolyDataOutStream : public OutStream
{
public:
    PolyDataOutStream(OutputConnection& connection, const std::string& name);
    // Closes the stream first.
    ~PolyDataOutStream() override;

    Kind kind() const override { return Kind::PolyDataStream; }  // thread-safe
};

}  // namespace Corvexis
