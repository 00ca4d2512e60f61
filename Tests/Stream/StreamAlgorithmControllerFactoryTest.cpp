#include "Stream/StreamAlgorithmControllerFactory.h"

#include <algorithm>

#include <gtest/gtest.h>

#include "Host/Core/MeshCreator.h"
#include "Stream/Framework/CreateStreamAlgorithm.h"
#include "Stream/Framework/CreateStreamIoAlgorithm.h"
#include "Stream/Simulated/FakeImageStream.h"
#include "Stream/Simulated/FakePolyDataStream.h"
#include "Stream/Simulated/FakePolyDataStreamIoAlgorithm.h"
#include "Stream/Framework/StreamControllerBase.h"
#include "Stream/Framework/StreamForwarder.h"
#include "Stream/Framework/TestStreams.h"

namespace Corvexis {
namespace {

class PlainStream : public Test::ScriptedStream
{
public:
    PlainStream() : ScriptedStream("plain", ThreadingMode::NoWorkerThread) { pauseResult = true; }
};

using PlainIo = CreateStreamIoAlgorithm<PlainStream, true, true>;

class PlainIoSubclass : public PlainIo
{
};

class OtherAlgorithm : public Algorithm
{
public:
    void compute() override {}
};

// The factory with rows of the test's own, to check the matching rules.
class TableFactory : public StreamAlgorithmControllerFactory
{
public:
    TableFactory()
    {
        addStreamControllerRow<PlainIoSubclass>("PlainIoSubclass", "StreamControllerBase");
        addDefaultControllerRow<PlainIo>("PlainIo");
    }
};

TEST(StreamAlgorithmControllerFactoryTest, RegistersTheControllerOnlyMenuEntries)
{
    StreamAlgorithmControllerFactory factory;
    EXPECT_EQ(factory.menuEntries(),
              (std::vector<std::string>{"Stream;Stream Controls", "Stream;Attach Spacing Information",
                                        "Stream;Remote Video Stream", "Streaming;Vitals Data Component"}));
    OtherAlgorithm other;
    EXPECT_FALSE(factory.create(&other));
    EXPECT_FALSE(factory.create(nullptr));
}

TEST(StreamAlgorithmControllerFactoryTest, TableRowsOfBuiltAlgorithms)
{
    StreamAlgorithmControllerFactory factory;
    // The rows of the algorithms built so far, in the table's matching order.
    std::vector<std::pair<std::string, std::string>> rows;
    for (const auto& row : factory.rows())
        rows.emplace_back(row.algorithmType, row.controllerType);
    EXPECT_EQ(rows, (std::vector<std::pair<std::string, std::string>>{
                        {"StreamForwarder", "DefaultAlgorithmController"},
                        {"SetImageStreamModalityAlgorithm", "DefaultAlgorithmController"},
                        {"StreamAlgorithmExecutor", "StreamAlgorithmExecutorController"},
                        {"CreateStreamIoAlgorithm<FakeTrackingStream>", "FakeTrackingStreamController"},
                        {"CreateStreamIoAlgorithm<FakeImageStream>", "FakeImageStreamController"},
                        {"FakePolyDataStreamIoAlgorithm", "StreamControllerBase"},
                        {"CreateStreamAlgorithm<FakePolyDataStream>", "StreamControllerBase"},
                        {"IGTL::ConnectionIoAlgorithm", "DefaultAlgorithmController"},
                        {"IGTL::CreateDataIoAlgorithm", "DefaultAlgorithmController"},
                    }));
    CreateStreamIoAlgorithm<FakeImageStream, true, true> fakeImage;
    auto controller = factory.create(&fakeImage);
    ASSERT_TRUE(controller);
    EXPECT_EQ(controller->controllerName(), "StreamControllerBase");
    // Another instantiation of the template is another type.
    CreateStreamIoAlgorithm<PlainStream, true, true> plain;
    EXPECT_FALSE(factory.create(&plain));
}

TEST(StreamAlgorithmControllerFactoryTest, PolyDataAlgorithmsGetTheStreamControllerWithTheirActions)
{
    StreamAlgorithmControllerFactory factory;
    // The stream requests first, then the algorithm's own actions.
    FakePolyDataStreamIoAlgorithm ioAlgorithm;
    auto controller = factory.create(&ioAlgorithm);
    ASSERT_TRUE(controller);
    EXPECT_EQ(controller->controllerName(), "StreamControllerBase");
    std::vector<std::string> ids;
    for (const auto& a : controller->actions())
        ids.push_back(a.id);
    EXPECT_EQ(ids, (std::vector<std::string>{"open", "start", "pause", "resume", "stop", "close", "addMesh",
                                             "addPointCloud", "removeMesh", "removePointCloud"}));

    auto mesh = MeshCreator::createSphere(1.0, 0);
    StreamForwarder forwarder(nullptr, nullptr);
    controller = factory.create(&forwarder);
    ASSERT_TRUE(controller);
    EXPECT_EQ(controller->controllerName(), "DefaultAlgorithmController");

    CreateStreamAlgorithm<FakePolyDataStream> fromData(DataList{mesh.get()});
    controller = factory.create(&fromData);
    ASSERT_TRUE(controller);
    EXPECT_EQ(controller->controllerName(), "StreamControllerBase");
}

TEST(StreamAlgorithmControllerFactoryTest, FirstMatchingRowDecidesByDynamicType)
{
    TableFactory factory;
    PlainIoSubclass derived;
    PlainIo base;
    OtherAlgorithm other;
    // The subclass matches both rows; the earlier one wins.
    auto forDerived = factory.create(&derived);
    ASSERT_TRUE(forDerived);
    EXPECT_EQ(forDerived->controllerName(), "StreamControllerBase");
    auto forBase = factory.create(&base);
    ASSERT_TRUE(forBase);
    EXPECT_EQ(forBase->controllerName(), "DefaultAlgorithmController");
    EXPECT_FALSE(factory.create(&other));
}

TEST(StreamAlgorithmControllerFactoryTest, StreamControllerDrivesTheProducedStream)
{
    PlainIo algorithm;
    StreamControllerBase controller(&algorithm, &algorithm);
    std::vector<std::string> ids;
    for (const auto& a : controller.actions())
        ids.push_back(a.id);
    EXPECT_EQ(ids, (std::vector<std::string>{"open", "start", "pause", "resume", "stop", "close"}));
    EXPECT_FALSE(controller.runAction("start"));  // no stream yet

    algorithm.compute();
    Stream* stream = controller.stream();
    ASSERT_NE(stream, nullptr);
    EXPECT_TRUE(controller.runAction("pause"));
    EXPECT_EQ(stream->currentState(), Stream::State::Paused);
    EXPECT_FALSE(controller.runAction("stop"));  // a paused stream must be resumed first
    EXPECT_TRUE(controller.runAction("resume"));
    EXPECT_TRUE(controller.runAction("stop"));
    EXPECT_TRUE(controller.runAction("close"));
    EXPECT_EQ(stream->currentState(), Stream::State::Closed);
    EXPECT_FALSE(controller.runAction("explode"));
}

}  // namespace
}  // namespace Corvexis
