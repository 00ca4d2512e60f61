#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <string>

#include "Host/Core/MemImage.h"
#include "Host/Core/Mesh.h"
#include "Host/Core/OwningDataList.h"
#include "Host/Core/PointCloud.h"
#include "Host/Core/Properties.h"
#include "Host/Core/PropertiesData.h"
#include "Host/Core/TimestampDataComponent.h"
#include "Host/Core/TrackingSequence.h"
#include "Host/Core/VitalsDataComponent.h"
#include "Host/Lib/SharedImageSet.h"
#include "Host/Lib/TrackedSharedImageSet.h"

// Sample data items of every kind a data file holds, and a bit-exact comparison of two items.
namespace Corvexis::FilesTest {

// A frame of `d` filled with reproducible pseudo-random bytes.
inline std::shared_ptr<SharedImage> randomFrame(const ImageDescriptor& d, std::uint32_t seed)
{
    auto mem = MemImage::create(d, false);
    std::mt19937 rng(seed);
    auto* p = static_cast<std::uint8_t*>(mem->data());
    for (std::size_t i = 0; i < mem->byteSize(); ++i)
        p[i] = static_cast<std::uint8_t>(rng());
    if (d.pixelType == ImageDescriptor::kFloat) {  // keep floats finite and NaN-free for clarity
        auto* f = static_cast<float*>(mem->data());
        for (std::size_t i = 0; i < mem->byteSize() / 4; ++i)
            f[i] = static_cast<float>(i) * 0.25f - 3.0f;
    }
    if (d.pixelType == ImageDescriptor::kDouble) {
        auto* f = static_cast<double*>(mem->data());
        for (std::size_t i = 0; i < mem->byteSize() / 8; ++i)
            f[i] = static_cast<double>(i) * 0.1 - 3.0;  // not representable as floats
    }
    return std::make_shared<SharedImage>(std::move(mem));
}

inline std::unique_ptr<SharedImageSet> imageSet(int pixelType, int channels, int frames, int slices = 1,
                                                bool withTimes = true)
{
    auto set = std::make_unique<SharedImageSet>("set " + ImageDescriptor::typeName(pixelType));
    set->setModality(Data::Modality::Ultrasound);
    ImageDescriptor d(pixelType, 7, 5, slices, channels);
    d.spacing = Eigen::Vector3d(0.25, 0.5, slices > 1 ? 2.0 : 1.0);
    for (int i = 0; i < frames; ++i) {
        auto frame = randomFrame(d, static_cast<std::uint32_t>(pixelType * 100 + i));
        frame->setSpacing(d.spacing, i % 2 == 0);
        frame->setModality(Data::Modality::Ultrasound);
        Eigen::Matrix4d m = Eigen::Matrix4d::Identity();
        m(0, 3) = i * 1.5;
        frame->setMatrix(m);
        set->add(frame, withTimes ? std::optional<double>(1000.0 + i * 33.3) : std::nullopt);
        set->elementwiseComponents()[static_cast<std::size_t>(i)].emplace<TimestampDataComponent>(
            1'700'000'000'000u + static_cast<std::uint64_t>(i),
            1'700'000'000'005u + static_cast<std::uint64_t>(i));
    }
    set->properties().setParam("topDown", true);
    set->properties().addSubProperties("StreamMetaData")->setParam("fps", 29.97);
    auto& vitals = set->components().emplace<VitalsDataComponent>();
    vitals.addTimeSeries(VitalsDataComponent::VitalsKind::Ecg,
                         {{VitalsDataComponent::TimePoint(VitalsDataComponent::Ticks(17)), 0.125},
                          {VitalsDataComponent::TimePoint(VitalsDataComponent::Ticks(42)), -1e-300}});
    Eigen::Matrix4d world = Eigen::Matrix4d::Identity();
    world(1, 3) = -7.0;
    set->setMatrixToWorld(world);
    return set;
}

inline std::unique_ptr<TrackingSequence> trackingSequence(int samples)
{
    auto ts = std::make_unique<TrackingSequence>("Probe track");
    ts->setTrackerId(TrackerID("probe-1", "M-7", "Probe"));
    for (int i = 0; i < samples; ++i) {
        Eigen::Matrix4d m = Eigen::Matrix4d::Identity();
        m(0, 3) = 0.1 * i;
        m(2, 3) = 1.0 / 3.0;
        ts->add(m, 10.0 + i / 30.0, 0.9, i % 3);
    }
    Eigen::Matrix4d cal = Eigen::Matrix4d::Identity();
    cal(2, 3) = 12.5;
    ts->setCalibration(cal);
    ts->setRelativeReference(cal.inverse());
    if (samples > 0)
        ts->elementwiseComponents()[0].emplace<TimestampDataComponent>(1u, 2u);
    return ts;
}

inline std::unique_ptr<Mesh> mesh()
{
    auto m = std::make_unique<Mesh>("mesh");
    m->setGeometry({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}}, {{0, 2, 1}, {0, 1, 3}});
    m->computeVertexNormals();
    m->computeHalfEdgeNormals();
    m->setVertexColors({{1, 0, 0, 1}, {0, 1, 0, 1}, {0, 0, 1, 1}, {1, 1, 1, 0.5f}});
    return m;
}

