#include "Stream/IGTL/PolyDataDevice.h"

#include <memory>
#include <type_traits>

#include <igtlPolyDataMessage.h>

#include "Host/Core/Mesh.h"
#include "Host/Core/PointCloud.h"
#include "Stream/IGTL/Conversion.h"
#include "Stream/IGTL/MessageTypeNames.h"
#include "Stream/IGTL/ParsedMessage.h"

namespace Corvexis::IGTL {

namespace {

// The conversions differ only by the kind of geometry; everything around them is shared.
template <typename Contents>
std::unique_ptr<Contents> fromMessage(igtl::PolyDataMessage& message)
{
    if constexpr (std::is_same_v<Contents, Mesh>)
        return Conversion::messageToMesh(message);
    else
        return Conversion::messageToPointCloud(message);
}

template <typename Contents>
igtl::PolyDataMessage::Pointer toMessage(const Contents& contents, const std::string& deviceName)
{
    if constexpr (std::is_same_v<Contents, Mesh>)
        return Conversion::meshToMessage(contents, 0, deviceName);
    else
        return Conversion::pointCloudToMessage(contents, 0, deviceName);
}

}  // namespace

template <typename Contents>
PolyDataDevice<Contents>::PolyDataDevice(Connection* connection, const std::string& deviceName, bool input)
    : DataDevice(connection, deviceName, MessageTypeNames::kPolyData, supportedIgtlTypes()),
      Contents(deviceName),
      input_(input)
{
    if (input_)
        addCallback([this](const ParsedMessage& message) { return onMessage(message); });
}

template <typename Contents>
PolyDataDevice<Contents>::~PolyDataDevice()
{
    unbind();
}

template <typename Contents>
std::vector<std::string> PolyDataDevice<Contents>::supportedIgtlTypes()
{
    return {MessageTypeNames::kPolyData};
}

template <typename Contents>
std::size_t PolyDataDevice<Contents>::updates() const
{
    std::lock_guard lock(dataMutex_);
    return updates_;
}

template <typename Contents>
bool PolyDataDevice<Contents>::onMessage(const ParsedMessage& message)
{
    if (message.type != MessageTypeNames::kPolyData ||
        (message.fullDeviceName != deviceName() && message.deviceName != deviceName()))
        return false;
    auto* polyData = dynamic_cast<igtl::PolyDataMessage*>(message.message.GetPointer());
    std::unique_ptr<Contents> received = polyData != nullptr ? fromMessage<Contents>(*polyData) : nullptr;
    if (!received)
        return false;
    {
        std::lock_guard lock(dataMutex_);
        const std::string keptName = Contents::name();
        static_cast<Contents&>(*this) = *received;
        Contents::setName(keptName);
        ++updates_;
    }
    signalUpdated.emitSignal();
    return true;
}

template <typename Contents>
bool PolyDataDevice<Contents>::sendData(const Data* data) const
{
    const auto* contents = dynamic_cast<const Contents*>(data);
    if (contents == nullptr)
        return false;
    igtl::PolyDataMessage::Pointer message = toMessage(*contents, deviceName());
    return sendMessage(*message);
}

template class PolyDataDevice<Mesh>;
template class PolyDataDevice<PointCloud>;

}  // namespace Corvexis::IGTL
