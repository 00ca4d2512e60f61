#include "Stream/IGTL/IgtlTrackingStream.h"

#include <igtlTrackingDataMessage.h>
#include <igtlTransformMessage.h>

#include "Host/Core/Log.h"
#include "Stream/Framework/TrackingStreamData.h"
#include "Stream/IGTL/Conversion.h"
#include "Stream/IGTL/MessageTypeNames.h"
#include "Stream/IGTL/ParsedMessage.h"
#include "Stream/IGTL/TrackingMessage.h"

namespace Corvexis::IGTL {

IgtlTrackingStream::IgtlTrackingStream(Connection* connection, const std::string& deviceName,
                                       const std::string& igtlType)
    : TrackingStream(deviceName), Device(connection, deviceName, igtlType, supportedIgtlTypes())
{
    addCallback([this](const ParsedMessage& message) { return onMessage(message); });
}

IgtlTrackingStream::~IgtlTrackingStream()
{
    unbind();
    close();
}

std::vector<std::string> IgtlTrackingStream::supportedIgtlTypes()
{
    return {MessageTypeNames::kTrackingCvx, MessageTypeNames::kTData, MessageTypeNames::kTransform};
}

std::vector<TrackingInstrument> IgtlTrackingStream::devices() const
{
    std::lock_guard lock(devicesMutex_);
    return devices_;
}

std::string IgtlTrackingStream::describe() const
{
    return "IGTLink Tracking Stream '" + deviceName() + "' (" + deviceIgtlType() + ") | " +
           TrackingStream::describe();
}

bool IgtlTrackingStream::onMessage(const ParsedMessage& message)
{
    if (message.type != deviceIgtlType())
        return false;
    const std::string& name = deviceName();
    const bool ours =
        message.fullDeviceName == name || (message.fullDeviceName.size() > name.size() + 1 &&
                                           message.fullDeviceName.compare(0, name.size(), name) == 0 &&
                                           message.fullDeviceName[name.size()] == ':');
    if (!ours)
        return false;
    std::vector<TrackingInstrument> instruments;
    if (auto* tdata = dynamic_cast<igtl::TrackingDataMessage*>(message.message.GetPointer());
        tdata != nullptr && message.type == MessageTypeNames::kTData) {
        instruments = Conversion::tdataToInstruments(*tdata);
    } else if (auto* own = dynamic_cast<TrackingMessage*>(message.message.GetPointer());
               own != nullptr && message.type == MessageTypeNames::kTrackingCvx) {
        instruments.push_back(
            Conversion::trackingCvxToInstrument(*own, TrackerID(message.fullDeviceName, message.secondName)));
    } else if (auto* transform = dynamic_cast<igtl::TransformMessage*>(message.message.GetPointer());
               transform != nullptr && message.type == MessageTypeNames::kTransform) {
        instruments.push_back(Conversion::transformToInstrument(
            *transform, TrackerID(message.fullDeviceName, message.secondName)));
    } else {
        Log::log(Log::Level::Error, "IgtlTrackingStream", "Failed to parse incoming message");
        return true;
    }
    handleIncomingTrackingInformation(std::move(instruments), message);
    return true;
}

void IgtlTrackingStream::handleIncomingTrackingInformation(std::vector<TrackingInstrument> instruments,
                                                           const ParsedMessage& message)
{
    if (currentState() != State::Running)
        return;
    for (auto& instrument : instruments)
        if (instrument.timestamp == 0)
            instrument.timestamp = message.timestampMs;
    bool setChanged = false;
    {
        std::lock_guard lock(devicesMutex_);
        setChanged = devices_.size() != instruments.size();
        for (std::size_t i = 0; !setChanged && i < instruments.size(); ++i)
            setChanged = devices_[i].id != instruments[i].id;
        if (devices_ != instruments)
            devices_ = instruments;
    }
    auto record = std::make_shared<TrackingStreamData>(this, std::move(instruments));
    record->setTimestampArrival(message.receiveTime);
    if (record->timestampDevice() == 0)
        record->setTimestampDevice(record->timestampArrival());
    if (setChanged)
        signalInstrumentsChanged.emitSignal();
    signalStreamData.emitSignal(std::move(record));
}

}  // namespace Corvexis::IGTL