inline std::unique_ptr<PointCloud> pointCloud()
{
    auto c = std::make_unique<PointCloud>("cloud");
    c->setPoints({{1, 2, 3}, {4, 5, 6}, {-1, 0.5f, 1e-20f}});
    c->setColors({{1, 0, 0, 1}, {0, 1, 0, 1}, {0, 0, 1, 1}});
    return c;
}

inline std::unique_ptr<PropertiesData> propertyBlock()
{
    Properties p("Settings");
    p.setParam("speed", 1.0 / 7.0);
    p.setParam("label", "with \"quotes\" and\nnewline");
    p.setParamAttribute("speed", "min", "0");
    p.addSubProperties("Child")->addSubProperties("Grandchild")->setParam("x", -0.0);
    return std::make_unique<PropertiesData>(std::move(p), "block");
}

// One item of every kind, image sets of every pixel type among them.
inline OwningDataList everyKind()
{
    OwningDataList items;
    const int types[] = {ImageDescriptor::kByte,   ImageDescriptor::kUByte, ImageDescriptor::kShort,
                         ImageDescriptor::kUShort, ImageDescriptor::kInt,   ImageDescriptor::kUInt,
                         ImageDescriptor::kFloat,  ImageDescriptor::kDouble};
    int channels = 1;
    for (int type : types) {
        items.add(imageSet(type, channels, 2));
        channels = channels % 4 + 1;
    }
    items.add(imageSet(ImageDescriptor::kUShort, 1, 1, 3));  // one 3-slice 16-bit volume
    items.add(std::make_unique<SharedImageSet>("empty set"));
    items.add(trackingSequence(5));
    items.add(std::make_unique<TrackingSequence>("empty track"));
    auto tracked =
        std::make_unique<TrackedSharedImageSet>(std::move(*imageSet(ImageDescriptor::kUByte, 1, 3)));
    tracked->addTracking(trackingSequence(4));
    tracked->addTracking(trackingSequence(2));
    tracked->setUseTimestamps(false);
    items.add(std::move(tracked));
    items.add(mesh());
    items.add(pointCloud());
    items.add(propertyBlock());
    return items;
}

inline bool sameComponents(const DataComponentList& a, const DataComponentList& b)
{
    Properties pa;
    Properties pb;
    a.configuration(&pa);
    b.configuration(&pb);
    return pa == pb && a.size() == b.size();
}

inline bool sameElementwise(const ElementwiseDataComponentList& a, const ElementwiseDataComponentList& b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (!sameComponents(a[i], b[i]))
            return false;
    return true;
}

