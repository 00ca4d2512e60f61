#include "Stream/StreamAlgorithmFactory.h"

#include "Stream/Framework/CreateStreamAlgorithm.h"
#include "Stream/Framework/CreateStreamIoAlgorithm.h"
#include "Stream/Simulated/FakeImageStream.h"
#include "Stream/Simulated/FakePolyDataStream.h"
#include "Stream/Simulated/FakePolyDataStreamIoAlgorithm.h"
#include "Stream/Simulated/FakeTrackingStream.h"
#include "Stream/Framework/StreamForwarder.h"
#include "Stream/IGTL/ConnectionIoAlgorithm.h"
#include "Stream/IGTL/CreateDataIoAlgorithm.h"

namespace Corvexis {

StreamAlgorithmFactory::StreamAlgorithmFactory() : AlgorithmFactory("Stream")
{
    // The table, in registration order. Identifier, menu path and flags of each entry are fixed: hosts
    // and saved workspaces refer to them.
    registerAlgorithm<StreamForwarder>("StreamForwarder", "Streaming;Forward to OutStream");
    registerAlgorithm<CreateStreamIoAlgorithm<FakeImageStream, true, true>>("CreateStreamIoFakeImage",
                                                                            "IO;Streaming;Fake Image Stream");
    registerAlgorithm<CreateStreamIoAlgorithm<FakeTrackingStream, true, true>>(
        "CreateStreamIoFakeTracking", "IO;Streaming;Fake Tracking Stream");
    registerAlgorithm<FakePolyDataStreamIoAlgorithm>("CreateStreamIoFakePolyData",
                                                     "IO;Streaming;Fake PolyData Stream");
    registerAlgorithm<CreateStreamAlgorithm<FakePolyDataStream>>("CreateFakePolyDataStream",
                                                                 "Streaming; Fake PolyData Stream");
    registerAlgorithm<IGTL::CreateDataIoAlgorithm>("IgtlCreateDataIo", "IGTLink Data IO");
    registerAlgorithm<IGTL::ConnectionIoAlgorithm>("IgtlConnectionIo", "IO;Streaming;IGTLink Connection");
}

StreamAlgorithmFactory::~StreamAlgorithmFactory() = default;

}  // namespace Corvexis
