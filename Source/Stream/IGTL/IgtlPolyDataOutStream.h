#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "Stream/Framework/PolyDataOutStream.h"
#include "Stream/IGTL/Device.h"

namespace Corvexis {
class Mesh;
class PointCloud;
}  // namespace Corvexis

namespace Corvexis::IGTL {

// Sends the records of a poly-data stream as POLYDATA messages: each mesh, then each point cloud, named
// after the device. Sends only while Running and connected.
//
// Threading: sendStreamData runs on the delivering thread; thread-safe.
class IgtlPolyDataOutStream : public PolyDataOutStream, public Device
{
public:
    IgtlPolyDataOutStream(Connection& connection, const std::string& deviceName);
    ~IgtlPolyDataOutStream() override;

    static std::vector<std::string> supportedIgtlTypes();
    void sendStreamData(const StreamData& data) const override;
    bool sendMesh(const Mesh& mesh, const std::string& name, std::uint64_t timestampMs = 0) const;
    bool sendPointCloud(const PointCloud& cloud, const std::string& name,
                        std::uint64_t timestampMs = 0) const;
    std::uint64_t sentCount() const { return sent_.load(); }

private:
    mutable std::atomic<std::uint64_t> sent_{0};
};

}  // namespace Corvexis::IGTL
