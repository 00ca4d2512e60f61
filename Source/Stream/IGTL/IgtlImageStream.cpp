#include "Stream/IGTL/IgtlImageStream.h"

#include <igtlImageMessage.h>

#include "Host/Core/MemImage.h"
#include "Host/Lib/SharedImage.h"
#include "Stream/Framework/ImageStreamData.h"
#include "Stream/IGTL/Conversion.h"
#include "Stream/IGTL/MessageTypeNames.h"
#include "Stream/IGTL/ParsedMessage.h"

namespace Corvexis::IGTL {

IgtlImageStream::IgtlImageStream(Connection* connection, const std::string& deviceName)
    : ImageStream(deviceName), Device(connection, deviceName, MessageTypeNames::kImage, supportedIgtlTypes())
{
}

IgtlImageStream::~IgtlImageStream()
{
    unbind();
    close();
}

std::vector<std::string> IgtlImageStream::supportedIgtlTypes()
{
    return {MessageTypeNames::kImage};
}

std::string IgtlImageStream::describe() const
{
    return "IGTLink Image Stream '" + deviceName() + "' | " + ImageStream::describe();
}

bool IgtlImageStream::openImpl()
{
    return addCallback([this](const ParsedMessage& message) { return onMessage(message); });
}

bool IgtlImageStream::closeImpl()
{
    removeCallback();
    return true;
}

bool IgtlImageStream::onMessage(const ParsedMessage& message)
{
    if (message.type != MessageTypeNames::kImage ||
        (message.fullDeviceName != deviceName() && message.deviceName != deviceName()))
        return false;
    if (currentState() != State::Running)
        return true;
    auto* imageMessage = dynamic_cast<igtl::ImageMessage*>(message.message.GetPointer());
    std::unique_ptr<MemImage> image =
        imageMessage != nullptr ? Conversion::messageToImage(*imageMessage) : nullptr;
    if (!image)
        return true;
    auto record = std::make_shared<ImageStreamData>(this, std::make_unique<SharedImage>(std::move(image)));
    record->setTimestampArrival(message.receiveTime);
    record->setTimestampDevice(message.timestampMs != 0 ? message.timestampMs : record->timestampArrival());
    signalStreamData.emitSignal(std::move(record));
    return true;
}

}  // namespace Corvexis::IGTL
