// Round trips through peers we did not write: OpenIGTLink's own example programs, built from Debian's
// openigtlink-examples sources into the build tree and started here on loopback.
#include "Stream/IGTL/Connection.h"

#include <fstream>
#include <regex>

#include <gtest/gtest.h>

#include "Host/Core/MemImage.h"
#include "Host/Core/Mesh.h"
#include "Host/Lib/SharedImage.h"
#include "Stream/Framework/ImageStreamData.h"
#include "Stream/Framework/StreamForwarder.h"
#include "Stream/Framework/TrackingStreamData.h"
#include "Stream/IGTL/Conversion.h"
#include "Stream/IGTL/IgtlImageOutStream.h"
#include "Stream/IGTL/IgtlImageStream.h"
#include "Stream/IGTL/IgtlPolyDataOutStream.h"
#include "Stream/IGTL/IgtlTestUtil.h"
#include "Stream/IGTL/IgtlTrackingOutStream.h"
#include "Stream/IGTL/IgtlTrackingStream.h"
#include "Stream/Simulated/FakeImageStream.h"
#include "Stream/Simulated/FakeTrackingStream.h"

namespace Corvexis::IGTL {
namespace {

using Corvexis::Test::waitUntil;
using IgtlTest::PeerProcess;
using IgtlTest::RecordCollector;

#define REQUIRE_PEER(name)                                                                                \
    if (!PeerProcess::available(name))                                                                    \
    GTEST_SKIP() << "the reference program " << name << " was not built (" << PeerProcess::peerPath(name) \
                 << " missing: is openigtlink-examples installed?)"

// Connects a client of ours to a peer server that is still starting up.
std::unique_ptr<Connection> connectTo(int port)
{
    auto client = std::make_unique<Connection>("Client", "127.0.0.1", port, false, true, false);
    waitUntil([&] { return client->openConnection(); }, std::chrono::seconds(10));
    return client;
}

// The 4 x 4 matrices the peer printed, in order (blocks of four rows of four numbers).
std::vector<Eigen::Matrix4d> printedMatrices(const std::string& output)
{
    std::vector<Eigen::Matrix4d> matrices;
    const std::regex row(R"(^\s*(-?[0-9.e+-]+), (-?[0-9.e+-]+), (-?[0-9.e+-]+), (-?[0-9.e+-]+)\s*$)");
    std::istringstream in(output);
    std::string line;
    Eigen::Matrix4d current;
    int rows = 0;
    while (std::getline(in, line)) {
        std::smatch m;
        if (!std::regex_match(line, m, row)) {
            rows = 0;
            continue;
        }
        for (int c = 0; c < 4; ++c)
            current(rows, c) = std::stod(m[c + 1]);
        if (++rows == 4) {
            matrices.push_back(current);
            rows = 0;
        }
    }
    return matrices;
}

TEST(InteropTest, ReferenceTrackerServerFeedsOurTrackingStreamAtItsRate)
{
    REQUIRE_PEER("TrackerServer");
    const int port = IgtlTest::freePort();
    constexpr double kFps = 50.0;
    PeerProcess peer("TrackerServer", {std::to_string(port), "50"});
    ASSERT_TRUE(peer.started());
    // The stream runs before the link is up, so that no pose is missed.
    Connection client("Client", "127.0.0.1", port, false, true, false);
    IgtlTrackingStream stream(&client, "Tracker", "TRANSFORM");
    RecordCollector records(stream);
    ASSERT_TRUE(stream.open() && stream.start());
    ASSERT_TRUE(waitUntil([&] { return client.openConnection(); }, std::chrono::seconds(10)))
        << peer.output();
    // It sends 100 poses per connection, printing each before it is sent.
    ASSERT_TRUE(records.waitFor(100, std::chrono::seconds(30))) << records.size() << " poses";
    const auto list = records.records();
    const auto printed = printedMatrices(peer.output());
    ASSERT_GE(printed.size(), 100u);
    ASSERT_EQ(list.size(), 100u);
    const std::size_t offset = 0;
    for (std::size_t i = 0; i < list.size(); ++i) {
        const auto* record = dynamic_cast<const TrackingStreamData*>(list[i].get());
        ASSERT_TRUE(record && record->instruments().size() == 1);
        const Eigen::Matrix4d got = record->instruments()[0].matrix;
        EXPECT_TRUE(got.isApprox(printed[offset + i], 1e-4)) << "pose " << i << "\n"
                                                             << got << "\n"
                                                             << printed[offset + i];
        EXPECT_EQ(record->instruments()[0].id.name(), "Tracker");
    }
    // Rate: 100 poses in about 100 periods; never faster than sent, and not starved.
    const double spanMs =
        static_cast<double>(list.back()->timestampArrival() - list.front()->timestampArrival());
    const double periodMs = spanMs / static_cast<double>(list.size() - 1);
    EXPECT_GT(periodMs, 0.5 * 1000.0 / kFps) << spanMs;
    EXPECT_LT(periodMs, 5.0 * 1000.0 / kFps) << spanMs;
}

TEST(InteropTest, ReferenceImagerServerFeedsOurImageStreamWithTheRightPixels)
{
    REQUIRE_PEER("ImagerServer");
    // The imager reads igtlTestImage1..5.raw (256 x 256 unsigned bytes); ours carry known patterns.
    const auto dir = std::filesystem::temp_directory_path() / ("igtl-images-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    std::vector<std::vector<std::uint8_t>> images(5, std::vector<std::uint8_t>(256 * 256));
    for (int i = 0; i < 5; ++i) {
        for (std::size_t p = 0; p < images[i].size(); ++p)
            images[i][p] = static_cast<std::uint8_t>((p % 256) * (i + 1) + p / 256 + 31 * i);
        std::ofstream(dir / ("igtlTestImage" + std::to_string(i + 1) + ".raw"), std::ios::binary)
            .write(reinterpret_cast<const char*>(images[i].data()),
                   static_cast<std::streamsize>(images[i].size()));
    }
    const int port = IgtlTest::freePort();
    PeerProcess peer("ImagerServer", {std::to_string(port), "25", dir.string()});
    ASSERT_TRUE(peer.started());
    std::unique_ptr<Connection> client = connectTo(port);
    ASSERT_TRUE(client->isConnected()) << peer.output();
    IgtlImageStream bound(client.get(), "ImagerClient");
    RecordCollector records(bound);
    ASSERT_TRUE(bound.open() && bound.start());
    ASSERT_TRUE(records.waitFor(12, std::chrono::seconds(30))) << records.size() << " images";
    const auto list = records.records();
    // Which image came first depends on how many were sent before we started; they cycle through 5.
    const auto* first = dynamic_cast<const ImageStreamData*>(list[0].get());
    ASSERT_TRUE(first);
    const MemImage* firstImage = first->images()[0]->mem();
    ASSERT_TRUE(firstImage);
    int start = -1;
    for (int i = 0; i < 5; ++i)
        if (std::memcmp(firstImage->data(), images[i].data(), images[i].size()) == 0)
            start = i;
    ASSERT_GE(start, 0) << "the first image matches none of the files";
    for (std::size_t r = 0; r < list.size(); ++r) {
        const auto* record = dynamic_cast<const ImageStreamData*>(list[r].get());
        const MemImage* image = record->images()[0]->mem();
        ASSERT_TRUE(image);
        EXPECT_EQ(image->width(), 256);
        EXPECT_EQ(image->height(), 256);
        EXPECT_EQ(image->slices(), 1);
        EXPECT_EQ(image->pixelType(), ImageDescriptor::kUByte);
        EXPECT_EQ(image->spacing(), Eigen::Vector3d(1, 1, 5));
        const auto& expected = images[(start + r) % 5];
        EXPECT_EQ(std::memcmp(image->data(), expected.data(), expected.size()), 0) << "image " << r;
    }
    std::filesystem::remove_all(dir);
}

// A server of ours fed by the simulated streams through forwarders, as the example workspace does.
struct SimulatedServer
{
    Connection server{"Served", "localhost", 0, true, false, false};
    FakeTrackingStream tracking;
    std::unique_ptr<IgtlTrackingOutStream> trackingOut;
    std::unique_ptr<StreamForwarder> trackingForwarder;

    explicit SimulatedServer(const std::string& trackingType)
    {
        server.openConnection();
        waitUntil([&] { return server.listeningPort() != 0; });
        trackingOut = std::make_unique<IgtlTrackingOutStream>(server, "Tracker", trackingType);
        trackingOut->open();
        trackingOut->start();
        trackingForwarder = std::make_unique<StreamForwarder>(tracking, *trackingOut);
        trackingForwarder->attach();
        tracking.fps = 50.0;
        tracking.addDevice(
            std::make_unique<FakeTrackingStream::OscillatingDevice>(Eigen::Vector3d(0, 0, 100)));
        tracking.addDevice(
            std::make_unique<FakeTrackingStream::OscillatingDevice>(Eigen::Vector3d(0, 50, 100)));
    }
};

TEST(InteropTest, ReferenceTrackingDataClientReadsOurSimulatedTrackingAsTData)
{
    REQUIRE_PEER("TrackingDataClient");
    SimulatedServer served("TDATA");
    ASSERT_TRUE(served.tracking.open() && served.tracking.start());
    PeerProcess peer("TrackingDataClient",
                     {"127.0.0.1", std::to_string(served.server.listeningPort()), "50"});
    ASSERT_TRUE(peer.started());
    ASSERT_TRUE(waitUntil([&] { return served.server.isConnected(); }));
    ASSERT_TRUE(waitUntil([&] { return served.trackingOut->sentCount() >= 20; }));
    const auto instruments = served.tracking.instruments();
    ASSERT_FALSE(instruments.empty());
    const auto names = IgtlTrackingOutStream::instrumentsNames(instruments, "Tracker");
    ASSERT_TRUE(waitUntil([&] {
        const std::string out = peer.output();
        return out.find("Receiving TDATA data type.") != std::string::npos &&
               out.find(" Name       : " + names.back()) != std::string::npos;
    })) << peer.output().substr(0, 2000);
    // It asked with STT_TDATA, which we do not serve: skipped, and the link stayed up.
    bool askedToStart = false;
    for (const auto& [type, name] : served.server.getConnectedDevices())
        askedToStart = askedToStart || type == "STT_TDATA";
    EXPECT_TRUE(askedToStart);
    EXPECT_TRUE(served.server.isConnected());
}

TEST(InteropTest, ReferenceReceiveClientReadsOurSimulatedImagesAndTransforms)
{
    REQUIRE_PEER("ReceiveClient");
    SimulatedServer served("TRANSFORM");
    FakeImageStream images(32, 24, 1, 1);
    images.fps = 20.0;
    IgtlImageOutStream imageOut(served.server, "Image");
    ASSERT_TRUE(imageOut.open() && imageOut.start());
    StreamForwarder imageForwarder(images, imageOut);
    imageForwarder.attach();
    if (!images.open() || !images.start())
        GTEST_SKIP() << "the simulated image stream cannot run here (no graphics context)";
    ASSERT_TRUE(served.tracking.open() && served.tracking.start());
    PeerProcess peer("ReceiveClient", {"127.0.0.1", std::to_string(served.server.listeningPort())});
    ASSERT_TRUE(peer.started());
    ASSERT_TRUE(waitUntil([&] { return imageOut.sentCount() >= 5 && served.trackingOut->sentCount() >= 5; }));
    ASSERT_TRUE(waitUntil([&] {
        const std::string out = peer.output();
        return out.find("Receiving IMAGE data type.") != std::string::npos &&
               out.find("Receiving TRANSFORM data type.") != std::string::npos;
    })) << peer.output().substr(0, 2000);
    const std::string out = peer.output();
    EXPECT_NE(out.find("Device Name           : Image"), std::string::npos);
    EXPECT_TRUE(std::regex_search(out, std::regex(R"(Dimensions\s+: \(\s*32,\s*24,\s*1\s*\))")))
        << out.substr(0, 3000);
    EXPECT_NE(out.find("Scalar Type           : 3"), std::string::npos);
    images.close();
}

TEST(InteropTest, ReferenceReceiveServerDecodesOrFramesEveryTypeWeSend)
{
    REQUIRE_PEER("ReceiveServer");
    const int port = IgtlTest::freePort();
    PeerProcess peer("ReceiveServer", {std::to_string(port)});
    ASSERT_TRUE(peer.started());
    std::unique_ptr<Connection> client = connectTo(port);
    ASSERT_TRUE(client->isConnected());
    IgtlTrackingOutStream transform(*client, "Tracker", "TRANSFORM");
    IgtlTrackingOutStream tdata(*client, "Tracker", "TDATA");
    IgtlTrackingOutStream own(*client, "Tracker", "TRACKING_CVX");
    IgtlImageOutStream image(*client, "Image");
    IgtlPolyDataOutStream poly(*client, "Surface");
    TrackingInstrument tool(TrackerID("t", "Needle"));
    tool.matrix(0, 3) = 12.5;
    TrackingStreamData record(nullptr, {tool});
    record.setTimestampDevice(1700000000123);
    ASSERT_TRUE(transform.sendTransformMessage(record, "Tracker"));
    ASSERT_TRUE(tdata.sendTDataMessage(record, "Tracker"));
    ASSERT_TRUE(own.sendTrackingCvxMessage(record, "Tracker"));
    auto pixels = MemImage::create(ImageDescriptor(ImageDescriptor::kShort, 7, 5, 1, 1));
    ASSERT_TRUE(image.sendImageData(*pixels, Eigen::Matrix4d::Identity(), 1700000000456));
    auto doubles = MemImage::create(ImageDescriptor(ImageDescriptor::kDouble, 4, 3, 1, 1));
    ASSERT_TRUE(image.sendImageData(*doubles, Eigen::Matrix4d::Identity(), 1700000000789));
    Mesh mesh;
    mesh.setGeometry({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{0, 1, 2}});
    ASSERT_TRUE(poly.sendMesh(mesh, "Surface"));
    // A last TRANSFORM: decoded only if every message before it was framed right.
    tool.matrix(0, 3) = 99.25;
    TrackingStreamData lastRecord(nullptr, {tool});
    ASSERT_TRUE(transform.sendTransformMessage(lastRecord, "Tracker"));
    ASSERT_TRUE(waitUntil(
        [&] {
            const auto printed = printedMatrices(peer.output());
            return !printed.empty() && printed.back()(0, 3) == 99.25;
        },
        std::chrono::seconds(10)))
        << peer.output();
    const std::string out = peer.output();
    EXPECT_NE(out.find("Receiving TRANSFORM data type."), std::string::npos);
    EXPECT_NE(out.find("Receiving IMAGE data type."), std::string::npos);
    // The 64-bit float image is decoded by the library as FLOAT64 of the size we sent.
    EXPECT_NE(out.find("Scalar Type           : 11\nDimensions            : (4, 3, 1)"), std::string::npos)
        << out.substr(0, 3000);
    EXPECT_NE(out.find("Receiving : TDATA"), std::string::npos);
    EXPECT_NE(out.find("Receiving : TRACKING_CVX"), std::string::npos);
    EXPECT_NE(out.find("Size : 52"), std::string::npos);
    EXPECT_NE(out.find("Receiving : POLYDATA"), std::string::npos);
    // 123 ms, within the wire's 32-bit fraction of a second.
    EXPECT_NE(out.find("Time stamp: 1700000000.12"), std::string::npos) << out.substr(0, 2000);
    const auto matrices = printedMatrices(out);
    EXPECT_DOUBLE_EQ(matrices.front()(0, 3), 12.5);
    EXPECT_DOUBLE_EQ(matrices.back()(0, 3), 99.25);
}

}  // namespace
}  // namespace Corvexis::IGTL
