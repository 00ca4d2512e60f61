#include "Stream/Simulated/FakePolyDataStream.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <mutex>
#include <numbers>
#include <string>
#include <vector>

#include "Host/Core/DataList.h"
#include "Host/Core/Log.h"
#include "Host/Core/Mesh.h"
#include "Host/Core/MeshCreator.h"
#include "Host/Core/PointCloud.h"
#include "Host/Core/Properties.h"
#include "Stream/Framework/CreateStreamAlgorithm.h"
#include "Stream/Framework/PolyDataStreamData.h"
#include "Stream/Simulated/FakePolyDataStreamIoAlgorithm.h"
#include "Stream/StreamAlgorithmFactory.h"
#include "Support/TestUtil.h"

namespace Corvexis {
namespace {

using Record = std::shared_ptr<const PolyDataStreamData>;
using Clock = std::chrono::system_clock;

// Lets the test run single work cycles on its own thread.
class SteppedStream : public FakePolyDataStream
{
public:
    using FakePolyDataStream::doWork;
    using FakePolyDataStream::FakePolyDataStream;
};

// Collects the records of a stream (from any thread).
class Records : public SignalReceiver
{
public:
    explicit Records(Stream& stream)
    {
        stream.signalStreamData.connect(this, [this](const std::shared_ptr<const StreamData>& r) {
            std::lock_guard lock(mutex_);
            records_.push_back(std::dynamic_pointer_cast<const PolyDataStreamData>(r));
        });
    }
    ~Records() override { disconnectAll(); }
    std::vector<Record> all() const
    {
        std::lock_guard lock(mutex_);
        return records_;
    }
    size_t size() const { return all().size(); }
    Record back() const { return all().back(); }

private:
    mutable std::mutex mutex_;
    std::vector<Record> records_;
};

// A data item that claims to be a mesh without being one.
class MeshImpostor : public Data
{
public:
    Kind kind() const override { return Kind::Mesh; }
};

Eigen::Vector3f firstVertex(const Record& r, size_t mesh = 0)
{
    return r->meshes().at(mesh)->vertices().front();
}

std::unique_ptr<Mesh> namedSphere(const std::string& name)
{
    auto mesh = MeshCreator::createSphere(5.0, 1);
    mesh->setName(name);
    return mesh;
}

TEST(FakePolyDataStream, DefaultStreamHoldsOneSphereWithNormals)
{
    SteppedStream s;
    EXPECT_EQ(s.name(), "Fake PolyData Stream");
    EXPECT_EQ(static_cast<int>(s.kind()), 13);
    EXPECT_EQ(s.numMeshes(), 1);
    EXPECT_EQ(s.numClouds(), 0);
    EXPECT_EQ(s.polyDataType(), PolyDataTypes(PolyDataType::Meshes));

    Records records(s);
    s.doWork();
    ASSERT_EQ(records.size(), 1u);
    const Record r = records.back();
    EXPECT_EQ(r->polyDataStream(), &s);
    ASSERT_EQ(r->meshes().size(), 1u);
    const Mesh& sphere = *r->meshes()[0];
    EXPECT_EQ(sphere.numberOfVertices(), 642);
    EXPECT_TRUE(sphere.hasVertexNormals());
    EXPECT_FALSE(sphere.hasVertexColors());
    for (const auto& v : sphere.vertices())
        EXPECT_NEAR(v.norm(), FakePolyDataStream::kSphereRadius, 1e-4);

    // The saved keys, their defaults and labels.
    Properties saved;
    s.configuration(&saved);
    EXPECT_EQ(saved.paramNames(), (std::vector<std::string>{"isMoving", "fps", "applyColors", "applyNormals",
                                                            "numMeshes", "numPointClouds"}));
    std::string values;
    for (const char* key : {"isMoving", "fps", "applyColors", "applyNormals"})
        values += *saved.paramText(key) + " (" + saved.paramAttribute(key, "label") + ") ";
    EXPECT_EQ(values, "true (Is Moving) 1 () false (Apply Colors) true (Apply Normals) ");
}

// A rate that cannot pace anything emits nothing, and asks to be called again later rather than at once.
TEST(FakePolyDataStream, RateNotPositiveEmitsNothingAndDoesNotSpin)
{
    for (int fps : {0, -5}) {
        SCOPED_TRACE(fps);
        SteppedStream s;
        s.fps = fps;
        Records records(s);
        const auto before = std::chrono::time_point_cast<Stream::Ticks>(Clock::now());
        const auto next = s.doWork();
        ASSERT_TRUE(next && next->nextCall);
        EXPECT_GE(*next->nextCall, before + std::chrono::duration_cast<Stream::Ticks>(
                                                FakePolyDataStream::kUnusableRateRecheck));
        EXPECT_TRUE(records.all().empty());
        EXPECT_EQ(s.frameCounter(), 0);
    }
}

TEST(FakePolyDataStream, RateFollowsFpsByDeviceTimestamps)
{
    struct Case
    {
        int fps;
        std::uint64_t periodMs;
    };
    // 1000 / fps in integer division, also outside the advised 1 to 1000: no hidden clamp.
    for (const Case c : {Case{1, 1000}, Case{4, 250}, Case{3, 333}, Case{500, 2}, Case{5000, 0}}) {
        SCOPED_TRACE(c.fps);
        SteppedStream s;
        s.fps = c.fps;
        Records records(s);
        const auto before = std::chrono::time_point_cast<Stream::Ticks>(Clock::now());
        const auto next = s.doWork();
        const auto after = std::chrono::time_point_cast<Stream::Ticks>(Clock::now());
        ASSERT_TRUE(next && next->nextCall);
        const auto period = std::chrono::duration_cast<Stream::Ticks>(std::chrono::milliseconds(c.periodMs));
        EXPECT_GE(*next->nextCall, before + period);
        EXPECT_LE(*next->nextCall, after + period);
        s.doWork();
        s.doWork();
        const auto all = records.all();
        ASSERT_EQ(all.size(), 3u);
        for (size_t i = 0; i < all.size(); ++i)
            EXPECT_EQ(all[i]->timestampDevice(), i * c.periodMs);
        EXPECT_EQ(s.frameCounter(), 3);
        EXPECT_GT(all[0]->timestampArrival(), 0u);  // the wall clock, not the stream's time
    }
}

TEST(FakePolyDataStream, WorkerEmitsAtTheConfiguredRate)
{
    FakePolyDataStream s;
    Properties p;
    p.setParam("fps", 4);
    s.configure(&p);
    Records records(s);
    namespace T = Corvexis::Test;
    ASSERT_TRUE(s.open());
    ASSERT_TRUE(s.start());
    ASSERT_TRUE(T::waitUntil([&] { return records.size() >= 3; }, std::chrono::seconds(20)));
    ASSERT_TRUE(s.close());
    const auto all = records.all();
    for (size_t i = 1; i < 3; ++i)
        EXPECT_EQ(all[i]->timestampDevice() - all[i - 1]->timestampDevice(), 250u);
    EXPECT_EQ(all[0]->timestampDevice(), 0u);
}

TEST(FakePolyDataStream, MovingElementsSwingAlongXByTheSinePath)
{
    constexpr double pi = std::numbers::pi;
    EXPECT_NEAR(FakePolyDataStream::displacement(0, 1, 4), 20.0, 1e-12);   // sin(pi / 2)
    EXPECT_NEAR(FakePolyDataStream::displacement(5, 1, 4), -20.0, 1e-12);  // sin(pi + pi / 2)
    EXPECT_NEAR(FakePolyDataStream::displacement(1, 0, 1), 20.0 * std::sin(pi / 5), 1e-12);

    SteppedStream s;
    s.addMesh();
    s.addPointCloud();
    Records records(s);
    for (int i = 0; i < 5; ++i)
        s.doWork();
    const auto all = records.all();
    ASSERT_EQ(all.size(), 5u);
    const Eigen::Vector3f mesh0 = firstVertex(all[0], 0);
    const Eigen::Vector3f mesh1 = firstVertex(all[0], 1);
    const Eigen::Vector3f cloud0 = all[0]->pointClouds().at(0)->points().front();
    double dx0 = 0.0;  // mesh 0 of 2 and the only cloud share the phase 0
    double dx1 = 0.0;  // mesh 1 of 2 is half a turn later
    for (int frame = 1; frame < 5; ++frame) {
        SCOPED_TRACE(frame);
        dx0 += FakePolyDataStream::displacement(frame, 0, 2);
        dx1 += FakePolyDataStream::displacement(frame, 1, 2);
        const auto& r = all[static_cast<size_t>(frame)];
        EXPECT_TRUE(
            firstVertex(r, 0).isApprox(mesh0 + Eigen::Vector3f(static_cast<float>(dx0), 0, 0), 1e-5f));
        EXPECT_TRUE(
            firstVertex(r, 1).isApprox(mesh1 + Eigen::Vector3f(static_cast<float>(dx1), 0, 0), 1e-5f));
        EXPECT_TRUE(r->pointClouds().at(0)->points().front().isApprox(
            cloud0 + Eigen::Vector3f(static_cast<float>(dx0), 0, 0), 1e-5f));
        EXPECT_NEAR(dx0, -dx1, 1e-9);
    }
}

TEST(FakePolyDataStream, StillElementsStayWhileColoursAndNormalsFollowTheirFlags)
{
    SteppedStream s;
    s.addPointCloud();
    s.isMoving = false;
    s.applyColors = true;
    s.applyNormals = false;
    Records records(s);
    s.doWork();
    s.doWork();
    Record first = records.all()[0];
    Record second = records.all()[1];
    // Flags act from the frame after they are set.
    EXPECT_TRUE(first->meshes()[0]->hasVertexNormals());
    EXPECT_FALSE(first->meshes()[0]->hasVertexColors());
    const std::vector<Eigen::Vector3f> cloudNormals = first->pointClouds()[0]->normals();
    ASSERT_EQ(cloudNormals.size(), 642u);

    EXPECT_EQ(second->meshes()[0]->vertices(), first->meshes()[0]->vertices());
    EXPECT_EQ(second->pointClouds()[0]->points(), first->pointClouds()[0]->points());
    EXPECT_FALSE(second->meshes()[0]->hasVertexNormals());
    EXPECT_FALSE(second->pointClouds()[0]->hasNormals());
    const std::vector<Eigen::Vector4f> red(642, Eigen::Vector4f(1, 0, 0, 1));
    EXPECT_EQ(second->meshes()[0]->vertexColors(), red);
    EXPECT_EQ(second->pointClouds()[0]->colors(), red);

    s.applyColors = false;
    s.applyNormals = true;
    s.doWork();  // still the geometry updated under the old flags
    EXPECT_TRUE(records.back()->meshes()[0]->hasVertexColors());
    s.doWork();
    const Record third = records.back();
    EXPECT_EQ(third->meshes()[0]->vertices(), first->meshes()[0]->vertices());
    EXPECT_FALSE(third->meshes()[0]->hasVertexColors());
    EXPECT_FALSE(third->pointClouds()[0]->hasColors());
    // Mesh normals are computed again (radial on a sphere); cloud normals come back as they were.
    const Mesh& mesh = *third->meshes()[0];
    ASSERT_TRUE(mesh.hasVertexNormals());
    for (int i = 0; i < mesh.numberOfVertices(); ++i)
        EXPECT_GT(mesh.vertexNormals()[i].dot(mesh.vertices()[i].normalized()), 0.99f) << i;
    EXPECT_EQ(third->pointClouds()[0]->normals(), cloudNormals);
}

TEST(FakePolyDataStream, AddRemoveAndTheChangeSignal)
{
    SteppedStream s;
    int changes = 0;
    s.signalPolyDataChanged.connect([&] { ++changes; });
    s.addPointCloud();
    s.addMesh();
    EXPECT_EQ(s.numMeshes(), 2);
    EXPECT_EQ(s.numClouds(), 1);
    EXPECT_EQ(s.polyDataType(), PolyDataType::Meshes | PolyDataType::PointClouds);
    s.removeMesh();
    s.removeMesh();
    s.removeMesh();  // empty: nothing, no signal
    s.removePointCloud();
    s.removePointCloud();
    EXPECT_EQ(changes, 5);
    EXPECT_TRUE(s.polyDataType().empty());
}

TEST(FakePolyDataStream, ConfigurationCountsAreHiddenAndRestoreTheLists)
{
    SteppedStream s;
    s.addPointCloud();
    s.addPointCloud();
    int changes = 0;
    s.signalPolyDataChanged.connect([&] { ++changes; });
    Properties wanted;
    wanted.setParam("numMeshes", 3);
    wanted.setParam("numPointClouds", 0);
    wanted.setParam("fps", 10);
    s.configure(&wanted);
    EXPECT_EQ(s.numMeshes(), 3);
    EXPECT_EQ(s.numClouds(), 0);
    EXPECT_EQ(s.fps.value(), 10);
    EXPECT_EQ(changes, 4);
    Records records(s);
    s.doWork();
    ASSERT_EQ(records.back()->meshes().size(), 3u);
    for (const auto& mesh : records.back()->meshes())
        EXPECT_EQ(mesh->numberOfVertices(), 642);

    Properties saved;
    s.configuration(&saved);
    EXPECT_EQ(saved.param("numMeshes", -1), 3);
    EXPECT_EQ(saved.param("numPointClouds", -1), 0);
    EXPECT_EQ(saved.paramAttribute("numMeshes", "hidden"), "true");
    EXPECT_EQ(saved.paramAttribute("numPointClouds", "hidden"), "true");

    SteppedStream loaded;
    loaded.configure(&saved);
    EXPECT_EQ(loaded.numMeshes(), 3);
    EXPECT_EQ(loaded.fps.value(), 10);

    // Without the keys the lists stay; out-of-range counts are bounded with a warning.
    Properties onlyFps;
    onlyFps.setParam("fps", 2);
    loaded.configure(&onlyFps);
    EXPECT_EQ(loaded.numMeshes(), 3);
    Log::ScopedCapture capture;
    Properties negative;
    negative.setParam("numMeshes", -4);
    loaded.configure(&negative);
    EXPECT_EQ(loaded.numMeshes(), 0);
    EXPECT_TRUE(capture->contains(Log::Level::Warning, "FakePolyDataStream",
                                  "numMeshes = -4 is out of range; using 0"));
}

TEST(FakePolyDataStream, BuiltFromADataListTakesCopies)
{
    Log::ScopedCapture capture;
    auto liver = namedSphere("Liver");
    ASSERT_FALSE(liver->hasVertexNormals());
    auto cloud = PointCloud::fromMesh(*namedSphere("Cloud"));
    Mesh emptyMesh("empty");
    PointCloud emptyCloud;
    MeshImpostor impostor;
    SteppedStream s(DataList{&impostor, &emptyMesh, liver.get(), &emptyCloud, cloud.get()});

    EXPECT_EQ(s.name(), "Liver Fake Stream");
    EXPECT_EQ(s.numMeshes(), 1);
    EXPECT_EQ(s.numClouds(), 1);
    EXPECT_EQ(capture->count(Log::Level::Warning, "FakePolyDataStream",
                             "Invalid Mesh object in input DataList, ignoring entry!"),
              2u);
    EXPECT_EQ(capture->count(Log::Level::Warning, "FakePolyDataStream",
                             "Invalid PointCloud object in input DataList, ignoring entry!"),
              1u);

    const std::vector<Eigen::Vector3f> originalVertices = liver->vertices();
    Records records(s);
    s.doWork();
    s.doWork();  // moves the stream's copies
    EXPECT_EQ(liver->vertices(), originalVertices);
    EXPECT_FALSE(liver->hasVertexNormals());
    const Record r = records.all()[0];
    EXPECT_NE(r->meshes()[0].get(), liver.get());
    EXPECT_EQ(r->meshes()[0]->vertices(), originalVertices);
    EXPECT_TRUE(r->meshes()[0]->hasVertexNormals());  // computed for the copy
    EXPECT_EQ(r->pointClouds()[0]->points(), cloud->points());
    EXPECT_NE(records.back()->meshes()[0]->vertices(), originalVertices);
}

TEST(FakePolyDataStream, DataListWithoutGeometryFallsBackToTheDefaultAndIsIncompatible)
{
    Log::ScopedCapture capture;
    MeshImpostor impostor;
    SteppedStream s(DataList{&impostor});
    EXPECT_TRUE(capture->contains(Log::Level::Warning, "FakePolyDataStream",
                                  "The DataList given to FakePolyDataStream doesn't have a single Mesh or "
                                  "PointCloud. Using default constructor behaviour."));
    EXPECT_EQ(s.name(), "Fake PolyData Stream");
    EXPECT_EQ(s.numMeshes(), 1);
    EXPECT_EQ(s.numClouds(), 0);

    // An unnamed first entry keeps the default name.
    Mesh unnamed = *namedSphere("");
    EXPECT_EQ(SteppedStream(DataList{&unnamed}).name(), "Fake PolyData Stream");

    // Compatible lists: not empty, meshes and point clouds only.
    PointCloud cloud;
    EXPECT_FALSE(FakePolyDataStream::isCompatible(DataList{}));
    EXPECT_TRUE(FakePolyDataStream::isCompatible(DataList{&unnamed, &cloud}));
    EXPECT_FALSE(FakePolyDataStream::isCompatible(DataList{&unnamed, &s}));
    EXPECT_FALSE(FakePolyDataStream::isCompatible(DataList{&impostor}));
}

TEST(FakePolyDataStream, RecordsAreUntouchedByLaterChanges)
{
    SteppedStream s;
    Records records(s);
    s.doWork();
    const Record before = records.back();
    const Eigen::Vector3f vertex = firstVertex(before);
    s.addMesh();
    s.addPointCloud();
    s.doWork();
    s.doWork();
    EXPECT_EQ(before->meshes().size(), 1u);
    EXPECT_TRUE(before->pointClouds().empty());
    EXPECT_EQ(firstVertex(before), vertex);
    EXPECT_EQ(records.back()->meshes().size(), 2u);
    EXPECT_NE(firstVertex(records.back()), vertex);
    EXPECT_NE(records.back()->meshes()[0].get(), before->meshes()[0].get());
}

// ---- the algorithms ------------------------------------------------------------------------------------

TEST(FakePolyDataStreamIoAlgorithm, ActionsChangeTheStreamAndLogTheCount)
{
    Log::ScopedCapture capture;
    FakePolyDataStreamIoAlgorithm algorithm;
    std::vector<std::string> ids;
    std::vector<std::string> labels;
    for (const auto& a : algorithm.actions()) {
        ids.push_back(a.id);
        labels.push_back(a.label);
    }
    EXPECT_EQ(ids, (std::vector<std::string>{"addMesh", "addPointCloud", "removeMesh", "removePointCloud"}));
    EXPECT_EQ(labels,
              (std::vector<std::string>{"Add mesh", "Add point cloud", "Remove mesh", "Remove point cloud"}));

    EXPECT_FALSE(algorithm.runAction("addMesh"));
    EXPECT_TRUE(capture->containsFragment(Log::Level::Error, "FakePolyDataStreamIoAlgorithm", "no stream"));

    Properties settings;
    settings.setParam("fps", 50);
    algorithm.configure(&settings);
    algorithm.compute();
    ASSERT_EQ(algorithm.status(), Algorithm::Status::Success);
    FakePolyDataStream* stream = algorithm.fakeStream();
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(stream->currentState(), Stream::State::Running);
    Records records(*stream);

    const auto logged = [&](const std::string& text) {
        return capture->contains(Log::Level::Info, "FakePolyDataStreamIoAlgorithm", text);
    };
    EXPECT_TRUE(algorithm.runAction("addMesh"));
    EXPECT_TRUE(logged("FakePolyDataStreamIoAlgorithm addMesh(), number of meshes: 2"));
    EXPECT_TRUE(algorithm.runAction("addPointCloud"));
    EXPECT_TRUE(logged("FakePolyDataStreamIoAlgorithm addPointCloud(), number of pointclouds: 1"));
    namespace T = Corvexis::Test;
    EXPECT_TRUE(T::waitUntil([&] {
        const auto all = records.all();
        return !all.empty() && all.back()->meshes().size() == 2 && all.back()->pointClouds().size() == 1;
    }));

    // The actions reach the stream after the host took it, until the host destroys it.
    OwningDataList output = algorithm.takeOutput();
    ASSERT_EQ(output.size(), 1u);
    EXPECT_TRUE(algorithm.runAction("removeMesh"));
    EXPECT_TRUE(logged("FakePolyDataStreamIoAlgorithm removeMesh(), number of meshes: 1"));
    EXPECT_TRUE(algorithm.runAction("removePointCloud"));
    EXPECT_TRUE(logged("FakePolyDataStreamIoAlgorithm removePointCloud(), number of pointclouds: 0"));
    EXPECT_TRUE(algorithm.runAction("removePointCloud"));
    EXPECT_EQ(capture->count(Log::Level::Info, "FakePolyDataStreamIoAlgorithm",
                             "FakePolyDataStreamIoAlgorithm removePointCloud(), number of pointclouds: 0"),
              2u);
    output.clear();
    EXPECT_EQ(algorithm.fakeStream(), nullptr);
    EXPECT_FALSE(algorithm.runAction("addPointCloud"));
}

TEST(FakePolyDataStreamIoAlgorithm, FactoryCreatesTheSubclassForAnEmptyList)
{
    StreamAlgorithmFactory factory;
    auto created = factory.create("Stream.CreateStreamIoFakePolyData", DataList{});
    EXPECT_NE(dynamic_cast<FakePolyDataStreamIoAlgorithm*>(created.get()), nullptr);
    auto mesh = namedSphere("m");
    EXPECT_FALSE(factory.create("Stream.CreateStreamIoFakePolyData", DataList{mesh.get()}));
}

TEST(CreateStreamAlgorithm, BuildsTheStreamFromItsInputs)
{
    using Create = CreateStreamAlgorithm<FakePolyDataStream>;
    StreamAlgorithmFactory factory;
    auto kidney = namedSphere("Kidney");
    EXPECT_FALSE(factory.create("Stream.CreateFakePolyDataStream", DataList{}));
    std::unique_ptr<Algorithm> created =
        factory.create("Stream.CreateFakePolyDataStream", DataList{kidney.get()});
    auto* algorithm = dynamic_cast<Create*>(created.get());
    ASSERT_NE(algorithm, nullptr);

    algorithm->compute();
    ASSERT_EQ(algorithm->status(), Algorithm::Status::Success);
    auto* stream = dynamic_cast<FakePolyDataStream*>(algorithm->stream());
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(stream->name(), "Kidney Fake Stream");
    EXPECT_EQ(stream->currentState(), Stream::State::Running);

    // Computing again before the output is taken replaces the stream; the configuration reaches it.
    Properties settings;
    settings.setParam("start", false);
    settings.setParam("numMeshes", 2);
    algorithm->configure(&settings);
    EXPECT_EQ(stream->numMeshes(), 2);  // the existing stream is configured at once
    algorithm->compute();
    auto* second = dynamic_cast<FakePolyDataStream*>(algorithm->stream());
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->currentState(), Stream::State::Open);
    EXPECT_EQ(second->numMeshes(), 2);

    OwningDataList output = algorithm->takeOutput();
    ASSERT_EQ(output.size(), 1u);
    EXPECT_EQ(output[0], second);
    EXPECT_TRUE(algorithm->takeOutput().empty());
    output.clear();
    EXPECT_EQ(algorithm->stream(), nullptr);
}

}  // namespace
}  // namespace Corvexis
