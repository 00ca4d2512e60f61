#pragma once

#include <string>
#include <vector>

#include "Stream/Framework/ImageStream.h"
#include "Stream/IGTL/Device.h"

namespace Corvexis::IGTL {

struct ParsedMessage;

// The IMAGE messages of one device name as a live image stream. It listens from open to close and
// delivers only while Running: each message becomes an ImageStreamData with a fresh copy of the pixels,
// the message's time stamp as device time and the arrival time of its header.
//
// Threading: requests as Stream (no worker thread: the hooks run on the requesting thread); records are
// emitted on the connection's receiver thread.
class IgtlImageStream : public ImageStream, public Device
{
public:
    IgtlImageStream(Connection* connection, const std::string& deviceName);
    // Unbinds first (no callback runs afterwards), then closes.
    ~IgtlImageStream() override;

    static std::vector<std::string> supportedIgtlTypes();
    std::string describe() const override;

protected:
    bool openImpl() override;
    bool closeImpl() override;
    bool startImpl() override { return true; }
    bool stopImpl() override { return true; }
    std::optional<WorkContinuation> doWork() override { return std::nullopt; }
    ThreadingMode threadingMode() const override { return ThreadingMode::NoWorkerThread; }

private:
    bool onMessage(const ParsedMessage& message);
};

}  // namespace Corvexis::IGTL
