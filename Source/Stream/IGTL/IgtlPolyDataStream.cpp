#include "Stream/IGTL/IgtlPolyDataStream.h"

#include <igtlPolyDataMessage.h>

#include "Host/Core/Log.h"
#include "Host/Core/Mesh.h"
#include "Host/Core/PointCloud.h"
#include "Stream/Framework/PolyDataStreamData.h"
#include "Stream/IGTL/Conversion.h"
#include "Stream/IGTL/MessageTypeNames.h"
#include "Stream/IGTL/ParsedMessage.h"

namespace Corvexis::IGTL {

IgtlPolyDataStream::IgtlPolyDataStream(Connection* connection, const std::string& deviceName)
    : PolyDataStream(deviceName),
      Device(connection, deviceName, MessageTypeNames::kPolyData, supportedIgtlTypes())
{
    addCallback([this](const ParsedMessage& message) { return onMessage(message); });
}

IgtlPolyDataStream::~IgtlPolyDataStream()
{
    unbind();
    close();
}

std::vector<std::string> IgtlPolyDataStream::supportedIgtlTypes()
{
    return {MessageTypeNames::kPolyData};
}

bool IgtlPolyDataStream::onMessage(const ParsedMessage& message)
{
    if (message.type != MessageTypeNames::kPolyData ||
        (message.fullDeviceName != deviceName() && message.deviceName != deviceName()))
        return false;
    if (currentState() != State::Running)
        return true;
    auto* polyData = dynamic_cast<igtl::PolyDataMessage*>(message.message.GetPointer());
    if (polyData == nullptr)
        return true;
    auto record = std::make_shared<PolyDataStreamData>(this);
    record->setName(message.fullDeviceName);
    const bool hasPolygons =
        polyData->GetPolygons() != nullptr && polyData->GetPolygons()->GetNumberOfCells() > 0;
    const bool hasPoints = polyData->GetPoints() != nullptr && polyData->GetPoints()->GetNumberOfPoints() > 0;
    if (hasPolygons) {
        std::unique_ptr<Mesh> mesh = Conversion::messageToMesh(*polyData);
        if (!mesh)
            return true;
        mesh->setName(message.fullDeviceName);
        record->setMeshes({std::shared_ptr<const Mesh>(std::move(mesh))});
    } else if (hasPoints) {
        std::unique_ptr<PointCloud> cloud = Conversion::messageToPointCloud(*polyData);
        cloud->setName(message.fullDeviceName);
        record->setPointClouds({std::shared_ptr<const PointCloud>(std::move(cloud))});
    } else {
        Log::log(Log::Level::Error, "IgtlPolyDataStream", "Receoved polydata message is empty");
        return true;
    }
    record->setTimestampArrival(message.receiveTime);
    record->setTimestampDevice(message.timestampMs != 0 ? message.timestampMs : record->timestampArrival());
    signalStreamData.emitSignal(std::move(record));
    return true;
}

}  // namespace Corvexis::IGTL
