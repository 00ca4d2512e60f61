#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include <Eigen/Core>

#include "Host/Core/Parameter.h"
#include "Host/Core/Signal.h"
#include "Stream/Framework/PolyDataStream.h"

namespace Corvexis {

class DataList;
class Mesh;
class PointCloud;

// A poly-data stream without a device: every work cycle emits copies of its meshes and point clouds
// as one PolyDataStreamData, then moves them along x on a sine path (element i of n is displaced by
// 20 sin(frame pi / 5 + 2 pi i / n) mm per frame, on top of the previous frame's position) and gives
// or removes vertex colours and normals as "applyColors" and "applyNormals" say.
//
// The default stream holds one sphere of radius 10 mm; a list of meshes and point clouds can replace
// it (copies are taken). Spheres are added and removed at the end of each list, from the user interface
// or by the configuration keys "numMeshes" and "numPointClouds" (written hidden).
//
// Time: the record's device timestamp is the stream's own time in milliseconds, which starts at 0 and
// advances by exactly one period (1000 / fps ms, integer division) per cycle, whatever the real time
// taken; the arrival timestamp is the system time of the record's creation.
//
// Ownership: the stream owns its meshes and point clouds and never hands them out; records carry
// copies (std::shared_ptr<const Mesh> / <const PointCloud>) that later changes do not touch.
//
// Threads: hooks and doWork run on the worker thread. Every other public operation is thread-safe:
// mutex_ guards the geometry, the frame counter and the stream time, so a work cycle and an add or
// remove from the user interface take turns. Parameters lock themselves and are read before mutex_ is
// taken. Records and signalPolyDataChanged are emitted after mutex_ is released.
//
// Destruction closes the stream.
class FakePolyDataStream : public PolyDataStream
{
public:
    // Radius (mm) and icosphere level of every sphere the stream makes: the stand-in for "a sphere of
    // radius 10 with 32 subdivisions". MeshCreator counts subdivisions as levels, each quadrupling the
    // faces (capped at 6), so 32 cannot be taken literally; level 3 (642 vertices, 1280 faces) has the
    // tessellation of a latitude-longitude sphere of 32 divisions each way (994 vertices, 1984 faces),
    // while level 4 would quadruple the copy made for every record.
    static constexpr double kSphereRadius = 10.0;
    static constexpr int kSphereSubdivisions = 3;
    // Peak displacement per frame along x, millimetres.
    static constexpr double kAmplitude = 20.0;
    // Upper bound of "numMeshes" and "numPointClouds" when read from a configuration.
    static constexpr int kMaxElements = 1000;
    // The colour given to elements without one while "applyColors" is set: red, opaque.
    static Eigen::Vector4f defaultColor() { return {1.0f, 0.0f, 0.0f, 1.0f}; }

    // Named "Fake PolyData Stream", with one sphere and no point clouds.
    FakePolyDataStream();
    // Copies the list's meshes (computing vertex normals where missing) and point clouds, in list order,
    // and is named after the first one followed by " Fake Stream" (the default name when it has none).
    // Entries of kind Mesh or PointCloud that are not usable (not of the class their kind names, or
    // empty) are skipped with a warning; without any usable entry the stream behaves as the default one,
    // with a warning. Entries of other kinds are ignored.
    explicit FakePolyDataStream(const DataList& data);
    ~FakePolyDataStream() override;

    // True for a non-empty list whose every item is a Mesh or a PointCloud.
    static bool isCompatible(const DataList& data);

    // Appends a sphere with vertex normals. Emits signalPolyDataChanged. Thread-safe.
    void addMesh();
    // Appends the vertices of a sphere as a point cloud, with the sphere's normals. Emits
    // signalPolyDataChanged. Thread-safe.
    void addPointCloud();
    // Drop the last element; nothing (and no signal) on an empty list. Thread-safe.
    void removeMesh();
    void removePointCloud();

    int numMeshes() const;  // thread-safe
    int numClouds() const;  // thread-safe
    // Meshes when there is a mesh, PointClouds when there is a point cloud. Thread-safe.
    PolyDataTypes polyDataType() const override;

    // The counter of the next frame (0 after construction). Thread-safe.
    int frameCounter() const;

    // The displacement along x of element `index` of `count` at `frame`, millimetres.
    static double displacement(int frame, int index, int count);

    // Parameters first, then "numMeshes" and "numPointClouds" with the attribute "hidden" = "true".
    // Thread-safe.
    void configuration(Properties* properties) const override;
    // Reads the parameters, then adds or removes spheres until the counts given by "numMeshes" and
    // "numPointClouds" are reached (negative counts as 0, above kMaxElements as kMaxElements, with a
    // warning). Absent keys leave the lists as they are. Calling thread.
    void configure(const Properties* properties) override;
    // The parameters, then "numMeshes" and "numPointClouds" (0 to kMaxElements). Thread-safe.
    void describeSettings(Properties* schema) const override;

    // Move the elements every frame.
    Parameter<bool> isMoving{"isMoving", true, this};
    // Records per second; the attributes "min" 1 and "max" 1000 are advice, not a clamp (see doWork).
    Parameter<int> fps{"fps", 1, this};
    // How soon the worker looks again while fps cannot pace anything (not positive).
    static constexpr std::chrono::milliseconds kUnusableRateRecheck{100};
    // Give elements without colours a uniform colour (defaultColor), or remove vertex colours.
    Parameter<bool> applyColors{"applyColors", false, this};
    // Compute missing vertex normals (point clouds get back the normals they came with), or remove them.
    Parameter<bool> applyNormals{"applyNormals", true, this};

    // A mesh or point cloud was added or removed. On the thread that changed the lists.
    Signal<> signalPolyDataChanged;

protected:
    // Nothing to open or close: every hook succeeds. Worker thread.
    bool openImpl() override { return true; }
    bool closeImpl() override { return true; }
    bool startImpl() override { return true; }
    bool stopImpl() override { return true; }
    // Emits one record, advances time and frame, updates the geometry for the next frame; the next call
    // is due one period after this one began. Worker thread.
    std::optional<WorkContinuation> doWork() override;
    // Moves, colours and gives or removes normals as the parameters say, for `frame`. Thread-safe.
    void updatePolyData(int frame);

private:
    static std::unique_ptr<Mesh> makeSphere();
    void setUpParameters();
    // The next two need mutex_ held.
    void updateLocked(int frame, bool moving, bool colors, bool normals);
    void appendCloudLocked(std::unique_ptr<PointCloud> cloud);

    mutable std::mutex mutex_;
    // guarded by mutex_
    std::vector<std::unique_ptr<Mesh>> meshes_;
    std::vector<std::unique_ptr<PointCloud>> clouds_;
    // The normals each point cloud came with, restored when "applyNormals" is set again (a cloud has no
    // faces to compute them from).
    std::vector<std::vector<Eigen::Vector3f>> cloudNormals_;
    int frame_ = 0;
    double streamTimeMs_ = 0.0;
};

}  // namespace Corvexis
