#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "Stream/Framework/TrackingStream.h"
#include "Stream/IGTL/Device.h"

namespace Corvexis::IGTL {

struct ParsedMessage;

// The tracking messages of one device name and one type (TDATA, TRANSFORM or TRACKING_CVX) as a live
// tracking stream. A message belongs to it when its device name equals the stream's, or is the stream's
// followed by ":" and an instrument name ("Tracker:Needle"). TDATA carries every instrument of a record
// ("igtl-<index>", named after the element) and replaces the instrument list. TRANSFORM and
// TRACKING_CVX carry one instrument each, identified by the full device name and named after the part
// after the colon (or the device name): the stream accumulates them, so every record holds the last
// known pose of each instrument seen since construction, in the order they first appeared, each with
// the timestamp of its own last message. It listens from construction and delivers only while Running.
//
// Keeps the last instrument list itself (devices()); the base's registry stays empty, so renaming and
// main-instrument selection are refused.
//
// Threading: requests as Stream (no worker thread); records and signalInstrumentsChanged are emitted on
// the connection's receiver thread; devicesMutex_ guards the list.
class IgtlTrackingStream : public TrackingStream, public Device
{
public:
    IgtlTrackingStream(Connection* connection, const std::string& deviceName, const std::string& igtlType);
    ~IgtlTrackingStream() override;

    static std::vector<std::string> supportedIgtlTypes();
    std::vector<TrackingInstrument> devices() const override;  // thread-safe
    bool supportsInstrumentRenaming() const override { return false; }
    std::string describe() const override;

protected:
    bool openImpl() override { return true; }
    bool closeImpl() override { return true; }
    bool startImpl() override { return true; }
    bool stopImpl() override { return true; }
    std::optional<WorkContinuation> doWork() override { return std::nullopt; }
    ThreadingMode threadingMode() const override { return ThreadingMode::NoWorkerThread; }

private:
    bool onMessage(const ParsedMessage& message);
    void handleIncomingTrackingInformation(std::vector<TrackingInstrument> instruments,
                                           const ParsedMessage& message);

    mutable std::mutex devicesMutex_;
    // guarded by devicesMutex_
    std::vector<TrackingInstrument> devices_;
};

}  // namespace Corvexis::IGTL
