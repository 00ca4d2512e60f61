#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <igtlImageMessage.h>
#include <igtlPolyDataMessage.h>
#include <igtlTrackingDataMessage.h>
#include <igtlTransformMessage.h>
#include <Eigen/Core>

#include "Host/Core/TrackingInstrument.h"
#include "Stream/IGTL/TrackingMessage.h"

namespace Corvexis {
class MemImage;
class Mesh;
class PointCloud;
}  // namespace Corvexis

namespace Corvexis::IGTL {

// Every conversion between protocol messages and the host's data. Outgoing messages are returned
// packed, ready for Connection::sendMessage; incoming ones are read from unpacked messages. Time stamps
// are milliseconds since 1970 on our side, seconds on the wire.
//
// Pixel types (OpenGL codes) and scalar types correspond as 5120 INT8 (2), 5121 UINT8 (3), 5122 INT16
// (4), 5123 UINT16 (5), 5124 INT32 (6), 5125 UINT32 (7), 5126 FLOAT32 (10), 5130 FLOAT64 (11). Any
// other pixel type is sent as scalar type 0; any other received scalar type gives no image. FLOAT64
// images arrive as 64-bit float main-memory images, values unchanged.
//
// Threading: stateless; thread-safe (each message object belongs to its caller).
class Conversion
{
public:
    static constexpr std::size_t kMaxNameLength = 20;  // the header's device name field

    // The first 20 characters.
    static std::string messageName(const std::string& name);
    static int scalarTypeForPixelType(int pixelType);
    static std::optional<int> pixelTypeForScalarType(int scalarType);

    // Element [row][column] <-> (row, column).
    static void toMessageMatrix(const Eigen::Matrix4d& matrix, igtl::Matrix4x4& out);
    static Eigen::Matrix4d fromMessageMatrix(const igtl::Matrix4x4& matrix);
    static void setTimestamp(igtl::MessageBase& message, std::uint64_t milliseconds);
    // Seconds x 1000 + 0.5, truncated; 0 when the message carries no time.
    static std::uint64_t timestampMs(igtl::MessageBase& message);

    // IMAGE: extents, spacing, scalar type, channels, matrix, pixels (host byte order, flagged so).
    static igtl::ImageMessage::Pointer imageToMessage(const MemImage& image, const Eigen::Matrix4d& matrix,
                                                      std::uint64_t milliseconds, const std::string& name);
    // A deep copy of the message's pixels with its spacing; null for a scalar type outside the table, a
    // sub-volume smaller than the image, or a pixel type the host cannot hold. Matrix not applied.
    static std::unique_ptr<MemImage> messageToImage(igtl::ImageMessage& message);

    // TDATA elements in order: identifiers "igtl-<index>", element names as names, quality 1, visible.
    static std::vector<TrackingInstrument> tdataToInstruments(igtl::TrackingDataMessage& message);
    static TrackingInstrument transformToInstrument(igtl::TransformMessage& message, const TrackerID& id);
    static TrackingInstrument trackingCvxToInstrument(TrackingMessage& message, const TrackerID& id);

    // One TDATA message named `deviceName`, one element per instrument named names[i].
    static igtl::TrackingDataMessage::Pointer instrumentsToTData(
        const std::vector<TrackingInstrument>& instruments, const std::vector<std::string>& names,
        std::uint64_t milliseconds, const std::string& deviceName);
    static igtl::TransformMessage::Pointer instrumentToTransform(const TrackingInstrument& instrument,
                                                                 const std::string& name,
                                                                 std::uint64_t milliseconds);
    static TrackingMessage::Pointer instrumentToTrackingCvx(const TrackingInstrument& instrument,
                                                            const std::string& name,
                                                            std::uint64_t milliseconds);

    // POLYDATA: vertices as points, faces as polygons, vertex normals ("normals", point normal) and
    // vertex colours ("vertex colors", point RGBA).
    static igtl::PolyDataMessage::Pointer meshToMessage(const Mesh& mesh, std::uint64_t milliseconds,
                                                        const std::string& name);
    // Points, "vertex normals" and "vertex colors" when present, no cells.
    static igtl::PolyDataMessage::Pointer pointCloudToMessage(const PointCloud& cloud,
                                                              std::uint64_t milliseconds,
                                                              const std::string& name);
    // Polygons become faces (fanned into triangles). Point normals set vertex normals, cell normals the
    // faces' half-edge normals; colours from point RGBA as vertex colours, else cell RGBA as half-edge
    // colours. Vertex normals are computed when the message had none. Null when a cell is unusable.
    static std::unique_ptr<Mesh> messageToMesh(igtl::PolyDataMessage& message);
    static std::unique_ptr<PointCloud> messageToPointCloud(igtl::PolyDataMessage& message);
};

}  // namespace Corvexis::IGTL
