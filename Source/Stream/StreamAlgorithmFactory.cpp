#include "Stream/StreamAlgorithmFactory.h"

#include "Stream/Framework/CreateStreamAlgorithm.h"
#include "Stream/Framework/CreateStreamIoAlgorithm.h"
#include "Stream/Simulated/FakeImageStream.h"
#include "Stream/Simulated/FakePolyDataStream.h"
#include "Stream/Simulated/FakePolyDataStreamIoAlgorithm.h"
#include "Stream/Simulated/FakeTrackingStream.h"
#include "Stream/Simulated/FakeTrackingStreamIoAlgorithm.h"
#include "Stream/Framework/StreamForwarder.h"

namespace Corvexis {

StreamAlgorithmFactory::StreamAlgorithmFactory() : AlgorithmFactory("Stream")
{
    // The table, in registration order. Identifier, menu path and flags of each entry are fixed: hosts
    // and saved workspaces refer to them.
    registerAlgorithm<StreamForwarder>("StreamForwarder", "Streaming;Forward to OutStream");
    registerAlgorithm<CreateStreamIoAlgorithm<FakeImageStream, true, true>>("CreateStreamIoFakeImage",
                                                                            "IO;Streaming;Fake Image Stream");
    registerAlgorithm<FakeTrackingStreamIoAlgorithm>("CreateStreamIoFakeTracking",
                                                     "IO;Streaming;Fake Tracking Stream");
    registerAlgorithm<FakePolyDataStreamIoAlgorithm>("CreateStreamIoFakePolyData",
                                                     "IO;Streaming;Fake PolyData Stream");
    registerAlgorithm<CreateStreamAlgorithm<FakePolyDataStream>>("CreateFakePolyDataStream",
                                                                 "Streaming; Fake PolyData Stream");
}

StreamAlgorithmFactory::~StreamAlgorithmFactory() = default;

}  // namespace Corvexis
