#include "Stream/Simulated/FakePolyDataStreamIoAlgorithm.h"

#include "Host/Core/Log.h"

namespace Corvexis {

namespace {

constexpr const char* kCategory = "FakePolyDataStreamIoAlgorithm";

}  // namespace

FakePolyDataStreamIoAlgorithm::FakePolyDataStreamIoAlgorithm()
{
    registerAction("addMesh", "Add mesh",
                   [this] { return changeStream("addMesh", &FakePolyDataStream::addMesh, true); });
    registerAction("addPointCloud", "Add point cloud", [this] {
        return changeStream("addPointCloud", &FakePolyDataStream::addPointCloud, false);
    });
    registerAction("removeMesh", "Remove mesh",
                   [this] { return changeStream("removeMesh", &FakePolyDataStream::removeMesh, true); });
    registerAction("removePointCloud", "Remove point cloud", [this] {
        return changeStream("removePointCloud", &FakePolyDataStream::removePointCloud, false);
    });
}

FakePolyDataStreamIoAlgorithm::~FakePolyDataStreamIoAlgorithm() = default;

bool FakePolyDataStreamIoAlgorithm::createCompatible(const DataList& inputs,
                                                     std::unique_ptr<Algorithm>* algorithm)
{
    if (!inputs.empty())
        return false;
    if (algorithm != nullptr)
        *algorithm = std::make_unique<FakePolyDataStreamIoAlgorithm>();
    return true;
}

FakePolyDataStream* FakePolyDataStreamIoAlgorithm::fakeStream() const
{
    return dynamic_cast<FakePolyDataStream*>(stream());
}

bool FakePolyDataStreamIoAlgorithm::changeStream(const std::string& action,
                                                 void (FakePolyDataStream::*change)(), bool meshes)
{
    FakePolyDataStream* s = fakeStream();
    if (s == nullptr) {
        Log::log(Log::Level::Error, kCategory,
                 "FakePolyDataStreamIoAlgorithm " + action +
                     "(): there is no stream; compute the algorithm first");
        return false;
    }
    (s->*change)();
    const std::string count = std::to_string(meshes ? s->numMeshes() : s->numClouds());
    Log::log(Log::Level::Info, kCategory,
             "FakePolyDataStreamIoAlgorithm " + action + "(), number of " +
                 (meshes ? "meshes: " : "pointclouds: ") + count);
    return true;
}

}  // namespace Corvexis
