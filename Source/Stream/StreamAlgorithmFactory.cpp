#include "Stream/StreamAlgorithmFactory.h"

#include "Host/Lib/DataDisplayHandlerFactory.h"
#include "Stream/Framework/CreateStreamAlgorithm.h"
#include "Stream/Framework/CreateStreamIoAlgorithm.h"
#include "Stream/Simulated/FakeImageStream.h"
#include "Stream/Simulated/FakePolyDataStream.h"
#include "Stream/Simulated/FakePolyDataStreamIoAlgorithm.h"
#include "Stream/Simulated/FakeTrackingStream.h"
#include "Stream/Simulated/FakeTrackingStreamIoAlgorithm.h"
#include "Stream/Framework/StreamForwarder.h"
#include "Stream/IGTL/ConnectionIoAlgorithm.h"
#include "Stream/IGTL/CreateDataIoAlgorithm.h"
#include "Stream/Video/LiveStreamingAlgorithm.h"
#include "Stream/Video/RemoteVideoStream.h"
#include "Stream/Video/StreamToVideoAlgorithm.h"
#include "Stream/Video/VideoStreamExtractionAlgorithm.h"
#include "Stream/Video/VideoStreamIoAlgorithm.h"
#include "Stream/Processing/ImageStreamSpacingAttacher.h"
#include "Stream/Processing/RemoveImageStreamModalityAlgorithm.h"
#include "Stream/Processing/SetImageStreamModalityAlgorithm.h"
#include "Stream/Processing/StreamAlgorithmExecutor.h"
#include "Stream/Recording/PlaybackAlgorithm.h"
#include "Stream/Recording/MultipleStreamRecorderAlgorithm.h"
#include "Stream/Recording/StreamRecorderAlgorithm.h"
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
    registerAlgorithm<ImageStreamSpacingAttacher>("ImageStreamSpacingAttacher", "Streaming;Attach Spacing Information");
    registerAlgorithm<StreamAlgorithmExecutor>("StreamAlgorithmExecutor", "Streaming;Execute Stream Algorithm");
    registerAlgorithm<CreateStreamIoAlgorithm<FakeImageStream, true, true>>("CreateStreamIoFakeImage",
                                                                            "IO;Streaming;Fake Image Stream");
    registerAlgorithm<FakeTrackingStreamIoAlgorithm>("CreateStreamIoFakeTracking",
                                                     "IO;Streaming;Fake Tracking Stream");
    registerAlgorithm<FakePolyDataStreamIoAlgorithm>("CreateStreamIoFakePolyData",
                                                     "IO;Streaming;Fake PolyData Stream");
    registerAlgorithm<CreateStreamAlgorithm<FakePolyDataStream>>("CreateFakePolyDataStream",
                                                                 "Streaming; Fake PolyData Stream");
    registerAlgorithm<IGTL::CreateDataIoAlgorithm>("IgtlCreateDataIo", "IGTLink Data IO");
    registerAlgorithm<IGTL::ConnectionIoAlgorithm>("IgtlConnectionIo", "IO;Streaming;IGTLink Connection");
    registerAlgorithm<LiveStreamingAlgorithm>("LiveStreamingAlgorithm", "Streaming;Live Streaming Algorithm");
    registerAlgorithm<CreateStreamIoAlgorithm<RemoteVideoStream, true, false>>("CreateRemoteVideoStream",
                                                                              "IO;Streaming;Remote Video Stream");
    registerAlgorithm<StreamToVideoAlgorithm>("StreamToVideo", "Streaming;Record Stream to Video");
    registerAlgorithm<VideoStreamExtractionAlgorithm>("VideoStreamExtraction",
                                                      "Streaming;Extract selection to image set");
    // A combination of the host's flag values (a file reader with a file dialog); their meaning is the
    // host's.
    registerAlgorithm<VideoStreamIoAlgorithmHelper<false>>("VideoStreamIoFile",
                                                           "IO;Streaming;Video File Stream", 1 | 2);
    registerAlgorithm<VideoStreamIoAlgorithmHelper<true>>("VideoStreamIoDevice", "IO;Streaming;Video Camera Stream");
    registerAlgorithm<RemoveImageStreamModalityAlgorithm>("RemoveImageStreamModality",
                                                          "Streaming;Remove Image Stream Modality");
    registerAlgorithm<SetImageStreamModalityAlgorithm>("SetImageStreamModality", "Streaming;Set Image Stream Modality");
    registerAlgorithm<PlaybackAlgorithm>("Playback", "Streaming;Playback");
    registerAlgorithm<StreamRecorderAlgorithm>("StreamRecorder", "Record Stream");
    registerAlgorithm<MultipleStreamRecorderAlgorithm>("MultipleStreamRecorder", "Streaming;Record Multiple Streams");
}

StreamAlgorithmFactory::~StreamAlgorithmFactory()
{
    for (const auto& handler : displayHandlers_)
        DataDisplayHandlerFactory::get().unregisterHandler(handler.get());
}

}  // namespace Corvexis
