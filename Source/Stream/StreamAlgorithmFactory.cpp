#include "Stream/StreamAlgorithmFactory.h"

#include "Stream/CreateStreamIoAlgorithm.h"
#include "Stream/FakeImageStream.h"
#include "Stream/FakeTrackingStream.h"

namespace Corvexis {

StreamAlgorithmFactory::StreamAlgorithmFactory() : AlgorithmFactory("Stream")
{
    // The table, in registration order. Identifier, menu path and flags of each entry are fixed: hosts
    // and saved workspaces refer to them.
    registerAlgorithm<CreateStreamIoAlgorithm<FakeImageStream, true, true>>("CreateStreamIoFakeImage",
                                                                           "IO;Streaming;Fake Image Stream");
    registerAlgorithm<CreateStreamIoAlgorithm<FakeTrackingStream, true, true>>("CreateStreamIoFakeTracking",
                                                                              "IO;Streaming;Fake Tracking Stream");
}

StreamAlgorithmFactory::~StreamAlgorithmFactory() = default;

}  // namespace Corvexis
