#include "Stream/IGTL/PointCloudData.h"

#include <igtlPolyDataMessage.h>

#include "Stream/IGTL/Conversion.h"
#include "Stream/IGTL/MessageTypeNames.h"
#include "Stream/IGTL/ParsedMessage.h"

namespace Corvexis::IGTL {

PointCloudData::PointCloudData(Connection* connection, const std::string& deviceName, bool input)
    : DataDevice(connection, deviceName, MessageTypeNames::kPolyData, supportedIgtlTypes()),
      PointCloud(deviceName),
      input_(input)
{
    if (input_)
        addCallback([this](const ParsedMessage& message) { return onMessage(message); });
}

PointCloudData::~PointCloudData()
{
    unbind();
}

std::vector<std::string> PointCloudData::supportedIgtlTypes()
{
    return {MessageTypeNames::kPolyData};
}

std::size_t PointCloudData::updates() const
{
    std::lock_guard lock(dataMutex_);
    return updates_;
}

bool PointCloudData::onMessage(const ParsedMessage& message)
{
    if (message.type != MessageTypeNames::kPolyData ||
        (message.fullDeviceName != deviceName() && message.deviceName != deviceName()))
        return false;
    auto* polyData = dynamic_cast<igtl::PolyDataMessage*>(message.message.GetPointer());
    std::unique_ptr<PointCloud> cloud =
        polyData != nullptr ? Conversion::messageToPointCloud(*polyData) : nullptr;
    if (!cloud)
        return false;
    {
        std::lock_guard lock(dataMutex_);
        const std::string keptName = PointCloud::name();
        static_cast<PointCloud&>(*this) = *cloud;
        PointCloud::setName(keptName);
        ++updates_;
    }
    signalUpdated.emitSignal();
    return true;
}

bool PointCloudData::sendData(const Data* data) const
{
    const auto* cloud = dynamic_cast<const PointCloud*>(data);
    if (cloud == nullptr)
        return false;
    igtl::PolyDataMessage::Pointer message = Conversion::pointCloudToMessage(*cloud, 0, deviceName());
    return sendMessage(*message);
}

}  // namespace Corvexis::IGTL
