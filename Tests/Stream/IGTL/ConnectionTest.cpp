#include "Stream/IGTL/Connection.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>

#include "Host/Core/DataList.h"
#include "Host/Core/Log.h"
#include "Host/Core/MemImage.h"
#include "Host/Core/Mesh.h"
#include "Host/Core/OwningDataList.h"
#include "Host/Core/PointCloud.h"
#include "Stream/Framework/ImageStreamData.h"
#include "Stream/Framework/PolyDataStreamData.h"
#include "Stream/Framework/TrackingStreamData.h"
#include "Stream/IGTL/ConnectionIoAlgorithm.h"
#include "Stream/IGTL/Conversion.h"
#include "Stream/IGTL/CreateDataIoAlgorithm.h"
#include "Stream/IGTL/DeviceKinds.h"
#include "Stream/IGTL/IgtlImageOutStream.h"
#include "Stream/IGTL/IgtlImageStream.h"
#include "Stream/IGTL/IgtlPolyDataOutStream.h"
#include "Stream/IGTL/IgtlPolyDataStream.h"
#include "Stream/IGTL/IgtlTestUtil.h"
#include "Stream/IGTL/IgtlTrackingOutStream.h"
#include "Stream/IGTL/IgtlTrackingStream.h"
#include "Stream/IGTL/ImageData.h"
#include "Stream/IGTL/MeshData.h"
#include "Stream/IGTL/PointCloudData.h"

