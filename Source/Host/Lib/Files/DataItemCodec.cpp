#include "Host/Lib/Files/DataItemCodec.h"

#include <cmath>

#include "Host/Core/MemImage.h"
#include "Host/Core/Mesh.h"
#include "Host/Core/PointCloud.h"
#include "Host/Core/Properties.h"
#include "Host/Core/PropertiesData.h"
#include "Host/Core/TrackingSequence.h"
#include "Host/Lib/Files/ByteStreams.h"
#include "Host/Lib/SharedImageSet.h"
#include "Host/Lib/TrackedSharedImageSet.h"

namespace Corvexis::Files {

namespace {

constexpr int kMaxPropertiesDepth = 64;

bool fail(std::string* error, const std::string& what)
{
    if (error && error->empty())
        *error = what;
    return false;
}

// ---- properties and component lists

bool encodeAttributes(ByteSink& out, const Properties::Attributes& attributes)
{
    if (!out.u32(static_cast<std::uint32_t>(attributes.size())))
        return false;
    for (const auto& [key, value] : attributes)
        if (!out.str(key) || !out.str(value))
            return false;
    return true;
}

bool decodeAttributes(ByteSource& in, Properties::Attributes& attributes)
{
    std::uint32_t n = 0;
    // Every attribute takes at least its two 4-byte lengths.
    if (!in.u32(n) || std::uint64_t{n} * 8 > in.remaining())
        return false;
    attributes.clear();
    attributes.reserve(n);
    for (std::uint32_t i = 0; i < n; ++i) {
        std::string key;
        std::string value;
        if (!in.str(key) || !in.str(value))
            return false;
        attributes.emplace_back(std::move(key), std::move(value));
    }
    return true;
}

bool decodePropertiesAt(ByteSource& in, Properties& p, int depth, std::string* error)
{
    if (depth > kMaxPropertiesDepth)
        return fail(error, "property blocks nested too deeply");
    std::string name;
    std::uint32_t params = 0;
    if (!in.str(name) || !in.u32(params) || std::uint64_t{params} * 12 > in.remaining())
        return fail(error, "property block header runs past the end of the item");
    p.setName(std::move(name));
    for (std::uint32_t i = 0; i < params; ++i) {
        std::string key;
        std::string text;
        Properties::Attributes attributes;
        if (!in.str(key) || !in.str(text) || !decodeAttributes(in, attributes))
            return fail(error, "property parameter runs past the end of the item");
        if (p.hasParam(key))
            return fail(error, "property block repeats the key '" + key + "'");
        p.setParamText(key, std::move(text));
        for (const auto& [attr, value] : attributes)
            p.setParamAttribute(key, attr, value);
    }
    Properties::Attributes blockAttributes;
    std::uint32_t children = 0;
    if (!decodeAttributes(in, blockAttributes) || !in.u32(children) ||
        std::uint64_t{children} * 16 > in.remaining())
        return fail(error, "property block runs past the end of the item");
    for (const auto& [attr, value] : blockAttributes)
        p.setAttribute(attr, value);
    for (std::uint32_t i = 0; i < children; ++i)
        if (!decodePropertiesAt(in, *p.addSubProperties(std::string()), depth + 1, error))
            return false;
    return true;
}

bool encodeComponents(ByteSink& out, const DataComponentList& list)
{
    Properties p("Components");
    list.configuration(&p);
    return encodeProperties(out, p);
}

bool decodeComponents(ByteSource& in, DataComponentList& list, std::string* error)
{
    Properties p;
    if (!decodeProperties(in, p, error))
        return false;
    list.configure(&p);
    return true;
}

bool encodeElementwise(ByteSink& out, const ElementwiseDataComponentList& list)
{
    Properties p("Elements");
    list.configuration(&p);
    return encodeProperties(out, p);
}

// The list must be empty or have one entry per element.
bool decodeElementwise(ByteSource& in, ElementwiseDataComponentList& list, std::size_t elements,
                       std::string* error)
{
    Properties p;
    if (!decodeProperties(in, p, error))
        return false;
    ElementwiseDataComponentList loaded;
    loaded.configure(&p);
    if (loaded.empty()) {
        list.resize(elements);
        return true;
    }
    if (loaded.size() != elements)
        return fail(error, "per-element components do not match the element count");
    list = std::move(loaded);
    return true;
}

// ---- what every item has: name, pose, components

bool encodeCommon(ByteSink& out, const Data& d)
{
    return out.str(d.name()) && out.mat4(d.matrixToWorld()) && encodeComponents(out, d.components());
}

bool decodeCommon(ByteSource& in, Data& d, std::string* error)
{
    std::string name;
    Eigen::Matrix4d m;
    if (!in.str(name) || !in.mat4(m))
        return fail(error, "item header runs past the end of the item");
    d.setName(name);
    if (!m.allFinite() || std::abs(m.determinant()) < 1e-300)
        return fail(error, "item pose is not an invertible finite matrix");
    d.setMatrixToWorld(m);
    return decodeComponents(in, d.components(), error);
}

bool validModality(std::int32_t m)
{
    return m >= 0 && m <= static_cast<int>(Data::Modality::DistanceMap);
}

// ---- image sets

bool encodeImageSetBody(ByteSink& out, const SharedImageSet& set)
{
    if (!encodeCommon(out, set) || !out.i32(static_cast<std::int32_t>(set.modality())) ||
        !encodeProperties(out, set.properties()) || !out.u32(static_cast<std::uint32_t>(set.size())))
        return false;
    for (int i = 0; i < set.size(); ++i) {
        const std::shared_ptr<SharedImage> frame = set.get(i);
        const MemImage* mem = frame->mem();
        if (!mem)
            return false;
        const ImageDescriptor& d = frame->descriptor();
        const std::optional<double> t = set.timestamp(i);
        if (!out.i32(d.pixelType) || !out.i32(d.width) || !out.i32(d.height) || !out.i32(d.slices) ||
            !out.i32(d.channels) || !out.f64(d.spacing.x()) || !out.f64(d.spacing.y()) ||
            !out.f64(d.spacing.z()) || !out.u8(frame->isMetric() ? 1 : 0) ||
            !out.i32(static_cast<std::int32_t>(frame->modality())) || !out.mat4(frame->matrix()) ||
            !encodeComponents(out, frame->components()) || !out.u8(t ? 1 : 0) || !out.f64(t.value_or(0.0)) ||
            !out.u64(mem->byteSize()) || !out.write(mem->data(), mem->byteSize()))
            return false;
    }
    return encodeElementwise(out, set.elementwiseComponents());
}

// Smallest encoded frame without pixels: used to bound the frame count by the bytes that remain.
constexpr std::uint64_t kMinFrameBytes = 5 * 4 + 3 * 8 + 1 + 4 + 16 * 8 + 4 + 1 + 8 + 8;

bool decodeImageSetBody(ByteSource& in, SharedImageSet& set, std::string* error)
{
    std::int32_t modality = 0;
    std::uint32_t frames = 0;
    if (!decodeCommon(in, set, error))
        return false;
    if (!in.i32(modality) || !validModality(modality))
        return fail(error, "image set modality is missing or unknown");
    set.setModality(static_cast<Data::Modality>(modality));
    if (!decodeProperties(in, set.properties(), error))
        return false;
    if (!in.u32(frames) || frames * kMinFrameBytes > in.remaining())
        return fail(error, "frame count exceeds the bytes of the item");
    set.reserve(frames);
    for (std::uint32_t i = 0; i < frames; ++i) {
        ImageDescriptor d;
        double sx = 0;
        double sy = 0;
        double sz = 0;
        std::uint8_t metric = 0;
        std::int32_t frameModality = 0;
        Eigen::Matrix4d m;
        if (!in.i32(d.pixelType) || !in.i32(d.width) || !in.i32(d.height) || !in.i32(d.slices) ||
            !in.i32(d.channels) || !in.f64(sx) || !in.f64(sy) || !in.f64(sz) || !in.u8(metric) ||
            !in.i32(frameModality) || !in.mat4(m))
            return fail(error, "frame " + std::to_string(i) + " header runs past the end of the item");
        d.spacing = Eigen::Vector3d(sx, sy, sz);
        if (!d.isValid() || metric > 1 || !validModality(frameModality) || !m.allFinite())
            return fail(error, "frame " + std::to_string(i) + " has an invalid layout, spacing or pose");
        DataComponentList components;
        if (!decodeComponents(in, components, error))
            return false;
        std::uint8_t hasTime = 0;
        double timeMs = 0;
        std::uint64_t bytes = 0;
        if (!in.u8(hasTime) || hasTime > 1 || !in.f64(timeMs) || !in.u64(bytes))
            return fail(error, "frame " + std::to_string(i) + " header runs past the end of the item");
        const std::optional<std::size_t> expected = d.checkedByteSize();
        if (!expected || bytes != *expected)
            return fail(error, "frame " + std::to_string(i) + " pixel byte count does not match its layout");
        if (bytes > in.remaining())
            return fail(error, "frame " + std::to_string(i) + " pixels run past the end of the item");
        std::unique_ptr<MemImage> pixels = MemImage::create(d, false);
        if (!pixels)
            return fail(error, "out of memory for frame " + std::to_string(i));
        if (!in.read(pixels->data(), pixels->byteSize()))
            return fail(error, "frame " + std::to_string(i) + " pixels run past the end of the item");
        auto frame = std::make_shared<SharedImage>(std::move(pixels));
        frame->setSpacing(d.spacing, metric != 0);
        frame->setModality(static_cast<Data::Modality>(frameModality));
        frame->setMatrix(m);
        frame->components() = std::move(components);
        set.add(std::move(frame), hasTime ? std::optional<double>(timeMs) : std::nullopt);
    }
    return decodeElementwise(in, set.elementwiseComponents(), frames, error);
}

// ---- tracking sequences

constexpr std::uint64_t kSampleBytes = 8 + 16 * 8 + 8 + 4;

bool encodeTracking(ByteSink& out, const TrackingSequence& ts)
{
    const TrackerID& id = ts.trackerId();
    if (!encodeCommon(out, ts) || !out.str(id.ID()) || !out.str(id.modelNumber()) || !out.str(id.name()) ||
        !out.mat4(ts.calibration()) || !out.u8(ts.relativeTracking() ? 1 : 0) ||
        !out.mat4(ts.relativeReference()) || !out.u8(ts.ignoreTimestamps() ? 1 : 0) ||
        !out.u32(static_cast<std::uint32_t>(ts.size())))
        return false;
    for (const TrackingSequence::Sample& s : ts.samples())
        if (!out.f64(s.timeSec) || !out.mat4(s.matrix) || !out.f64(s.quality) || !out.i32(s.status))
            return false;
    return encodeElementwise(out, ts.elementwiseComponents());
}

bool decodeTracking(ByteSource& in, TrackingSequence& ts, std::string* error)
{
    std::string id;
    std::string model;
    std::string name;
    Eigen::Matrix4d calibration;
    Eigen::Matrix4d reference;
    std::uint8_t relative = 0;
    std::uint8_t ignoreTimes = 0;
    std::uint32_t count = 0;
    if (!decodeCommon(in, ts, error))
        return false;
    if (!in.str(id) || !in.str(model) || !in.str(name) || !in.mat4(calibration) || !in.u8(relative) ||
        !in.mat4(reference) || !in.u8(ignoreTimes) || !in.u32(count))
        return fail(error, "tracking header runs past the end of the item");
    if (relative > 1 || ignoreTimes > 1 || !calibration.allFinite() || !reference.allFinite())
        return fail(error, "tracking header holds invalid values");
    if (count * kSampleBytes > in.remaining())
        return fail(error, "sample count exceeds the bytes of the item");
    ts.setTrackerId(TrackerID(std::move(id), std::move(model), std::move(name)));
    ts.setCalibration(calibration);
    ts.setRelativeReference(reference);
    ts.setRelativeTracking(relative != 0, reference);
    ts.setIgnoreTimestamps(ignoreTimes != 0);
    double previous = -INFINITY;
    for (std::uint32_t i = 0; i < count; ++i) {
        double t = 0;
        Eigen::Matrix4d m;
        double quality = 0;
        std::int32_t status = 0;
        if (!in.f64(t) || !in.mat4(m) || !in.f64(quality) || !in.i32(status))
            return fail(error, "sample runs past the end of the item");
        // Samples are stored in time order; anything else was not written by us.
        if (!std::isfinite(t) || !m.allFinite() || t < previous)
            return fail(error, "sample " + std::to_string(i) + " has an invalid time or pose");
        previous = t;
        ts.add(m, t, quality, status);
    }
    return decodeElementwise(in, ts.elementwiseComponents(), count, error);
}

// ---- meshes and point clouds

template <typename V>
bool encodeVectors(ByteSink& out, const std::vector<V>& v)
{
    return out.u32(static_cast<std::uint32_t>(v.size())) && out.write(v.data(), v.size() * sizeof(V));
}

template <typename V>
bool decodeVectors(ByteSource& in, std::vector<V>& v)
{
    static_assert(sizeof(V) == V::SizeAtCompileTime * sizeof(typename V::Scalar), "packed vectors");
    std::uint32_t n = 0;
    if (!in.u32(n) || std::uint64_t{n} * sizeof(V) > in.remaining())
        return false;
    v.resize(n);
    return in.read(v.data(), v.size() * sizeof(V));
}

bool encodeMesh(ByteSink& out, const Mesh& mesh)
{
    return encodeCommon(out, mesh) && encodeVectors(out, mesh.vertices()) &&
           encodeVectors(out, mesh.faces()) && encodeVectors(out, mesh.vertexNormals()) &&
           encodeVectors(out, mesh.halfEdgeNormals()) && encodeVectors(out, mesh.vertexColors()) &&
           encodeVectors(out, mesh.halfEdgeColors());
}

bool decodeMesh(ByteSource& in, Mesh& mesh, std::string* error)
{
    std::vector<Eigen::Vector3f> vertices;
    std::vector<Eigen::Vector3i> faces;
    std::vector<Eigen::Vector3f> vertexNormals;
    std::vector<Eigen::Vector3f> halfEdgeNormals;
    std::vector<Eigen::Vector4f> vertexColors;
    std::vector<Eigen::Vector4f> halfEdgeColors;
    if (!decodeCommon(in, mesh, error))
        return false;
    if (!decodeVectors(in, vertices) || !decodeVectors(in, faces) || !decodeVectors(in, vertexNormals) ||
        !decodeVectors(in, halfEdgeNormals) || !decodeVectors(in, vertexColors) ||
        !decodeVectors(in, halfEdgeColors))
        return fail(error, "mesh arrays run past the end of the item");
    if (!mesh.setGeometry(std::move(vertices), std::move(faces)) ||
        !mesh.setVertexNormals(std::move(vertexNormals)) ||
        !mesh.setHalfEdgeNormals(std::move(halfEdgeNormals)) ||
        !mesh.setVertexColors(std::move(vertexColors)) || !mesh.setHalfEdgeColors(std::move(halfEdgeColors)))
        return fail(error, "mesh faces or attributes do not match its vertices");
    return true;
}

bool encodePointCloud(ByteSink& out, const PointCloud& cloud)
{
    return encodeCommon(out, cloud) && encodeVectors(out, cloud.points()) &&
           encodeVectors(out, cloud.normals()) && encodeVectors(out, cloud.colors());
}

bool decodePointCloud(ByteSource& in, PointCloud& cloud, std::string* error)
{
    std::vector<Eigen::Vector3f> points;
    std::vector<Eigen::Vector3f> normals;
    std::vector<Eigen::Vector4f> colors;
    if (!decodeCommon(in, cloud, error))
        return false;
    if (!decodeVectors(in, points) || !decodeVectors(in, normals) || !decodeVectors(in, colors))
        return fail(error, "point arrays run past the end of the item");
    cloud.setPoints(std::move(points));
    if (!cloud.setNormals(std::move(normals)) || !cloud.setColors(std::move(colors)))
        return fail(error, "point attributes do not match the points");
    return true;
}

}  // namespace

bool encodeProperties(ByteSink& out, const Properties& p)
{
    if (!out.str(p.name()) || !out.u32(static_cast<std::uint32_t>(p.paramCount())))
        return false;
    for (const std::string& key : p.paramNames())
        if (!out.str(key) || !out.str(*p.paramText(key)) || !encodeAttributes(out, p.paramAttributes(key)))
            return false;
    if (!encodeAttributes(out, p.attributes()) ||
        !out.u32(static_cast<std::uint32_t>(p.subPropertiesCount())))
        return false;
    for (const Properties* child : p.subProperties())
        if (!encodeProperties(out, *child))
            return false;
    return true;
}

bool decodeProperties(ByteSource& in, Properties& p, std::string* error)
{
    p.clear();
    return decodePropertiesAt(in, p, 1, error);
}

std::uint32_t chunkTypeOf(const Data& item)
{
    if (dynamic_cast<const TrackedSharedImageSet*>(&item))
        return kChunkTrackedImageSet;
    if (dynamic_cast<const SharedImageSet*>(&item))
        return kChunkImageSet;
    if (dynamic_cast<const TrackingSequence*>(&item))
        return kChunkTrackingSequence;
    if (dynamic_cast<const Mesh*>(&item))
        return kChunkMesh;
    if (dynamic_cast<const PointCloud*>(&item))
        return kChunkPointCloud;
    if (dynamic_cast<const PropertiesData*>(&item))
        return kChunkProperties;
    return 0;
}

std::string chunkKindName(std::uint32_t type)
{
    switch (type) {
        case kChunkImageSet:
            return "image set";
        case kChunkTrackingSequence:
            return "tracking sequence";
        case kChunkTrackedImageSet:
            return "tracked image set";
        case kChunkMesh:
            return "mesh";
        case kChunkPointCloud:
            return "point cloud";
        case kChunkProperties:
            return "property block";
        default:
            break;
    }
    std::string text = "unknown chunk '";
    for (int i = 0; i < 4; ++i) {
        const auto c = static_cast<unsigned char>(type >> (8 * i));
        text += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '?';
    }
    return text + "'";
}

bool encodeItem(ByteSink& out, const Data& item)
{
    switch (chunkTypeOf(item)) {
        case kChunkTrackedImageSet: {
            const auto& set = static_cast<const TrackedSharedImageSet&>(item);
            if (!encodeImageSetBody(out, set) || !out.u8(set.useTimestamps() ? 1 : 0) ||
                !out.u32(static_cast<std::uint32_t>(set.numTracking())))
                return false;
            for (int i = 0; i < set.numTracking(); ++i) {
                CountingSink count;
                encodeTracking(count, *set.tracking(i));
                if (!out.u64(count.count()) || !encodeTracking(out, *set.tracking(i)))
                    return false;
            }
            return true;
        }
        case kChunkImageSet:
            return encodeImageSetBody(out, static_cast<const SharedImageSet&>(item));
        case kChunkTrackingSequence:
            return encodeTracking(out, static_cast<const TrackingSequence&>(item));
        case kChunkMesh:
            return encodeMesh(out, static_cast<const Mesh&>(item));
        case kChunkPointCloud:
            return encodePointCloud(out, static_cast<const PointCloud&>(item));
        case kChunkProperties:
            return encodeCommon(out, item) &&
                   encodeProperties(out, static_cast<const PropertiesData&>(item).properties());
        default:
            return false;
    }
}

std::unique_ptr<Data> decodeItem(std::uint32_t type, ByteSource& in, std::string* error)
{
    switch (type) {
        case kChunkTrackedImageSet: {
            auto set = std::make_unique<TrackedSharedImageSet>();
            std::uint8_t useTimes = 0;
            std::uint32_t count = 0;
            if (!decodeImageSetBody(in, *set, error))
                return nullptr;
            if (!in.u8(useTimes) || useTimes > 1 || !in.u32(count) ||
                std::uint64_t{count} * 8 > in.remaining()) {
                fail(error, "tracking list of the image set is malformed");
                return nullptr;
            }
            set->setUseTimestamps(useTimes != 0);
            for (std::uint32_t i = 0; i < count; ++i) {
                std::uint64_t length = 0;
                if (!in.u64(length) || length > in.remaining()) {
                    fail(error, "tracking sequence of the image set runs past the end of the item");
                    return nullptr;
                }
                const std::uint64_t before = in.remaining();
                auto ts = std::make_unique<TrackingSequence>();
                if (!decodeTracking(in, *ts, error))
                    return nullptr;
                if (before - in.remaining() != length) {
                    fail(error, "tracking sequence of the image set has a wrong length");
                    return nullptr;
                }
                set->addTracking(std::move(ts));
            }
            return set;
        }
        case kChunkImageSet: {
            auto set = std::make_unique<SharedImageSet>();
            return decodeImageSetBody(in, *set, error) ? std::move(set) : nullptr;
        }
        case kChunkTrackingSequence: {
            auto ts = std::make_unique<TrackingSequence>();
            return decodeTracking(in, *ts, error) ? std::move(ts) : nullptr;
        }
        case kChunkMesh: {
            auto mesh = std::make_unique<Mesh>();
            return decodeMesh(in, *mesh, error) ? std::move(mesh) : nullptr;
        }
        case kChunkPointCloud: {
            auto cloud = std::make_unique<PointCloud>();
            return decodePointCloud(in, *cloud, error) ? std::move(cloud) : nullptr;
        }
        case kChunkProperties: {
            auto block = std::make_unique<PropertiesData>();
            if (!decodeCommon(in, *block, error) || !decodeProperties(in, block->properties(), error))
                return nullptr;
            return block;
        }
        default:
            fail(error, "unknown item kind");
            return nullptr;
    }
}

}  // namespace Corvexis::Files
