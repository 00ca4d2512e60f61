#include "Stream/IGTL/Conversion.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <list>

#include <igtlTimeStamp.h>
#include <igtl_util.h>

#include "Host/Core/Log.h"
#include "Host/Core/MemImage.h"
#include "Host/Core/Mesh.h"
#include "Host/Core/PointCloud.h"
#include "Stream/IGTL/LibraryAdapter.h"
#include "Stream/IGTL/MessageValidator.h"

namespace Corvexis::IGTL {

namespace {

struct PixelScalar
{
    int pixelType;
    int scalarType;
};

constexpr PixelScalar kTypeTable[] = {
    {5120, 2}, {5121, 3}, {5122, 4},  {5123, 5},
    {5124, 6}, {5125, 7}, {5126, 10}, {ImageDescriptor::kDouble, 11},
};

constexpr int kHostEndian = std::endian::native == std::endian::little ? igtl::ImageMessage::ENDIAN_LITTLE
                                                                       : igtl::ImageMessage::ENDIAN_BIG;

void swapValues(std::uint8_t* data, std::size_t bytes, std::size_t valueSize)
{
    for (std::size_t i = 0; i + valueSize <= bytes; i += valueSize)
        std::reverse(data + i, data + i + valueSize);
}

igtl::PolyDataAttribute::Pointer attribute(const char* name, int type, const std::vector<Eigen::Vector3f>* v3,
                                           const std::vector<Eigen::Vector4f>* v4)
{
    igtl::PolyDataAttribute::Pointer a = igtl::PolyDataAttribute::New();
    a->SetType(type);
    a->SetName(name);
    std::vector<igtlFloat32> values;
    if (v3 != nullptr) {
        a->SetSize(static_cast<igtlUint32>(v3->size()));
        for (const auto& v : *v3)
            values.insert(values.end(), {v.x(), v.y(), v.z()});
    } else {
        a->SetSize(static_cast<igtlUint32>(v4->size()));
        for (const auto& v : *v4)
            values.insert(values.end(), {v.x(), v.y(), v.z(), v.w()});
    }
    if (!values.empty())
        a->SetData(values.data());
    return a;
}

// The values of attribute `a` as n vectors of N floats; empty when its size does not match `expected`.
// The entries are the first n x N floats: the installed library labels RGBA attributes with 9 components
// but writes 4 per entry, back to back, before its padding.
template <int N>
std::vector<Eigen::Matrix<float, N, 1>> attributeValues(igtl::PolyDataAttribute& a, std::size_t expected)
{
    std::vector<Eigen::Matrix<float, N, 1>> out;
    const std::size_t components = a.GetNumberOfComponents();
    if (a.GetSize() != expected || components < static_cast<std::size_t>(N))
        return out;
    std::vector<igtlFloat32> raw(expected * components);
    if (!raw.empty())
        a.GetData(raw.data());
    out.resize(expected);
    for (std::size_t i = 0; i < expected; ++i)
        for (int c = 0; c < N; ++c)
            out[i][c] = raw[i * N + c];
    return out;
}

std::vector<Eigen::Vector3f> messagePoints(igtl::PolyDataMessage& message)
{
    std::vector<Eigen::Vector3f> points;
    igtl::PolyDataPointArray::Pointer array = message.GetPoints();
    if (array.IsNull())
        return points;
    const int n = array->GetNumberOfPoints();
    points.reserve(static_cast<std::size_t>(std::max(n, 0)));
    for (int i = 0; i < n; ++i) {
        igtlFloat32 p[3] = {0, 0, 0};
        array->GetPoint(static_cast<unsigned>(i), p);
        points.emplace_back(p[0], p[1], p[2]);
    }
    return points;
}

// The installed library leaves the body of a POLYDATA without points unwritten (whatever the buffer
// held goes out, with a CRC over it). Such a body is 40 zero bytes: write them and the CRC here.
void fixEmptyPolyData(igtl::PolyDataMessage& message, std::size_t points)
{
    if (points != 0 || LibraryAdapter::bodySize(message) != 40)
        return;
    auto* body = static_cast<unsigned char*>(LibraryAdapter::bodyPointer(message));
    std::memset(body, 0, 40);
    const igtl_uint64 crc = crc64(body, 40, 0);
    auto* header = static_cast<unsigned char*>(LibraryAdapter::bufferPointer(message));
    for (int i = 0; i < 8; ++i)
        header[50 + i] = static_cast<unsigned char>(crc >> (56 - 8 * i));
}

void setPointsAndName(igtl::PolyDataMessage& message, const std::vector<Eigen::Vector3f>& points,
                      std::uint64_t milliseconds, const std::string& name)
{
    message.SetDeviceName(Conversion::messageName(name).c_str());
    igtl::PolyDataPointArray::Pointer array = igtl::PolyDataPointArray::New();
    for (const auto& p : points)
        array->AddPoint(p.x(), p.y(), p.z());
    message.SetPoints(array);
    Conversion::setTimestamp(message, milliseconds);
}

}  // namespace

std::string Conversion::messageName(const std::string& name)
{
    return name.substr(0, kMaxNameLength);
}

int Conversion::scalarTypeForPixelType(int pixelType)
{
    for (const auto& entry : kTypeTable)
        if (entry.pixelType == pixelType)
            return entry.scalarType;
    return 0;
}

std::optional<int> Conversion::pixelTypeForScalarType(int scalarType)
{
    for (const auto& entry : kTypeTable)
        if (entry.scalarType == scalarType)
            return entry.pixelType;
    return std::nullopt;
}

void Conversion::toMessageMatrix(const Eigen::Matrix4d& matrix, igtl::Matrix4x4& out)
{
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            out[r][c] = static_cast<float>(matrix(r, c));
}

Eigen::Matrix4d Conversion::fromMessageMatrix(const igtl::Matrix4x4& matrix)
{
    Eigen::Matrix4d out;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            out(r, c) = static_cast<double>(matrix[r][c]);
    return out;
}

void Conversion::setTimestamp(igtl::MessageBase& message, std::uint64_t milliseconds)
{
    igtl::TimeStamp::Pointer stamp = igtl::TimeStamp::New();
    stamp->SetTime(static_cast<double>(milliseconds) / 1000.0);
    message.SetTimeStamp(stamp);
}

std::uint64_t Conversion::timestampMs(igtl::MessageBase& message)
{
    igtl::TimeStamp::Pointer stamp = igtl::TimeStamp::New();
    message.GetTimeStamp(stamp);
    const double seconds = stamp->GetTimeStamp();
    return seconds > 0.0 && std::isfinite(seconds) ? static_cast<std::uint64_t>(seconds * 1000.0 + 0.5) : 0;
}

igtl::ImageMessage::Pointer Conversion::imageToMessage(const MemImage& image, const Eigen::Matrix4d& matrix,
                                                       std::uint64_t milliseconds, const std::string& name)
{
    igtl::ImageMessage::Pointer message = igtl::ImageMessage::New();
    message->SetDeviceName(messageName(name).c_str());
    message->SetDimensions(image.width(), image.height(), image.slices());
    message->SetSpacing(static_cast<float>(image.spacing().x()), static_cast<float>(image.spacing().y()),
                        static_cast<float>(image.spacing().z()));
    message->SetScalarType(scalarTypeForPixelType(image.pixelType()));
    message->SetNumComponents(image.channels());
    message->SetEndian(kHostEndian);
    igtl::Matrix4x4 m;
    toMessageMatrix(matrix, m);
    message->SetMatrix(m);
    message->AllocateScalars();
    if (message->GetScalarPointer() != nullptr && image.data() != nullptr)
        std::memcpy(
            message->GetScalarPointer(), image.data(),
            std::min<std::size_t>(image.byteSize(), static_cast<std::size_t>(message->GetImageSize())));
    setTimestamp(*message, milliseconds);
    message->Pack();
    return message;
}

std::unique_ptr<MemImage> Conversion::messageToImage(igtl::ImageMessage& message)
{
    const std::optional<int> pixelType = pixelTypeForScalarType(message.GetScalarType());
    if (!pixelType || !ImageDescriptor::isKnownType(*pixelType))
        return nullptr;
    int size[3] = {0, 0, 0};
    int sub[3] = {0, 0, 0};
    int offset[3] = {0, 0, 0};
    message.GetDimensions(size);
    message.GetSubVolume(sub, offset);
    if (sub[0] != size[0] || sub[1] != size[1] || sub[2] != size[2])
        return nullptr;
    float spacing[3] = {1, 1, 1};
    message.GetSpacing(spacing);
    ImageDescriptor descriptor(*pixelType, size[0], size[1], size[2], message.GetNumComponents());
    descriptor.spacing = Eigen::Vector3d(spacing[0], spacing[1], spacing[2]);
    if (!descriptor.spacing.allFinite() || (descriptor.spacing.array() <= 0.0).any())
        descriptor.spacing = Eigen::Vector3d::Ones();
    if (!descriptor.isValid() || message.GetScalarPointer() == nullptr ||
        static_cast<std::size_t>(message.GetImageSize()) != descriptor.byteSize())
        return nullptr;
    std::unique_ptr<MemImage> wrapped = MemImage::wrap(descriptor, message.GetScalarPointer());
    if (!wrapped)
        return nullptr;
    std::unique_ptr<MemImage> copy = wrapped->clone();
    const std::size_t valueSize = MessageValidator::scalarSize(message.GetScalarType());
    if (copy && valueSize > 1 && message.GetEndian() != kHostEndian)
        swapValues(static_cast<std::uint8_t*>(copy->data()), copy->byteSize(), valueSize);
    return copy;
}

std::vector<TrackingInstrument> Conversion::tdataToInstruments(igtl::TrackingDataMessage& message)
{
    const std::uint64_t ms = timestampMs(message);
    std::vector<TrackingInstrument> instruments;
    const int n = message.GetNumberOfTrackingDataElements();
    for (int i = 0; i < n; ++i) {
        igtl::TrackingDataElement::Pointer element;
        message.GetTrackingDataElement(i, element);
        if (element.IsNull())
            continue;
        TrackingInstrument instrument(TrackerID("igtl-" + std::to_string(i), element->GetName()));
        igtl::Matrix4x4 m;
        element->GetMatrix(m);
        instrument.matrix = fromMessageMatrix(m);
        instrument.quality = 1.0;
        instrument.timestamp = ms;
        instruments.push_back(std::move(instrument));
    }
    return instruments;
}

TrackingInstrument Conversion::transformToInstrument(igtl::TransformMessage& message, const TrackerID& id)
{
    TrackingInstrument instrument(id);
    igtl::Matrix4x4 m;
    message.GetMatrix(m);
    instrument.matrix = fromMessageMatrix(m);
    instrument.quality = 1.0;
    instrument.timestamp = timestampMs(message);
    return instrument;
}

TrackingInstrument Conversion::trackingCvxToInstrument(TrackingMessage& message, const TrackerID& id)
{
    TrackingInstrument instrument = transformToInstrument(message, id);
    instrument.quality = static_cast<double>(message.quality());
    return instrument;
}

igtl::TrackingDataMessage::Pointer Conversion::instrumentsToTData(
    const std::vector<TrackingInstrument>& instruments, const std::vector<std::string>& names,
    std::uint64_t milliseconds, const std::string& deviceName)
{
    igtl::TrackingDataMessage::Pointer message = igtl::TrackingDataMessage::New();
    message->SetDeviceName(messageName(deviceName).c_str());
    for (std::size_t i = 0; i < instruments.size(); ++i) {
        igtl::TrackingDataElement::Pointer element = igtl::TrackingDataElement::New();
        element->SetName(messageName(i < names.size() ? names[i] : std::string()).c_str());
        element->SetType(igtl::TrackingDataElement::TYPE_6D);
        igtl::Matrix4x4 m;
        toMessageMatrix(instruments[i].matrix, m);
        element->SetMatrix(m);
        message->AddTrackingDataElement(element);
    }
    setTimestamp(*message, milliseconds);
    message->Pack();
    return message;
}

igtl::TransformMessage::Pointer Conversion::instrumentToTransform(const TrackingInstrument& instrument,
                                                                  const std::string& name,
                                                                  std::uint64_t milliseconds)
{
    igtl::TransformMessage::Pointer message = igtl::TransformMessage::New();
    message->SetDeviceName(messageName(name).c_str());
    igtl::Matrix4x4 m;
    toMessageMatrix(instrument.matrix, m);
    message->SetMatrix(m);
    setTimestamp(*message, milliseconds);
    message->Pack();
    return message;
}

TrackingMessage::Pointer Conversion::instrumentToTrackingCvx(const TrackingInstrument& instrument,
                                                             const std::string& name,
                                                             std::uint64_t milliseconds)
{
    TrackingMessage::Pointer message = TrackingMessage::New();
    message->SetDeviceName(messageName(name).c_str());
    igtl::Matrix4x4 m;
    toMessageMatrix(instrument.matrix, m);
    message->SetMatrix(m);
    message->setQuality(static_cast<float>(instrument.quality));
    setTimestamp(*message, milliseconds);
    message->Pack();
    return message;
}

igtl::PolyDataMessage::Pointer Conversion::meshToMessage(const Mesh& mesh, std::uint64_t milliseconds,
                                                         const std::string& name)
{
    igtl::PolyDataMessage::Pointer message = igtl::PolyDataMessage::New();
    setPointsAndName(*message, mesh.vertices(), milliseconds, name);
    igtl::PolyDataCellArray::Pointer polygons = igtl::PolyDataCellArray::New();
    for (const auto& face : mesh.faces()) {
        igtlUint32 cell[3] = {static_cast<igtlUint32>(face[0]), static_cast<igtlUint32>(face[1]),
                              static_cast<igtlUint32>(face[2])};
        polygons->AddCell(3, cell);
    }
    message->SetPolygons(polygons);
    if (mesh.hasVertexNormals())
        message->AddAttribute(
            attribute("normals", igtl::PolyDataAttribute::POINT_NORMAL, &mesh.vertexNormals(), nullptr));
    if (mesh.hasVertexColors())
        message->AddAttribute(
            attribute("vertex colors", igtl::PolyDataAttribute::POINT_RGBA, nullptr, &mesh.vertexColors()));
    message->Pack();
    fixEmptyPolyData(*message, mesh.vertices().size());
    return message;
}

igtl::PolyDataMessage::Pointer Conversion::pointCloudToMessage(const PointCloud& cloud,
                                                               std::uint64_t milliseconds,
                                                               const std::string& name)
{
    igtl::PolyDataMessage::Pointer message = igtl::PolyDataMessage::New();
    setPointsAndName(*message, cloud.points(), milliseconds, name);
    if (cloud.hasNormals())
        message->AddAttribute(
            attribute("vertex normals", igtl::PolyDataAttribute::POINT_NORMAL, &cloud.normals(), nullptr));
    if (cloud.hasColors())
        message->AddAttribute(
            attribute("vertex colors", igtl::PolyDataAttribute::POINT_RGBA, nullptr, &cloud.colors()));
    message->Pack();
    fixEmptyPolyData(*message, cloud.points().size());
    return message;
}

std::unique_ptr<Mesh> Conversion::messageToMesh(igtl::PolyDataMessage& message)
{
    std::vector<Eigen::Vector3f> points = messagePoints(message);
    const std::size_t pointCount = points.size();
    std::vector<Eigen::Vector3i> faces;
    // Which polygon each face came from, for cell attributes.
    std::vector<std::size_t> faceCell;
    igtl::PolyDataCellArray::Pointer polygons = message.GetPolygons();
    const igtlUint32 cellCount = polygons.IsNull() ? 0 : polygons->GetNumberOfCells();
    for (igtlUint32 c = 0; c < cellCount; ++c) {
        std::list<igtlUint32> cell;
        polygons->GetCell(c, cell);
        std::vector<int> ids(cell.begin(), cell.end());
        for (const int id : ids)
            if (id < 0 || static_cast<std::size_t>(id) >= pointCount)
                return nullptr;
        for (std::size_t k = 2; k < ids.size(); ++k) {
            faces.emplace_back(ids[0], ids[k - 1], ids[k]);
            faceCell.push_back(c);
        }
    }
    auto mesh = std::make_unique<Mesh>();
    if (!mesh->setGeometry(std::move(points), std::move(faces)))
        return nullptr;
    bool hasPointColors = false;
    const int attributes = message.GetNumberOfAttributes();
    for (int i = 0; i < attributes; ++i) {
        igtl::PolyDataAttribute* a = message.GetAttribute(static_cast<unsigned>(i));
        if (a == nullptr)
            continue;
        switch (a->GetType()) {
            case igtl::PolyDataAttribute::POINT_NORMAL: {
                auto normals = attributeValues<3>(*a, pointCount);
                if (!normals.empty())
                    mesh->setVertexNormals(std::move(normals));
                break;
            }
            case igtl::PolyDataAttribute::CELL_NORMAL: {
                const auto normals = attributeValues<3>(*a, cellCount);
                if (normals.empty() && cellCount != 0)
                    break;
                std::vector<Eigen::Vector3f> perCorner;
                for (const std::size_t cell : faceCell)
                    perCorner.insert(perCorner.end(), 3, normals[cell]);
                mesh->setHalfEdgeNormals(std::move(perCorner));
                break;
            }
            case igtl::PolyDataAttribute::POINT_RGBA: {
                auto colors = attributeValues<4>(*a, pointCount);
                if (!colors.empty() || pointCount == 0) {
                    mesh->setVertexColors(std::move(colors));
                    hasPointColors = true;
                }
                break;
            }
            default:
                break;
        }
    }
    if (!hasPointColors) {
        for (int i = 0; i < attributes; ++i) {
            igtl::PolyDataAttribute* a = message.GetAttribute(static_cast<unsigned>(i));
            if (a == nullptr || a->GetType() != igtl::PolyDataAttribute::CELL_RGBA)
                continue;
            const auto colors = attributeValues<4>(*a, cellCount);
            if (colors.empty() && cellCount != 0)
                continue;
            std::vector<Eigen::Vector4f> perCorner;
            for (const std::size_t cell : faceCell)
                perCorner.insert(perCorner.end(), 3, colors[cell]);
            mesh->setHalfEdgeColors(std::move(perCorner));
            break;
        }
    }
    if (!mesh->hasVertexNormals())
        mesh->computeVertexNormals();
    return mesh;
}

std::unique_ptr<PointCloud> Conversion::messageToPointCloud(igtl::PolyDataMessage& message)
{
    auto cloud = std::make_unique<PointCloud>();
    cloud->setPoints(messagePoints(message));
    const std::size_t n = static_cast<std::size_t>(cloud->numberOfPoints());
    const int attributes = message.GetNumberOfAttributes();
    for (int i = 0; i < attributes; ++i) {
        igtl::PolyDataAttribute* a = message.GetAttribute(static_cast<unsigned>(i));
        if (a == nullptr)
            continue;
        if (a->GetType() == igtl::PolyDataAttribute::POINT_NORMAL) {
            auto normals = attributeValues<3>(*a, n);
            if (!normals.empty())
                cloud->setNormals(std::move(normals));
        } else if (a->GetType() == igtl::PolyDataAttribute::POINT_RGBA) {
            auto colors = attributeValues<4>(*a, n);
            if (!colors.empty())
                cloud->setColors(std::move(colors));
        }
    }
    return cloud;
}

}  // namespace Corvexis::IGTL