namespace Corvexis::IGTL {
namespace {

using Corvexis::Test::waitUntil;
using IgtlTest::LinkedPair;
using IgtlTest::RecordCollector;

TrackingStreamData trackingRecord(std::vector<TrackingInstrument> instruments, std::uint64_t ms)
{
    TrackingStreamData record(nullptr, std::move(instruments));
    record.setTimestampDevice(ms);
    return record;
}

std::vector<TrackingInstrument> twoInstruments()
{
    TrackingInstrument a(TrackerID("a", "Pointer"));
    a.matrix(0, 3) = 11.0;
    a.quality = 0.5;
    TrackingInstrument b(TrackerID("b", "Probe"));
    b.matrix(1, 3) = -22.0;
    b.quality = 0.25;
    return {a, b};
}

TEST(ConnectionTest, ClientTowardsNothingLogsAndStaysDisconnected)
{
    Log::ScopedCapture capture;
    Connection client("Lonely", "127.0.0.1", IgtlTest::freePort(), false, false, false);
    EXPECT_FALSE(client.openConnection());
    EXPECT_FALSE(client.isConnected());
    EXPECT_EQ(client.status(), ConnectionStatus::Disconnected);
    EXPECT_TRUE(
        capture->contains(Log::Level::Error, "IGTL.Connection", "Lonely could not connect to the server!"));
    EXPECT_TRUE(client.closeConnection());
    EXPECT_TRUE(capture->contains(Log::Level::Debug, "IGTL.Connection", "Lonely was already disconnected!"));
    EXPECT_TRUE(client.isCompatible(Data::Kind::ImageStream));
    EXPECT_TRUE(client.isCompatible(Data::Kind::Volume));
    EXPECT_FALSE(client.isCompatible(Data::Kind::Mesh));
    EXPECT_FALSE(client.isCompatible(static_cast<Data::Kind>(14)));
}

TEST(ConnectionTest, ServerStatesFollowOpenArrivalAndClose)
{
    Log::ScopedCapture capture;
    Connection server("Srv", "localhost", 0, true, false, false);
    std::vector<ConnectionStatus> seen;
    std::mutex m;
    server.signalStatusChanged.connect([&] {
        std::lock_guard lock(m);
        seen.push_back(server.status());
    });
    EXPECT_TRUE(server.open());
    // The port is published just before the status changes: wait for both.
    ASSERT_TRUE(waitUntil([&] {
        return server.listeningPort() != 0 && server.status() == ConnectionStatus::WaitingForClient;
    }));
    EXPECT_FALSE(server.openConnection());
    EXPECT_TRUE(capture->contains(Log::Level::Error, "IGTL.Connection",
                                  "Cannot run a new server. A server is already waiting for connection!"));
    Connection client("Cli", "127.0.0.1", server.listeningPort(), false, false, false);
    EXPECT_TRUE(client.openConnection());
    ASSERT_TRUE(waitUntil([&] { return server.isConnected(); }));
    EXPECT_TRUE(capture->contains(Log::Level::Info, "IGTL.Connection", "Srv is connected now."));
    EXPECT_TRUE(server.close());
    EXPECT_EQ(server.status(), ConnectionStatus::Disconnected);
    EXPECT_TRUE(capture->contains(Log::Level::Info, "IGTL.Connection", "Srv is disconnected!"));
    std::lock_guard lock(m);
    EXPECT_EQ(seen,
              (std::vector<ConnectionStatus>{ConnectionStatus::WaitingForClient, ConnectionStatus::Connected,
                                             ConnectionStatus::Disconnected}));
}

TEST(ConnectionTest, TrackingTravelsAsEachMessageTypeAndKeepsNamesMatricesAndQuality)
{
    for (const std::string type : {"TRANSFORM", "TDATA", "TRACKING_CVX"}) {
        LinkedPair link;
        ASSERT_TRUE(link.linked());
        IgtlTrackingStream in(link.server.get(), "Tracker", type);
        RecordCollector records(in);
        ASSERT_TRUE(in.open() && in.start());
        IgtlTrackingOutStream out(*link.client, "Tracker", type);
        ASSERT_TRUE(out.open() && out.start());
        out.sendStreamData(trackingRecord(twoInstruments(), 777000));
        // TRANSFORM and TRACKING_CVX: one message (one record) per instrument; TDATA: one for both.
        const std::size_t expected = type == "TDATA" ? 1 : 2;
        EXPECT_EQ(out.sentCount(), expected) << type;
        ASSERT_TRUE(records.waitFor(expected)) << type;
        for (const auto& r : records.records()) {
            const auto* t = dynamic_cast<const TrackingStreamData*>(r.get());
            ASSERT_TRUE(t);
            EXPECT_EQ(t->timestampDevice(), 777000u) << type;
        }
        // The last record holds both instruments, whichever way they travelled.
        const auto* last = dynamic_cast<const TrackingStreamData*>(records.records().back().get());
        const std::vector<TrackingInstrument> got = last->instruments();
        ASSERT_EQ(got.size(), 2u) << type;
        // Per-instrument messages are named "Tracker:<instrument>": the stream "Tracker" takes them all.
        EXPECT_EQ(got[0].id.name(), "Pointer") << type;
        EXPECT_EQ(got[1].id.name(), "Probe") << type;
        EXPECT_DOUBLE_EQ(got[0].matrix(0, 3), 11.0) << type;
        EXPECT_DOUBLE_EQ(got[1].matrix(1, 3), -22.0) << type;
        if (type == "TRACKING_CVX") {
            EXPECT_EQ(got[1].quality, 0.25);
            EXPECT_EQ(got[0].id.ID(), "Tracker:Pointer");
        } else {
            EXPECT_EQ(got[1].quality, 1.0) << type;
        }
        if (type == "TDATA") {
            EXPECT_EQ(got[1].id.ID(), "igtl-1");
        }
        EXPECT_EQ(in.devices().size(), 2u) << type;
        EXPECT_TRUE(link.server->getConnectedDevices().count({type, "Tracker"}));
    }
}

// Per-instrument messages ("Tracker:<instrument>") arriving interleaved build up one tracking stream:
// every record carries each instrument seen so far, in order of first appearance, with the pose and
// time of its own latest message. Names that only start like the stream's, other devices and other
// types stay out.
TEST(ConnectionTest, InterleavedPerInstrumentMessagesAccumulateIntoOneTrackingStream)
{
    for (const std::string type : {"TRANSFORM", "TRACKING_CVX"}) {
        LinkedPair link;
        ASSERT_TRUE(link.linked());
        IgtlTrackingStream in(link.server.get(), "Tracker", type);
        RecordCollector records(in);
        std::atomic<int> setChanges{0};
        auto changes = in.signalInstrumentsChanged.connect([&] { ++setChanges; });
        ASSERT_TRUE(in.open() && in.start());

        auto send = [&](const std::string& name, int k) {
            TrackingInstrument instrument;
            instrument.matrix(0, 3) = k;
            instrument.quality = 0.5;
            const std::uint64_t ms = 1000 + static_cast<std::uint64_t>(k);
            if (type == "TRANSFORM")
                return link.client->sendMessage(*Conversion::instrumentToTransform(instrument, name, ms));
            return link.client->sendMessage(*Conversion::instrumentToTrackingCvx(instrument, name, ms));
        };
        const std::vector<std::string> pattern{"A", "B", "A", "C", "B", "B", "C", "A"};
        // Expected state after each of our messages: instrument -> k of its latest message.
        std::vector<std::vector<std::pair<std::string, int>>> expected;
        std::vector<std::pair<std::string, int>> state;
        std::vector<int> recordK;
        for (int k = 0; k < 24; ++k) {
            const std::string& instrument = pattern[static_cast<std::size_t>(k) % pattern.size()];
            ASSERT_TRUE(send("Tracker:" + instrument, k));
            auto known =
                std::find_if(state.begin(), state.end(), [&](auto& e) { return e.first == instrument; });
            if (known == state.end())
                state.emplace_back(instrument, k);
            else
                known->second = k;
            expected.push_back(state);
            recordK.push_back(k);
            if (k % 5 == 0) {
                ASSERT_TRUE(send("TrackerX:" + instrument, 100 + k));
                ASSERT_TRUE(send("Other:" + instrument, 200 + k));
                ASSERT_TRUE(send("Other", 300 + k));
            }
        }
        ASSERT_TRUE(records.waitFor(expected.size())) << type;
        const auto all = records.records();
        ASSERT_EQ(all.size(), expected.size()) << type;
        for (std::size_t r = 0; r < all.size(); ++r) {
            const auto* record = dynamic_cast<const TrackingStreamData*>(all[r].get());
            ASSERT_TRUE(record);
            EXPECT_EQ(record->timestampDevice(), 1000u + static_cast<std::uint64_t>(recordK[r])) << type << r;
            const auto& instruments = record->instruments();
            ASSERT_EQ(instruments.size(), expected[r].size()) << type << " record " << r;
            for (std::size_t i = 0; i < instruments.size(); ++i) {
                const auto& [name, k] = expected[r][i];
                EXPECT_EQ(instruments[i].id.ID(), "Tracker:" + name) << type << r;
                EXPECT_EQ(instruments[i].id.name(), name) << type << r;
                EXPECT_DOUBLE_EQ(instruments[i].matrix(0, 3), k) << type << " record " << r << " " << name;
                EXPECT_EQ(instruments[i].timestamp, 1000u + static_cast<std::uint64_t>(k)) << type << r;
                EXPECT_DOUBLE_EQ(instruments[i].quality, type == "TRACKING_CVX" ? 0.5 : 1.0);
            }
        }
        const std::vector<TrackingInstrument> devices = in.devices();
        ASSERT_EQ(devices.size(), 3u) << type;
        EXPECT_EQ(devices[2].id.ID(), "Tracker:C");
        EXPECT_EQ(in.numInstruments(false), 3u);
        EXPECT_EQ(setChanges.load(), 3) << "the set changed when A, B and C first appeared";
        changes.disconnect();
    }
}

TEST(ConnectionTest, ImageStreamDeliversOnlyWhileRunningAndOnlyItsOwnName)
{
    LinkedPair link;
    ASSERT_TRUE(link.linked());
    IgtlImageStream in(link.server.get(), "Image");
    RecordCollector records(in);
    ImageData other(link.server.get(), "Other", true);
    ASSERT_TRUE(in.open());
    EXPECT_EQ(link.server->filters().size(), 2u);

    std::unique_ptr<MemImage> image = MemImage::create(ImageDescriptor(ImageDescriptor::kUShort, 4, 3));
    auto* values = static_cast<std::uint16_t*>(image->data());
    for (int i = 0; i < 12; ++i)
        values[i] = static_cast<std::uint16_t>(1000 + i);
    IgtlImageOutStream imageOut(*link.client, "Image");
    IgtlImageOutStream otherOut(*link.client, "Other");
    ASSERT_TRUE(imageOut.open() && imageOut.start() && otherOut.open() && otherOut.start());

    // Open but not started: nothing. The message to "Other" that follows proves the first was handled.
    ASSERT_TRUE(imageOut.sendImageData(*image, Eigen::Matrix4d::Identity(), 100));
    ASSERT_TRUE(otherOut.sendImageData(*image, Eigen::Matrix4d::Identity(), 100));
    ASSERT_TRUE(waitUntil([&] { return other.updates() == 1; }));
    EXPECT_EQ(records.size(), 0u);

    ASSERT_TRUE(in.start());
    ASSERT_TRUE(otherOut.sendImageData(*image, Eigen::Matrix4d::Identity(), 200));
    ASSERT_TRUE(imageOut.sendImageData(*image, Eigen::Matrix4d::Identity(), 300));
    ASSERT_TRUE(records.waitFor(1));
    ASSERT_TRUE(waitUntil([&] { return other.updates() == 2; }));
    EXPECT_EQ(records.size(), 1u);
    const auto* record = dynamic_cast<const ImageStreamData*>(records.records()[0].get());
    ASSERT_TRUE(record);
    EXPECT_EQ(record->timestampDevice(), 300u);
    const MemImage* received = record->images()[0]->mem();
    ASSERT_TRUE(received);
    EXPECT_EQ(received->pixelType(), ImageDescriptor::kUShort);
    EXPECT_TRUE(received->hasSamePixels(*image));
    other.withImages([&](const SharedImageSet& set) {
        ASSERT_EQ(set.size(), 1);
        EXPECT_EQ(set.timestamp(0), 200.0);
    });
}

// A 64-bit float image crosses a live link into the image stream with every value exact (values a float
// cannot hold included) and is described as a double image.
TEST(ConnectionTest, Float64ImagesReachTheImageStreamExactly)
{
    LinkedPair link;
    ASSERT_TRUE(link.linked());
    IgtlImageStream in(link.server.get(), "Dose");
    RecordCollector records(in);
    ASSERT_TRUE(in.open() && in.start());
    IgtlImageOutStream out(*link.client, "Dose");
    ASSERT_TRUE(out.open() && out.start());
    std::unique_ptr<MemImage> image = MemImage::create(ImageDescriptor(ImageDescriptor::kDouble, 5, 4, 2, 2));
    auto* values = static_cast<double*>(image->data());
    for (int i = 0; i < 80; ++i)
        values[i] = (i - 40) * 0.1 + 1e-12 * i;
    ASSERT_TRUE(out.sendImageData(*image, Eigen::Matrix4d::Identity(), 4242));
    ASSERT_TRUE(records.waitFor(1));
    const auto* record = dynamic_cast<const ImageStreamData*>(records.records()[0].get());
    ASSERT_TRUE(record);
    const MemImage* received = record->images()[0]->mem();
    ASSERT_TRUE(received);
    EXPECT_EQ(received->descriptor().pixelType, ImageDescriptor::kDouble);
    EXPECT_EQ(received->descriptor().slices, 2);
    EXPECT_EQ(received->descriptor().channels, 2);
    EXPECT_TRUE(received->hasSamePixels(*image));
    EXPECT_EQ(static_cast<const double*>(received->data())[79], values[79]);
    EXPECT_NE(in.describe().find("64 bit float"), std::string::npos) << in.describe();
}

TEST(ConnectionTest, PolyDataStreamTellsMeshesFromPointCloudsAndLogsEmptyMessages)
{
    Log::ScopedCapture capture;
    LinkedPair link;
    ASSERT_TRUE(link.linked());
    IgtlPolyDataStream in(link.server.get(), "Geometry");
    RecordCollector records(in);
    ASSERT_TRUE(in.open() && in.start());
    IgtlPolyDataOutStream out(*link.client, "Geometry");
    Mesh mesh;
    ASSERT_TRUE(mesh.setGeometry({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{0, 1, 2}}));
    PointCloud cloud;
    cloud.setPoints({{1, 1, 1}, {2, 2, 2}, {3, 3, 3}, {4, 4, 4}});
    ASSERT_TRUE(out.sendMesh(mesh, "Geometry", 5));
    ASSERT_TRUE(out.sendPointCloud(cloud, "Geometry", 6));
    ASSERT_TRUE(out.sendPointCloud(PointCloud(), "Geometry", 7));
    ASSERT_TRUE(records.waitFor(2));
    ASSERT_TRUE(waitUntil([&] {
        return capture->contains(Log::Level::Error, "IgtlPolyDataStream",
                                 "Receoved polydata message is empty");
    }));
    const auto list = records.records();
    ASSERT_EQ(list.size(), 2u);
    const auto* first = dynamic_cast<const PolyDataStreamData*>(list[0].get());
    const auto* second = dynamic_cast<const PolyDataStreamData*>(list[1].get());
    ASSERT_TRUE(first && second);
    ASSERT_EQ(first->meshes().size(), 1u);
    EXPECT_EQ(first->meshes()[0]->numberOfFaces(), 1);
    EXPECT_TRUE(first->meshes()[0]->hasVertexNormals());
    ASSERT_EQ(second->pointClouds().size(), 1u);
    EXPECT_EQ(second->pointClouds()[0]->numberOfPoints(), 4);
    EXPECT_EQ(second->timestampDevice(), 6u);
}

TEST(ConnectionTest, MeshAndPointCloudDataTakeOverTheirDevicesMessagesAndKeepTheirNames)
{
    LinkedPair link;
    ASSERT_TRUE(link.linked());
    MeshData meshIn(link.server.get(), "Surface");
    PointCloudData cloudIn(link.server.get(), "Cloud");
    MeshData meshOut(link.client.get(), "Surface", false);
    PointCloudData cloudOut(link.client.get(), "Cloud", false);
    std::atomic<int> meshSignals{0};
    std::atomic<int> cloudSignals{0};
    meshIn.signalUpdated.connect([&] { ++meshSignals; });
    cloudIn.signalUpdated.connect([&] { ++cloudSignals; });

    Mesh mesh("Sent mesh");
    ASSERT_TRUE(mesh.setGeometry({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}}, {{0, 1, 2}, {1, 3, 2}}));
    PointCloud cloud("Sent cloud");
    cloud.setPoints({{1, 1, 1}, {2, 2, 2}, {3, 3, 3}});
    // Each device sends only its own kind of geometry.
    EXPECT_FALSE(meshOut.sendData(&cloud));
    EXPECT_FALSE(cloudOut.sendData(&mesh));

