#include "Stream/StreamAlgorithmControllerFactory.h"

#include "Stream/CreateStreamAlgorithm.h"
#include "Stream/CreateStreamIoAlgorithm.h"
#include "Stream/FakeImageStream.h"
#include "Stream/FakePolyDataStream.h"
#include "Stream/FakePolyDataStreamIoAlgorithm.h"
#include "Stream/FakeTrackingStream.h"
#include "Stream/StreamForwarder.h"

namespace Corvexis {

StreamAlgorithmControllerFactory::StreamAlgorithmControllerFactory()
{
    // Type table, in matching order. A row joins once its algorithm class is built; the graphical
    // controllers named alongside are headless stream or default controllers here.
    addDefaultControllerRow<StreamForwarder>("StreamForwarder");
    addStreamControllerRow<CreateStreamIoAlgorithm<FakeTrackingStream, true, true>>(
        "CreateStreamIoAlgorithm<FakeTrackingStream>", "FakeTrackingStreamController");
    addStreamControllerRow<CreateStreamIoAlgorithm<FakeImageStream, true, true>>(
        "CreateStreamIoAlgorithm<FakeImageStream>", "FakeImageStreamController");
    addStreamControllerRow<FakePolyDataStreamIoAlgorithm>("FakePolyDataStreamIoAlgorithm",
                                                          "StreamControllerBase");
    addStreamControllerRow<CreateStreamAlgorithm<FakePolyDataStream>>(
        "CreateStreamAlgorithm<FakePolyDataStream>", "StreamControllerBase");

    registerMenuEntry("Stream;Stream Controls");
    registerMenuEntry("Stream;Attach Spacing Information");
    registerMenuEntry("Stream;Remote Video Stream");
    registerMenuEntry("Streaming;Vitals Data Component");
}

StreamAlgorithmControllerFactory::~StreamAlgorithmControllerFactory() = default;

std::unique_ptr<AlgorithmController> StreamAlgorithmControllerFactory::create(Algorithm* algorithm) const
{
    if (algorithm == nullptr)
        return nullptr;
    for (const auto& row : rows_) {
        if (row.matches(algorithm))
            return row.create(algorithm);
    }
    return nullptr;
}

}  // namespace Corvexis