inline ::testing::AssertionResult sameSet(const SharedImageSet& a, const SharedImageSet& b)
{
    if (a.size() != b.size() || a.modality() != b.modality() || !(a.properties() == b.properties()))
        return ::testing::AssertionFailure() << "set header differs";
    for (int i = 0; i < a.size(); ++i) {
        const SharedImage& fa = *a.get(i);
        const SharedImage& fb = *b.get(i);
        if (!(fa.descriptor() == fb.descriptor()) || fa.isMetric() != fb.isMetric() ||
            fa.modality() != fb.modality() || fa.matrix() != fb.matrix() ||
            a.timestamp(i) != b.timestamp(i) || !sameComponents(fa.components(), fb.components()))
            return ::testing::AssertionFailure() << "frame " << i << " metadata differs";
        if (std::memcmp(fa.mem()->data(), fb.mem()->data(), fa.mem()->byteSize()) != 0)
            return ::testing::AssertionFailure() << "frame " << i << " pixels differ";
    }
    if (!sameElementwise(a.elementwiseComponents(), b.elementwiseComponents()))
        return ::testing::AssertionFailure() << "per-frame components differ";
    return ::testing::AssertionSuccess();
}

// Kind, name, pose, components and content, bit for bit.
inline ::testing::AssertionResult sameItem(const Data& a, const Data& b)
{
    if (a.kind() != b.kind() || a.name() != b.name() || a.matrixToWorld() != b.matrixToWorld() ||
        !sameComponents(a.components(), b.components()))
        return ::testing::AssertionFailure() << "item '" << a.name() << "' header differs";
    if (auto* ta = dynamic_cast<const TrackedSharedImageSet*>(&a)) {
        auto* tb = dynamic_cast<const TrackedSharedImageSet*>(&b);
        if (!tb || ta->numTracking() != tb->numTracking() || ta->useTimestamps() != tb->useTimestamps())
            return ::testing::AssertionFailure() << "tracking of '" << a.name() << "' differs";
        for (int i = 0; i < ta->numTracking(); ++i)
            if (!sameItem(*ta->tracking(i), *tb->tracking(i)))
                return ::testing::AssertionFailure() << "tracking " << i << " differs";
    }
    if (auto* sa = dynamic_cast<const SharedImageSet*>(&a))
        return sameSet(*sa, dynamic_cast<const SharedImageSet&>(b));
    if (auto* qa = dynamic_cast<const TrackingSequence*>(&a)) {
        auto& qb = dynamic_cast<const TrackingSequence&>(b);
        if (!qa->hasSameContent(qb) ||
            !sameElementwise(qa->elementwiseComponents(), qb.elementwiseComponents()))
            return ::testing::AssertionFailure() << "samples of '" << a.name() << "' differ";
    }
    if (auto* ma = dynamic_cast<const Mesh*>(&a)) {
        auto& mb = dynamic_cast<const Mesh&>(b);
        if (ma->vertices() != mb.vertices() || ma->faces() != mb.faces() ||
            ma->vertexNormals() != mb.vertexNormals() || ma->halfEdgeNormals() != mb.halfEdgeNormals() ||
            ma->vertexColors() != mb.vertexColors() || ma->halfEdgeColors() != mb.halfEdgeColors())
            return ::testing::AssertionFailure() << "mesh differs";
    }
    if (auto* pa = dynamic_cast<const PointCloud*>(&a)) {
        auto& pb = dynamic_cast<const PointCloud&>(b);
        if (pa->points() != pb.points() || pa->normals() != pb.normals() || pa->colors() != pb.colors())
            return ::testing::AssertionFailure() << "point cloud differs";
    }
    if (auto* ba = dynamic_cast<const PropertiesData*>(&a)) {
        if (!(ba->properties() == dynamic_cast<const PropertiesData&>(b).properties()))
            return ::testing::AssertionFailure() << "property block differs";
    }
    return ::testing::AssertionSuccess();
}

struct CommandResult
{
    int status = -1;
    std::string output;  // stdout and stderr together
};

// Runs `command` through the shell and collects its output.
CommandResult runCommand(const std::string& command);
// True when `name` is a program on the PATH.
bool hasProgram(const std::string& name);

// A fresh empty directory under the system's temporary directory, removed with the object.
class TemporaryDirectory
{
public:
    TemporaryDirectory();
    ~TemporaryDirectory();
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

}  // namespace Corvexis::FilesTest
