#include "Stream/StreamAlgorithmFactory.h"

#include "Host/Lib/DataDisplayHandlerFactory.h"
#include "Stream/Framework/CreateStreamAlgorithm.h"
#include "Stream/Framework/CreateStreamIoAlgorithm.h"
#include "Stream/Simulated/FakeImageStream.h"
#include "Stream/Simulated/FakePolyDataStream.h"
#include "Stream/Simulated/FakePolyDataStreamIoAlgorithm.h"
#include "Stream/Simulated/FakeTrackingStream.h"
#include "Stream/Framework/StreamForwarder.h"
#include "Stream/GUI/ImageStreamDisplayHandler.h"
#include "Stream/GUI/PolyDataDisplayHandler.h"
#include "Stream/GUI/TrackingStreamDisplayHandler.h"

namespace Corvexis {

StreamAlgorithmFactory::StreamAlgorithmFactory() : AlgorithmFactory("Stream")
{
    auto addDisplayHandler = [this](const char* name, std::unique_ptr<DataDisplayHandler> handler) {
        DataDisplayHandlerFactory::get().registerHandler(name, handler.get());
        displayHandlers_.push_back(std::move(handler));
    };
    addDisplayHandler("Corvexis.ImageStreamDisplayHandler", std::make_unique<ImageStreamDisplayHandler>());
    addDisplayHandler("Corvexis.TrackingStreamDisplayHandler", std::make_unique<TrackingStreamDisplayHandler>());
    addDisplayHandler("Corvexis.PolyDataDisplayHandler", std::make_unique<PolyDataDisplayHandler>());

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
}

StreamAlgorithmFactory::~StreamAlgorithmFactory()
{
    for (const auto& handler : displayHandlers_)
        DataDisplayHandlerFactory::get().unregisterHandler(handler.get());
}

}  // namespace Corvexis
