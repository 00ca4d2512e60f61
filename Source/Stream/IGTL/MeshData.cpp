#include "Stream/IGTL/MeshData.h"

#include <igtlPolyDataMessage.h>

#include "Stream/IGTL/Conversion.h"
#include "Stream/IGTL/MessageTypeNames.h"
#include "Stream/IGTL/ParsedMessage.h"

namespace Corvexis::IGTL {

MeshData::MeshData(Connection* connection, const std::string& deviceName, bool input)
    : DataDevice(connection, deviceName, MessageTypeNames::kPolyData, supportedIgtlTypes()),
      Mesh(deviceName),
      input_(input)
{
    if (input_)
        addCallback([this](const ParsedMessage& message) { return onMessage(message); });
}

MeshData::~MeshData()
{
    unbind();
}

std::vector<std::string> MeshData::supportedIgtlTypes()
{
    return {MessageTypeNames::kPolyData};
}

std::size_t MeshData::updates() const
{
    std::lock_guard lock(dataMutex_);
    return updates_;
}

bool MeshData::onMessage(const ParsedMessage& message)
{
    if (message.type != MessageTypeNames::kPolyData ||
        (message.fullDeviceName != deviceName() && message.deviceName != deviceName()))
        return false;
    auto* polyData = dynamic_cast<igtl::PolyDataMessage*>(message.message.GetPointer());
    std::unique_ptr<Mesh> mesh = polyData != nullptr ? Conversion::messageToMesh(*polyData) : nullptr;
    if (!mesh)
        return false;
    {
        std::lock_guard lock(dataMutex_);
        const std::string keptName = Mesh::name();
        static_cast<Mesh&>(*this) = *mesh;
        Mesh::setName(keptName);
        ++updates_;
    }
    signalUpdated.emitSignal();
    return true;
}

bool MeshData::sendData(const Data* data) const
{
    const auto* mesh = dynamic_cast<const Mesh*>(data);
    if (mesh == nullptr)
        return false;
    igtl::PolyDataMessage::Pointer message = Conversion::meshToMessage(*mesh, 0, deviceName());
    return sendMessage(*message);
}

}  // namespace Corvexis::IGTL
