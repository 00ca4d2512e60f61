#include "Stream/IGTL/ImageData.h"

#include <chrono>

#include <igtlImageMessage.h>

#include "Host/Core/Log.h"
#include "Host/Core/MemImage.h"
#include "Host/Lib/SharedImage.h"
#include "Stream/IGTL/Conversion.h"
#include "Stream/IGTL/MessageTypeNames.h"
#include "Stream/IGTL/ParsedMessage.h"

namespace Corvexis::IGTL {

ImageData::ImageData(Connection* connection, const std::string& deviceName, bool input)
    : SharedImageSet(deviceName),
      DataDevice(connection, deviceName, MessageTypeNames::kImage, supportedIgtlTypes()),
      input_(input)
{
    if (input_)
        addCallback([this](const ParsedMessage& message) { return onMessage(message); });
}

ImageData::~ImageData()
{
    unbind();
}

std::vector<std::string> ImageData::supportedIgtlTypes()
{
    return {MessageTypeNames::kImage};
}

std::size_t ImageData::updates() const
{
    std::lock_guard lock(dataMutex_);
    return updates_;
}

bool ImageData::onMessage(const ParsedMessage& message)
{
    if (message.type != MessageTypeNames::kImage ||
        (message.fullDeviceName != deviceName() && message.deviceName != deviceName()))
        return false;
    auto* imageMessage = dynamic_cast<igtl::ImageMessage*>(message.message.GetPointer());
    if (imageMessage == nullptr)
        return false;
    std::unique_ptr<MemImage> image = Conversion::messageToImage(*imageMessage);
    if (!image)
        return false;
    {
        std::lock_guard lock(dataMutex_);
        std::shared_ptr<SharedImage> current = get(0);
        if (current && !current->isEmpty() && current->descriptor() == image->descriptor()) {
            *current = SharedImage(std::move(image));
        } else {
            auto fresh = std::make_shared<SharedImage>(std::move(image));
            if (empty())
                add(fresh, static_cast<double>(message.timestampMs));
            else
                replace(0, fresh);
        }
        setTimestamp(0, static_cast<double>(message.timestampMs));
        ++updates_;
    }
    signalImageUpdated.emitSignal();
    return true;
}

bool ImageData::sendData(const Data* data) const
{
    const auto* set = dynamic_cast<const SharedImageSet*>(data);
    if (set == nullptr)
        return false;
    for (int i = 0; i < set->size(); ++i) {
        std::shared_ptr<SharedImage> image = set->get(i);
        const MemImage* mem = image ? static_cast<const SharedImage&>(*image).mem() : nullptr;
        bool sent = false;
        if (mem != nullptr) {
            const auto ms = static_cast<std::uint64_t>(set->timestamp(i).value_or(0.0));
            igtl::ImageMessage::Pointer message =
                Conversion::imageToMessage(*mem, image->matrix(), ms, deviceName());
            sent = sendMessage(*message);
        }
        if (!sent) {
            Log::log(Log::Level::Error, "IgtlImageData", "Failed to send image");
            return false;
        }
    }
    return true;
}

}  // namespace Corvexis::IGTL
