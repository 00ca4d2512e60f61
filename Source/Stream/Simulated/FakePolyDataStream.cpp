#include "Stream/Simulated/FakePolyDataStream.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <string>

#include "Host/Core/DataList.h"
#include "Host/Core/Log.h"
#include "Host/Core/Mesh.h"
#include "Host/Core/MeshCreator.h"
#include "Host/Core/PointCloud.h"
#include "Host/Core/Properties.h"
#include "Host/Core/SettingsSchema.h"
#include "Stream/Framework/PolyDataStreamData.h"

namespace Corvexis {

namespace {

constexpr const char* kCategory = "FakePolyDataStream";
constexpr const char* kDefaultName = "Fake PolyData Stream";
constexpr const char* kNumMeshesKey = "numMeshes";
constexpr const char* kNumPointCloudsKey = "numPointClouds";
// The motion repeats every 10 frames; the counter wraps at a multiple of that long before int overflows.
constexpr int kFrameWrap = 2'000'000'000;

Eigen::Matrix4d translationX(double dx)
{
    Eigen::Matrix4d m = Eigen::Matrix4d::Identity();
    m(0, 3) = dx;
    return m;
}

// The count a configuration asks for, or nothing when the key is absent or not an integer.
std::optional<int> requestedCount(const Properties& properties, const char* key)
{
    int count = 0;
    if (!properties.getParam(key, count))
        return std::nullopt;
    const int bounded = std::clamp(count, 0, FakePolyDataStream::kMaxElements);
    if (bounded != count)
        Log::log(Log::Level::Warning, kCategory,
                 std::string(key) + " = " + std::to_string(count) + " is out of range; using " +
                     std::to_string(bounded));
    return bounded;
}

}  // namespace

FakePolyDataStream::FakePolyDataStream() : PolyDataStream(kDefaultName)
{
    setUpParameters();
    meshes_.push_back(makeSphere());
}

FakePolyDataStream::FakePolyDataStream(const DataList& data) : PolyDataStream(kDefaultName)
{
    setUpParameters();
    std::string firstName;
    bool named = false;
    for (Data* item : data) {
        if (item->kind() == Kind::Mesh) {
            const auto* mesh = dynamic_cast<const Mesh*>(item);
            if (mesh == nullptr || mesh->isEmpty()) {
                Log::log(Log::Level::Warning, kCategory,
                         "Invalid Mesh object in input DataList, ignoring entry!");
                continue;
            }
            std::unique_ptr<Mesh> copy = mesh->clone();
            if (!copy->hasVertexNormals())
                copy->computeVertexNormals();
            meshes_.push_back(std::move(copy));
        } else if (item->kind() == Kind::PointCloud) {
            const auto* cloud = dynamic_cast<const PointCloud*>(item);
            if (cloud == nullptr || cloud->isEmpty()) {
                Log::log(Log::Level::Warning, kCategory,
                         "Invalid PointCloud object in input DataList, ignoring entry!");
                continue;
            }
            appendCloudLocked(cloud->clone());  // no other thread can see the stream yet
        } else {
            continue;
        }
        if (!named) {
            firstName = item->name();
            named = true;
        }
    }
    if (meshes_.empty() && clouds_.empty()) {
        Log::log(Log::Level::Warning, kCategory,
                 "The DataList given to FakePolyDataStream doesn't have a single Mesh or PointCloud. Using "
                 "default constructor behaviour.");
        meshes_.push_back(makeSphere());
        return;
    }
    if (!firstName.empty())
        setName(firstName + " Fake Stream");
}

FakePolyDataStream::~FakePolyDataStream()
{
    close();
}

void FakePolyDataStream::setUpParameters()
{
    isMoving.setLabel("Is Moving");
    applyColors.setLabel("Apply Colors");
    applyNormals.setLabel("Apply Normals");
    fps.setAttribute("min", "1");
    fps.setAttribute("max", "1000");
}

bool FakePolyDataStream::isCompatible(const DataList& data)
{
    if (data.empty())
        return false;
    return std::all_of(data.begin(), data.end(), [](const Data* item) {
        return dynamic_cast<const Mesh*>(item) != nullptr || dynamic_cast<const PointCloud*>(item) != nullptr;
    });
}

std::unique_ptr<Mesh> FakePolyDataStream::makeSphere()
{
    std::unique_ptr<Mesh> sphere = MeshCreator::createSphere(kSphereRadius, kSphereSubdivisions);
    sphere->computeVertexNormals();
    return sphere;
}

void FakePolyDataStream::appendCloudLocked(std::unique_ptr<PointCloud> cloud)
{
    cloudNormals_.push_back(cloud->normals());
    clouds_.push_back(std::move(cloud));
}

void FakePolyDataStream::addMesh()
{
    std::unique_ptr<Mesh> sphere = makeSphere();  // outside the lock: the worker need not wait for it
    {
        std::lock_guard lock(mutex_);
        meshes_.push_back(std::move(sphere));
    }
    signalPolyDataChanged.emitSignal();
}

void FakePolyDataStream::addPointCloud()
{
    std::unique_ptr<PointCloud> cloud = PointCloud::fromMesh(*makeSphere());
    {
        std::lock_guard lock(mutex_);
        appendCloudLocked(std::move(cloud));
    }
    signalPolyDataChanged.emitSignal();
}

void FakePolyDataStream::removeMesh()
{
    std::unique_ptr<Mesh> removed;
    {
        std::lock_guard lock(mutex_);
        if (meshes_.empty())
            return;
        removed = std::move(meshes_.back());
        meshes_.pop_back();
    }
    removed.reset();
    signalPolyDataChanged.emitSignal();
}

void FakePolyDataStream::removePointCloud()
{
    std::unique_ptr<PointCloud> removed;
    {
        std::lock_guard lock(mutex_);
        if (clouds_.empty())
            return;
        removed = std::move(clouds_.back());
        clouds_.pop_back();
        cloudNormals_.pop_back();
    }
    removed.reset();
    signalPolyDataChanged.emitSignal();
}

int FakePolyDataStream::numMeshes() const
{
    std::lock_guard lock(mutex_);
    return static_cast<int>(meshes_.size());
}

int FakePolyDataStream::numClouds() const
{
    std::lock_guard lock(mutex_);
    return static_cast<int>(clouds_.size());
}

PolyDataTypes FakePolyDataStream::polyDataType() const
{
    std::lock_guard lock(mutex_);
    PolyDataTypes types;
    types.setFlag(PolyDataType::Meshes, !meshes_.empty());
    types.setFlag(PolyDataType::PointClouds, !clouds_.empty());
    return types;
}

int FakePolyDataStream::frameCounter() const
{
    std::lock_guard lock(mutex_);
    return frame_;
}

double FakePolyDataStream::displacement(int frame, int index, int count)
{
    if (count <= 0)
        return 0.0;
    constexpr double pi = std::numbers::pi;
    return kAmplitude * std::sin(frame * pi / 5.0 + 2.0 * pi * index / count);
}

void FakePolyDataStream::configuration(Properties* properties) const
{
    if (properties == nullptr)
        return;
    PolyDataStream::configuration(properties);
    int meshes = 0;
    int clouds = 0;
    {
        std::lock_guard lock(mutex_);
        meshes = static_cast<int>(meshes_.size());
        clouds = static_cast<int>(clouds_.size());
    }
    properties->setParam(kNumMeshesKey, meshes);
    properties->setParamAttribute(kNumMeshesKey, "hidden", "true");
    properties->setParam(kNumPointCloudsKey, clouds);
    properties->setParamAttribute(kNumPointCloudsKey, "hidden", "true");
}

void FakePolyDataStream::describeSettings(Properties* schema) const
{
    if (schema == nullptr)
        return;
    PolyDataStream::describeSettings(schema);
    int meshes = 0;
    int clouds = 0;
    {
        std::lock_guard lock(mutex_);
        meshes = static_cast<int>(meshes_.size());
        clouds = static_cast<int>(clouds_.size());
    }
    SettingsSchema::add(*schema, kNumMeshesKey, meshes, "number of meshes");
    SettingsSchema::add(*schema, kNumPointCloudsKey, clouds, "number of point clouds");
    for (const char* key : {kNumMeshesKey, kNumPointCloudsKey}) {
        schema->setParamAttribute(key, "min", "0");
        schema->setParamAttribute(key, "max", std::to_string(kMaxElements));
    }
}

void FakePolyDataStream::configure(const Properties* properties)
{
    if (properties == nullptr)
        return;
    PolyDataStream::configure(properties);
    if (const std::optional<int> wanted = requestedCount(*properties, kNumMeshesKey)) {
        while (numMeshes() < *wanted)
            addMesh();
        while (numMeshes() > *wanted)
            removeMesh();
    }
    if (const std::optional<int> wanted = requestedCount(*properties, kNumPointCloudsKey)) {
        while (numClouds() < *wanted)
            addPointCloud();
        while (numClouds() > *wanted)
            removePointCloud();
    }
}

std::optional<Stream::WorkContinuation> FakePolyDataStream::doWork()
{
    // The "min" and "max" attributes of fps are advice to editors and to the host's validation; the rate
    // itself is taken as it stands. A rate that is not positive produces nothing, and the worker looks
    // again later instead of dividing by zero or spinning. Above 1000 the period is 0 ms: records as
    // fast as they can be made, with the stream time standing still.
    const auto t0 = std::chrono::time_point_cast<Ticks>(std::chrono::system_clock::now());
    const int rate = fps.value();
    setRequestedRate(rate > 0 ? rate : 0.0);
    if (rate <= 0)
        return WorkContinuation{t0 + std::chrono::duration_cast<Ticks>(kUnusableRateRecheck)};
    const int periodMs = 1000 / rate;

    auto record = std::make_shared<PolyDataStreamData>(this);
    {
        std::lock_guard lock(mutex_);
        std::vector<std::shared_ptr<const Mesh>> meshes;
        meshes.reserve(meshes_.size());
        for (const auto& mesh : meshes_)
            meshes.push_back(mesh->clone());
        std::vector<std::shared_ptr<const PointCloud>> clouds;
        clouds.reserve(clouds_.size());
        for (const auto& cloud : clouds_)
            clouds.push_back(cloud->clone());
        record->setMeshes(std::move(meshes));
        record->setPointClouds(std::move(clouds));
        record->setTimestampArrival(std::chrono::system_clock::now());
        record->setTimestampDevice(static_cast<std::uint64_t>(streamTimeMs_));
    }
    signalStreamData.emitSignal(std::shared_ptr<const StreamData>(std::move(record)));

    int frame = 0;
    {
        std::lock_guard lock(mutex_);
        streamTimeMs_ += periodMs;
        frame_ = frame_ + 1 >= kFrameWrap ? 0 : frame_ + 1;
        frame = frame_;
    }
    updatePolyData(frame);
    return WorkContinuation{t0 + std::chrono::duration_cast<Ticks>(std::chrono::milliseconds(periodMs))};
}

void FakePolyDataStream::updatePolyData(int frame)
{
    const bool moving = isMoving.value();
    const bool colors = applyColors.value();
    const bool normals = applyNormals.value();
    std::lock_guard lock(mutex_);
    updateLocked(frame, moving, colors, normals);
}

void FakePolyDataStream::updateLocked(int frame, bool moving, bool colors, bool normals)
{
    const int meshCount = static_cast<int>(meshes_.size());
    for (int i = 0; i < meshCount; ++i) {
        Mesh& mesh = *meshes_[static_cast<std::size_t>(i)];
        if (moving)
            mesh.transform(translationX(displacement(frame, i, meshCount)));
        if (!colors)
            mesh.clearVertexColors();
        else if (!mesh.hasVertexColors())
            mesh.setVertexColors(std::vector<Eigen::Vector4f>(
                static_cast<std::size_t>(mesh.numberOfVertices()), defaultColor()));
        if (!normals)
            mesh.clearVertexNormals();
        else if (!mesh.hasVertexNormals())
            mesh.computeVertexNormals();
    }

    const int cloudCount = static_cast<int>(clouds_.size());
    for (int i = 0; i < cloudCount; ++i) {
        PointCloud& cloud = *clouds_[static_cast<std::size_t>(i)];
        if (moving)
            cloud.transform(translationX(displacement(frame, i, cloudCount)));
        if (!colors)
            cloud.clearColors();
        else if (!cloud.hasColors())
            cloud.setColors(std::vector<Eigen::Vector4f>(static_cast<std::size_t>(cloud.numberOfPoints()),
                                                         defaultColor()));
        if (!normals)
            cloud.clearNormals();
        else if (!cloud.hasNormals())
            cloud.setNormals(cloudNormals_[static_cast<std::size_t>(i)]);  // empty when it came without
    }
}

}  // namespace Corvexis
