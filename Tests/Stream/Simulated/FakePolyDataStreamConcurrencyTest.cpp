#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "Host/Core/Mesh.h"
#include "Host/Core/Properties.h"
#include "Stream/Simulated/FakePolyDataStream.h"
#include "Stream/Framework/PolyDataStreamData.h"
#include "Support/TestUtil.h"

using namespace Corvexis;

// The user interface adds, removes and reconfigures geometry while the worker emits at 1000 fps and a
// consumer reads every record's geometry. Each record must be a consistent snapshot: vertex and
// normal counts agree inside every mesh, whatever changed meanwhile.
TEST(FakePolyDataStreamConcurrency, GeometryChangesWhileTheWorkerEmits)
{
    namespace T = Corvexis::Test;
    FakePolyDataStream stream;
    Properties fast;
    fast.setParam("fps", 1000);
    fast.setParam("applyColors", true);
    stream.configure(&fast);

    std::atomic<int> records{0}, inconsistent{0};
    stream.signalStreamData.connect([&](std::shared_ptr<const StreamData> r) {
        const auto* poly = dynamic_cast<const PolyDataStreamData*>(r.get());
        if (poly == nullptr) {
            ++inconsistent;
            return;
        }
        for (const auto& mesh : poly->meshes()) {
            if (mesh->numberOfVertices() == 0 ||
                (mesh->hasVertexNormals() &&
                 static_cast<int>(mesh->vertexNormals().size()) != mesh->numberOfVertices()))
                ++inconsistent;
        }
        ++records;
    });
    ASSERT_TRUE(stream.start());

    std::thread ui([&] {
        for (int i = 0; i < 40; ++i) {
            stream.addMesh();
            stream.addPointCloud();
            Properties p;
            p.setParam("applyNormals", i % 2 == 0);
            p.setParam("isMoving", i % 3 != 0);
            stream.configure(&p);
            stream.removeMesh();
            if (i % 4 == 0)
                stream.removePointCloud();
        }
    });
    ui.join();
    EXPECT_TRUE(T::waitUntil([&] { return records.load() >= 50; }, std::chrono::seconds(60)));
    ASSERT_TRUE(stream.close());
    EXPECT_EQ(inconsistent.load(), 0);
    EXPECT_EQ(stream.numMeshes(), 1);
    EXPECT_EQ(stream.numClouds(), 30);
}
