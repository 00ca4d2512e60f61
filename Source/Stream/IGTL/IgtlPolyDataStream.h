#pragma once

#include <string>
#include <vector>

#include "Stream/Framework/PolyDataStream.h"
#include "Stream/IGTL/Device.h"

namespace Corvexis::IGTL {

struct ParsedMessage;

// The POLYDATA messages of one device name as a live poly-data stream: a message with polygons becomes
// a mesh, one with only points a point cloud, each emitted as a PolyDataStreamData with the message's
// time stamp. Listens from construction, delivers only while Running.
//
// Threading: requests as Stream (no worker thread); records are emitted on the receiver thread.
class IgtlPolyDataStream : public PolyDataStream, public Device
{
public:
    IgtlPolyDataStream(Connection* connection, const std::string& deviceName);
    ~IgtlPolyDataStream() override;

    static std::vector<std::string> supportedIgtlTypes();

protected:
    bool openImpl() override { return true; }
    bool closeImpl() override { return true; }
    bool startImpl() override { return true; }
    bool stopImpl() override { return true; }
    std::optional<WorkContinuation> doWork() override { return std::nullopt; }
    ThreadingMode threadingMode() const override { return ThreadingMode::NoWorkerThread; }

private:
    bool onMessage(const ParsedMessage& message);
};

}  // namespace Corvexis::IGTL
