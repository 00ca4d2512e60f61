#include "Stream/IGTL/IgtlImageOutStream.h"

#include "Host/Core/Log.h"
#include "Host/Core/MemImage.h"
#include "Host/Lib/SharedImage.h"
#include "Stream/Framework/ImageStreamData.h"
#include "Stream/IGTL/Connection.h"
#include "Stream/IGTL/Conversion.h"
#include "Stream/IGTL/MessageTypeNames.h"

namespace Corvexis::IGTL {

IgtlImageOutStream::IgtlImageOutStream(Connection& connection, const std::string& deviceName)
    : ImageOutStream(connection, deviceName),
      Device(&connection, deviceName, MessageTypeNames::kImage, supportedIgtlTypes())
{
}

IgtlImageOutStream::~IgtlImageOutStream()
{
    unbind();
    close();
}

std::vector<std::string> IgtlImageOutStream::supportedIgtlTypes()
{
    return {MessageTypeNames::kImage};
}

void IgtlImageOutStream::sendStreamData(const StreamData& data) const
{
    if (currentState() != State::Running || !isConnected())
        return;
    const auto* images = dynamic_cast<const ImageStreamData*>(&data);
    if (images == nullptr) {
        const std::string kind =
            data.stream() != nullptr ? Data::kindString(data.stream()->kind()) : "Unknown";
        Log::log(Log::Level::Debug, "IgtlImageOutStream",
                 "OutputConnection does not support " + kind + "'s StreamData kind.");
        return;
    }
    const std::uint64_t ms = data.timestampDevice() != 0 ? data.timestampDevice() : data.timestampArrival();
    for (const auto& image : images->images()) {
        const MemImage* mem = image ? image->mem() : nullptr;
        if (mem != nullptr)
            sendImageData(*mem, image->matrix(), ms);
    }
}

bool IgtlImageOutStream::sendImageData(const MemImage& image, const Eigen::Matrix4d& matrix,
                                       std::uint64_t timestampMs) const
{
    igtl::ImageMessage::Pointer message =
        Conversion::imageToMessage(image, matrix, timestampMs, deviceName());
    const bool sent = sendMessage(*message);
    if (sent)
        sent_.fetch_add(1);
    return sent;
}

}  // namespace Corvexis::IGTL