    ASSERT_TRUE(cloudOut.sendData(&cloud));
    ASSERT_TRUE(meshOut.sendData(&mesh));
    ASSERT_TRUE(waitUntil([&] { return meshIn.updates() == 1 && cloudIn.updates() == 1; }));
    EXPECT_EQ(meshSignals.load(), 1);
    EXPECT_EQ(cloudSignals.load(), 1);
    meshIn.withMesh([](const Mesh& received) {
        EXPECT_EQ(received.numberOfFaces(), 2);
        EXPECT_EQ(received.numberOfVertices(), 4);
    });
    cloudIn.withPointCloud([](const PointCloud& received) { EXPECT_EQ(received.numberOfPoints(), 3); });
    EXPECT_EQ(meshIn.name(), "Surface");
    EXPECT_EQ(cloudIn.name(), "Cloud");

    // A second message replaces the contents; outputs never take messages in.
    cloud.setPoints({{5, 5, 5}});
    ASSERT_TRUE(cloudOut.sendData(&cloud));
    ASSERT_TRUE(waitUntil([&] { return cloudIn.updates() == 2; }));
    cloudIn.withPointCloud([](const PointCloud& received) {
        ASSERT_EQ(received.numberOfPoints(), 1);
        EXPECT_EQ(received.points()[0].x(), 5.0f);
    });
    EXPECT_EQ(meshIn.updates(), 1u);
    EXPECT_EQ(meshOut.updates(), 0u);
    EXPECT_EQ(cloudOut.updates(), 0u);
    EXPECT_FALSE(meshOut.isInput());
}

TEST(ConnectionTest, SecondClientIsRefusedWhileOneIsConnected)
{
    Log::ScopedCapture capture;
    LinkedPair link;
    ASSERT_TRUE(link.linked());
    IgtlTest::RawClient intruder(link.server->listeningPort());
    ASSERT_TRUE(intruder.connected());
    EXPECT_TRUE(intruder.peerClosed(std::chrono::seconds(5)));
    EXPECT_TRUE(capture->containsFragment(Log::Level::Warning, "IGTL.Connection",
                                          "a connection request was ignored"));
    EXPECT_TRUE(link.linked());
}

TEST(ConnectionTest, PeerCloseEndsTheLinkAndAServerWithReconnectWaitsAgain)
{
    for (const bool reconnect : {false, true}) {
        Log::ScopedCapture capture;
        LinkedPair link(false, reconnect);
        ASSERT_TRUE(link.linked());
        int peerClosed = 0;
        link.server->signalPeerClosed.connect([&] { ++peerClosed; });
        link.client.reset();
        const ConnectionStatus expected =
            reconnect ? ConnectionStatus::WaitingForClient : ConnectionStatus::Disconnected;
        ASSERT_TRUE(waitUntil([&] { return link.server->status() == expected && peerClosed == 1; }))
            << reconnect;
        EXPECT_TRUE(
            capture->contains(Log::Level::Warning, "IGTL.Connection", "Server: Connection is terminated."));
        EXPECT_EQ(capture->containsFragment(Log::Level::Info, "IGTL.Connection", " Reconnection attempt"),
                  reconnect);
        if (reconnect) {
            Connection next("Next", "127.0.0.1", link.server->listeningPort(), false, false, false);
            EXPECT_TRUE(next.openConnection());
            EXPECT_TRUE(waitUntil([&] { return link.server->isConnected(); }));
        } else {
            EXPECT_TRUE(waitUntil([&] { return link.server->listeningPort() == 0; }));
        }
    }
}

TEST(ConnectionTest, DevicesOutliveTheirConnectionUnboundAndSilent)
{
    auto link = std::make_unique<LinkedPair>();
    ASSERT_TRUE(link->linked());
    IgtlTrackingOutStream out(*link->client, "Tracker", "TRANSFORM");
    IgtlTrackingStream in(link->client.get(), "Tracker", "TDATA");
    ASSERT_TRUE(out.open() && out.start());
    EXPECT_TRUE(out.isConnected());
    EXPECT_EQ(link->client->filters().size(), 2u);
    in.resetConnection();
    EXPECT_FALSE(in.isConnected());
    EXPECT_EQ(link->client->filters().size(), 1u);
    link.reset();
    EXPECT_FALSE(out.isConnected());
    EXPECT_FALSE(out.sendTransformMessage(trackingRecord(twoInstruments(), 1), "Tracker"));
}

TEST(ConnectionTest, AlgorithmsCreateConnectionsAndDevicesOrLogWhyNot)
{
    SupportedDeviceTypes::clear();
    DeviceKinds::registerAll();
    ConnectionIoAlgorithm serverAlgorithm;
    serverAlgorithm.isServer = true;
    serverAlgorithm.port = 0;
    serverAlgorithm.connectionName = "Served";
    serverAlgorithm.compute();
    ASSERT_EQ(serverAlgorithm.status(), Algorithm::Status::Success);
    std::unique_ptr<Connection> server = serverAlgorithm.takeOutput().takeFirst<Connection>();
    ASSERT_TRUE(server);
    EXPECT_EQ(server->name(), "Served");
    ASSERT_TRUE(waitUntil([&] { return server->listeningPort() != 0; }));

    ConnectionIoAlgorithm clientAlgorithm;
    clientAlgorithm.hostName = "127.0.0.1";
    clientAlgorithm.port = server->listeningPort();
    clientAlgorithm.compute();
    ASSERT_EQ(clientAlgorithm.status(), Algorithm::Status::Success);
    std::unique_ptr<Connection> client = clientAlgorithm.takeOutput().takeFirst<Connection>();
    ASSERT_TRUE(client && client->isConnected());
    EXPECT_EQ(client->currentState(), Stream::State::Running);

    std::unique_ptr<Algorithm> create;
    ASSERT_TRUE(CreateDataIoAlgorithm::createCompatible(DataList{server.get()}, &create));
    EXPECT_FALSE(CreateDataIoAlgorithm::createCompatible(DataList{}, nullptr));
    Properties config;
    config.setParam("streamType", std::string("Igtlink Input Tracking Stream"));
    config.setParam("deviceName", std::string("T"));
    config.addSubProperties("Stream Properties")->setParam("igtlType", std::string("TDATA"));
    create->configure(&config);
    create->compute();
    ASSERT_EQ(create->status(), Algorithm::Status::Success);
    std::unique_ptr<IgtlTrackingStream> stream = create->takeOutput().takeFirst<IgtlTrackingStream>();
    ASSERT_TRUE(stream);
    EXPECT_EQ(stream->deviceIgtlType(), "TDATA");
    EXPECT_EQ(stream->currentState(), Stream::State::Running);

    Log::ScopedCapture capture;
    config.setParam("streamType", std::string("Igtlink Teleporter"));
    create->configure(&config);
    create->compute();
    EXPECT_EQ(create->status(), Algorithm::Status::Error);
    EXPECT_TRUE(create->takeOutput().empty());
    EXPECT_TRUE(capture->contains(Log::Level::Error, "IgtLinkCreateStreamAlgorithm",
                                  "Could not create igtlink stream"));

    ConnectionIoAlgorithm nowhere;
    nowhere.hostName = "127.0.0.1";
    nowhere.port = IgtlTest::freePort();
    nowhere.compute();
    EXPECT_EQ(nowhere.status(), Algorithm::Status::Error);
    EXPECT_TRUE(nowhere.takeOutput().empty());
}

}  // namespace
}  // namespace Corvexis::IGTL
