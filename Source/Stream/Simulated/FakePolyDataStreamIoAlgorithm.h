#pragma once

#include <memory>
#include <string>

#include "Stream/Framework/CreateStreamIoAlgorithm.h"
#include "Stream/Simulated/FakePolyDataStream.h"

namespace Corvexis {

// The input algorithm of the simulated poly-data stream: creates, opens and starts a default
// FakePolyDataStream, and offers the actions "addMesh", "addPointCloud", "removeMesh" and
// "removePointCloud" on the stream it created (also after the host took it, until the host destroys
// it). Each action logs the new count at information level; without a stream it fails with an error.
//
// Ownership as CreateStreamIoAlgorithm: the algorithm owns the stream until the host takes the output.
// Threading: as CreateStreamIoAlgorithm, no lock of its own; actions run on the calling thread (the
// host's user-interface thread, which must not destroy the stream meanwhile) and only call the stream's
// thread-safe operations.
class FakePolyDataStreamIoAlgorithm : public CreateStreamIoAlgorithm<FakePolyDataStream, true, true>
{
public:
    FakePolyDataStreamIoAlgorithm();
    ~FakePolyDataStreamIoAlgorithm() override;

    // Only for an empty input list; creates this class (not the plain template) when asked.
    static bool createCompatible(const DataList& inputs, std::unique_ptr<Algorithm>* algorithm);

    // The current stream, or null before the first compute and after the host destroyed it.
    FakePolyDataStream* fakeStream() const;

private:
    // Runs `change` on the current stream and logs the count of the list it changed.
    bool changeStream(const std::string& action, void (FakePolyDataStream::*change)(), bool meshes);
};

}  // namespace Corvexis
