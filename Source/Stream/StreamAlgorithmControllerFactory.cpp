#include "Stream/StreamAlgorithmControllerFactory.h"

#include "Stream/Framework/CreateStreamAlgorithm.h"
#include "Stream/Framework/CreateStreamIoAlgorithm.h"
#include "Stream/Simulated/FakeImageStream.h"
#include "Stream/Simulated/FakePolyDataStream.h"
#include "Stream/Simulated/FakePolyDataStreamIoAlgorithm.h"
#include "Stream/Simulated/FakeTrackingStream.h"
#include "Stream/Framework/StreamForwarder.h"
#include "Stream/IGTL/ConnectionIoAlgorithm.h"
#include "Stream/IGTL/CreateDataIoAlgorithm.h"
#include "Stream/Processing/SetImageStreamModalityAlgorithm.h"
#include "Stream/Processing/StreamAlgorithmExecutor.h"

namespace Corvexis {

StreamAlgorithmControllerFactory::StreamAlgorithmControllerFactory()
{
    // Type table, in matching order. A row joins once its algorithm class is built; the graphical
    // controllers named alongside are headless stream or default controllers here.
    addDefaultControllerRow<StreamForwarder>("StreamForwarder");
    addDefaultControllerRow<SetImageStreamModalityAlgorithm>("SetImageStreamModalityAlgorithm");
    addStreamControllerRow<StreamAlgorithmExecutor>("StreamAlgorithmExecutor", "StreamAlgorithmExecutorController");
    addStreamControllerRow<CreateStreamIoAlgorithm<FakeTrackingStream, true, true>>(
        "CreateStreamIoAlgorithm<FakeTrackingStream>", "FakeTrackingStreamController");
    addStreamControllerRow<CreateStreamIoAlgorithm<FakeImageStream, true, true>>(
        "CreateStreamIoAlgorithm<FakeImageStream>", "FakeImageStreamController");
    addStreamControllerRow<FakePolyDataStreamIoAlgorithm>("FakePolyDataStreamIoAlgorithm",
                                                          "StreamControllerBase");
    addStreamControllerRow<CreateStreamAlgorithm<FakePolyDataStream>>(
        "CreateStreamAlgorithm<FakePolyDataStream>", "StreamControllerBase");
    addDefaultControllerRow<IGTL::ConnectionIoAlgorithm>("IGTL::ConnectionIoAlgorithm");
    // The graphical IGTL::CreateDeviceController is a default controller here.
    addDefaultControllerRow<IGTL::CreateDataIoAlgorithm>("IGTL::CreateDataIoAlgorithm");

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
