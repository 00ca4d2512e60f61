#include "Stream/IGTL/IgtlTrackingOutStream.h"

#include <algorithm>
#include <set>

#include "Host/Core/Log.h"
#include "Stream/Framework/TrackingStreamData.h"
#include "Stream/IGTL/Connection.h"
#include "Stream/IGTL/Conversion.h"
#include "Stream/IGTL/MessageTypeNames.h"

namespace Corvexis::IGTL {

namespace {

std::uint64_t recordTime(const StreamData& data)
{
    return data.timestampDevice() != 0 ? data.timestampDevice() : data.timestampArrival();
}

}  // namespace

IgtlTrackingOutStream::IgtlTrackingOutStream(Connection& connection, const std::string& deviceName,
                                             const std::string& igtlType)
    : TrackingOutStream(connection, deviceName),
      Device(&connection, deviceName, igtlType, supportedIgtlTypes())
{
}

IgtlTrackingOutStream::~IgtlTrackingOutStream()
{
    unbind();
    close();
}

std::vector<std::string> IgtlTrackingOutStream::supportedIgtlTypes()
{
    return {MessageTypeNames::kTrackingCvx, MessageTypeNames::kTData, MessageTypeNames::kTransform};
}

std::vector<std::string> IgtlTrackingOutStream::instrumentsNames(
    const std::vector<TrackingInstrument>& instruments, const std::string& deviceName, bool prefixed)
{
    constexpr std::size_t kMax = Conversion::kMaxNameLength;
    std::vector<std::string> names;
    std::set<std::string> taken;
    for (std::size_t i = 0; i < instruments.size(); ++i) {
        const std::string& trackerName = instruments[i].id.name();
        std::string base = trackerName.empty() ? "instr" + std::to_string(i) : trackerName;
        if (prefixed && !deviceName.empty()) {
            // The device part gives way first, so that the instrument part stays readable.
            const std::size_t room = base.size() + 1 < kMax ? kMax - 1 - base.size() : 1;
            base = deviceName.substr(0, std::max<std::size_t>(room, 1)) + ":" + base;
        }
        base = Conversion::messageName(base);
        std::string name = base;
        for (int n = 1; taken.count(name) != 0; ++n) {
            const std::string suffix = "-" + std::to_string(n);
            name = base.substr(0, kMax - suffix.size()) + suffix;
        }
        taken.insert(name);
        names.push_back(std::move(name));
    }
    return names;
}

void IgtlTrackingOutStream::sendStreamData(const StreamData& data) const
{
    if (currentState() != State::Running)
        return;
    Connection* link = boundConnection();
    if (link == nullptr || !link->isConnected())
        return;
    const auto* tracking = dynamic_cast<const TrackingStreamData*>(&data);
    if (tracking == nullptr)
        return;
    bool sent = false;
    const std::string& type = deviceIgtlType();
    if (type == MessageTypeNames::kTData)
        sent = sendTDataMessage(*tracking, deviceName());
    else if (type == MessageTypeNames::kTrackingCvx)
        sent = sendTrackingCvxMessage(*tracking, deviceName());
    else if (type == MessageTypeNames::kTransform)
        sent = sendTransformMessage(*tracking, deviceName());
    else {
        Log::log(Log::Level::Error, "IgtlTrackingOutStream",
                 "The type doesn't correspond with a valid tracking type.");
        return;
    }
    if (!sent)
        Log::log(Log::Level::Error, "IgtlTrackingOutStream", "Failed to send data");
}

bool IgtlTrackingOutStream::sendTDataMessage(const TrackingStreamData& data,
                                             const std::string& deviceName) const
{
    const std::vector<TrackingInstrument> instruments = data.instruments();
    igtl::TrackingDataMessage::Pointer message = Conversion::instrumentsToTData(
        instruments, instrumentsNames(instruments, deviceName), recordTime(data), deviceName);
    const bool sent = sendMessage(*message);
    if (sent)
        sent_.fetch_add(1);
    return sent;
}

bool IgtlTrackingOutStream::sendTransformMessage(const TrackingStreamData& data,
                                                 const std::string& deviceName) const
{
    const std::vector<TrackingInstrument> instruments = data.instruments();
    const std::vector<std::string> names = instrumentsNames(instruments, deviceName, true);
    bool all = true;
    for (std::size_t i = 0; i < instruments.size(); ++i) {
        igtl::TransformMessage::Pointer message =
            Conversion::instrumentToTransform(instruments[i], names[i], recordTime(data));
        const bool sent = sendMessage(*message);
        if (sent)
            sent_.fetch_add(1);
        all = all && sent;
    }
    return all;
}

bool IgtlTrackingOutStream::sendTrackingCvxMessage(const TrackingStreamData& data,
                                                   const std::string& deviceName) const
{
    const std::vector<TrackingInstrument> instruments = data.instruments();
    const std::vector<std::string> names = instrumentsNames(instruments, deviceName, true);
    bool all = true;
    for (std::size_t i = 0; i < instruments.size(); ++i) {
        TrackingMessage::Pointer message =
            Conversion::instrumentToTrackingCvx(instruments[i], names[i], recordTime(data));
        const bool sent = sendMessage(*message);
        if (sent)
            sent_.fetch_add(1);
        all = all && sent;
    }
    return all;
}

}  // namespace Corvexis::IGTL
