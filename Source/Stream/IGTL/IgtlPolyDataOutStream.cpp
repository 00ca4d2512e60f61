#include "Stream/IGTL/IgtlPolyDataOutStream.h"

#include "Host/Core/Log.h"
#include "Host/Core/Mesh.h"
#include "Host/Core/PointCloud.h"
#include "Stream/Framework/PolyDataStreamData.h"
#include "Stream/IGTL/Connection.h"
#include "Stream/IGTL/Conversion.h"
#include "Stream/IGTL/MessageTypeNames.h"

namespace Corvexis::IGTL {

IgtlPolyDataOutStream::IgtlPolyDataOutStream(Connection& connection, const std::string& deviceName)
    : PolyDataOutStream(connection, deviceName),
      Device(&connection, deviceName, MessageTypeNames::kPolyData, supportedIgtlTypes())
{
}

IgtlPolyDataOutStream::~IgtlPolyDataOutStream()
{
    unbind();
    close();
}

std::vector<std::string> IgtlPolyDataOutStream::supportedIgtlTypes()
{
    return {MessageTypeNames::kPolyData};
}

void IgtlPolyDataOutStream::sendStreamData(const StreamData& data) const
{
    if (currentState() != State::Running)
        return;
    Connection* link = boundConnection();
    if (link == nullptr || !link->isConnected())
        return;
    const auto* polyData = dynamic_cast<const PolyDataStreamData*>(&data);
    if (polyData == nullptr)
        return;
    const std::uint64_t ms = data.timestampDevice() != 0 ? data.timestampDevice() : data.timestampArrival();
    bool all = true;
    for (const auto& mesh : polyData->meshes())
        all = (mesh && sendMesh(*mesh, deviceName(), ms)) && all;
    for (const auto& cloud : polyData->pointClouds())
        all = (cloud && sendPointCloud(*cloud, deviceName(), ms)) && all;
    if (!all)
        Log::log(Log::Level::Error, "IgtlPolyDataOutStream", "Failed to send Stream Data");
}

bool IgtlPolyDataOutStream::sendMesh(const Mesh& mesh, const std::string& name,
                                     std::uint64_t timestampMs) const
{
    igtl::PolyDataMessage::Pointer message = Conversion::meshToMessage(mesh, timestampMs, name);
    const bool sent = sendMessage(*message);
    if (sent)
        sent_.fetch_add(1);
    return sent;
}

bool IgtlPolyDataOutStream::sendPointCloud(const PointCloud& cloud, const std::string& name,
                                           std::uint64_t timestampMs) const
{
    igtl::PolyDataMessage::Pointer message = Conversion::pointCloudToMessage(cloud, timestampMs, name);
    const bool sent = sendMessage(*message);
    if (sent)
        sent_.fetch_add(1);
    return sent;
}

}  // namespace Corvexis::IGTL
