#include "Stream/IGTL/IgtlTrackingStream.h"

#include <algorithm>

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
    // A TDATA message describes the whole tracker. TRANSFORM and TRACKING_CVX carry one instrument each
    // ("<device>:<instrument>"), so the record is the last known pose of every instrument seen so far,
    // with this message's instrument updated (or added); each instrument keeps the timestamp of its own
    // last message.
    const bool wholeTracker = deviceIgtlType() == MessageTypeNames::kTData;
    bool setChanged = false;
    std::vector<TrackingInstrument> recordInstruments;
    {
        std::lock_guard lock(devicesMutex_);
        if (wholeTracker) {
            setChanged = devices_.size() != instruments.size();
            for (std::size_t i = 0; !setChanged && i < instruments.size(); ++i)
                setChanged = devices_[i].id != instruments[i].id;
            devices_ = std::move(instruments);
        } else {
            for (auto& instrument : instruments) {
                auto known = std::find_if(devices_.begin(), devices_.end(), [&](const TrackingInstrument& d) {
                    return d.id.ID() == instrument.id.ID();
                });
                if (known == devices_.end()) {
                    devices_.push_back(std::move(instrument));
                    setChanged = true;
                } else {
                    setChanged = setChanged || known->id != instrument.id;
                    *known = std::move(instrument);
                }
            }
        }
        recordInstruments = devices_;
    }
    auto record = std::make_shared<TrackingStreamData>(this, std::move(recordInstruments));
    record->setTimestampArrival(message.receiveTime);
    record->setTimestampDevice(message.timestampMs != 0 ? message.timestampMs : record->timestampArrival());
    if (setChanged)
        signalInstrumentsChanged.emitSignal();
    signalStreamData.emitSignal(std::move(record));
}

}  // namespace Corvexis::IGTL
