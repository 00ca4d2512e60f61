#pragma once

#include <memory>

#include "Host/Lib/IoAlgorithm.h"
#include "Stream/Framework/StreamAlgorithmBase.h"

namespace Corvexis {

// Base of the input algorithms that bring a new stream into the host (Fake Image Stream, IGTLink
// connection, video file, ...). The host creates one for an empty input list, computes it and takes
// the stream from its output. Threading as its bases.
class StreamIoAlgorithm : public StreamAlgorithmBase, public IoAlgorithm
{
public:
    StreamIoAlgorithm();
    ~StreamIoAlgorithm() override;

    OwningDataList takeOutput() override;

    // Whether compute() opens and starts the stream it creates (after configure). Caller synchronises.
    virtual bool opensStream() const { return false; }
    virtual bool startsStream() const { return false; }
    // A fresh, unopened stream of the kind compute() creates, so that hosts can show its parameters;
    // null when the algorithm cannot say. Caller synchronises.
    virtual std::unique_ptr<Stream> createPrototypeStream() const { return nullptr; }

protected:
    // Adds the keys that StreamCreation reads: "open" (older names "autoOpen", "connect") and "start"
    // (older name "autoStart"), with the given defaults. Thread-safe.
    static void describeCreationFlags(Properties& schema, bool open, bool start);
};

}  // namespace Corvexis
