#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <Eigen/Core>

#include "Stream/Framework/ImageOutStream.h"
#include "Stream/IGTL/Device.h"

namespace Corvexis {
class MemImage;
}

namespace Corvexis::IGTL {

// Sends the records of an image stream as IMAGE messages named after the device: one message per image
// of a record, with the image's matrix and the record's device time (its arrival time when it has none).
// Sends only while Running and connected.
//
// Threading: sendStreamData runs on the thread that delivers the records (a forwarder's source); sends
// are serialised by the connection. Thread-safe.
class IgtlImageOutStream : public ImageOutStream, public Device
{
public:
    IgtlImageOutStream(Connection& connection, const std::string& deviceName);
    ~IgtlImageOutStream() override;

    static std::vector<std::string> supportedIgtlTypes();
    void sendStreamData(const StreamData& data) const override;
    // One IMAGE message; the send result. Thread-safe.
    bool sendImageData(const MemImage& image, const Eigen::Matrix4d& matrix, std::uint64_t timestampMs) const;
    // Messages sent so far. Thread-safe.
    std::uint64_t sentCount() const { return sent_.load(); }

private:
    mutable std::atomic<std::uint64_t> sent_{0};
};

}  // namespace Corvexis::IGTL
