#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "Host/Core/TrackingInstrument.h"
#include "Stream/Framework/TrackingOutStream.h"
#include "Stream/IGTL/Device.h"

namespace Corvexis {
class TrackingStreamData;
}

namespace Corvexis::IGTL {

// Sends the records of a tracking stream as TDATA (one message named after the device, one element per
// instrument), TRANSFORM or TRACKING_CVX (one message per instrument, named "<device>:<instrument>", so
// that a tracking stream of the device name on the far side takes them all), by the IGTL type given at
// construction. Instrument names: the tracker name, or "instr<index>" for an unnamed one; a name met
// again in the same record gets "-<n>" in its last characters; all cut to 20 characters, the device part
// giving way first.
// Sends only while Running and connected.
//
// Threading: sendStreamData runs on the delivering thread; thread-safe.
class IgtlTrackingOutStream : public TrackingOutStream, public Device
{
public:
    IgtlTrackingOutStream(Connection& connection, const std::string& deviceName, const std::string& igtlType);
    ~IgtlTrackingOutStream() override;

    static std::vector<std::string> supportedIgtlTypes();
    void sendStreamData(const StreamData& data) const override;

    bool sendTDataMessage(const TrackingStreamData& data, const std::string& deviceName) const;
    bool sendTransformMessage(const TrackingStreamData& data, const std::string& deviceName) const;
    bool sendTrackingCvxMessage(const TrackingStreamData& data, const std::string& deviceName) const;
    // Messages sent so far. Thread-safe.
    std::uint64_t sentCount() const { return sent_.load(); }

    // Unique names for the instruments of one record; with `prefixed`, "<device>:<instrument>".
    static std::vector<std::string> instrumentsNames(const std::vector<TrackingInstrument>& instruments,
                                                     const std::string& deviceName, bool prefixed = false);

private:
    mutable std::atomic<std::uint64_t> sent_{0};
};

}  // namespace Corvexis::IGTL
