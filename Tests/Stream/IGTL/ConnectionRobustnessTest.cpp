#include "Stream/IGTL/Connection.h"

#include <random>

#include <gtest/gtest.h>
#include <igtlTrackingDataMessage.h>
#include <igtlTransformMessage.h>

#include "Host/Core/Log.h"
#include "Host/Core/MemImage.h"
#include "Host/Core/Mesh.h"
#include "Stream/IGTL/Conversion.h"
#include "Stream/IGTL/IgtlTestUtil.h"

namespace Corvexis::IGTL {
namespace {

using Corvexis::Test::waitUntil;
using IgtlTest::RawClient;

// What a device sees of a message: enough to tell two decodings apart.
struct Seen
{
    std::string type;
    std::string name;
    std::uint64_t timestampMs = 0;
    std::vector<std::uint8_t> body;
    bool operator==(const Seen&) const = default;
};

// A server on a free port that records every message it emits.
class RecordingServer
{
public:
    explicit RecordingServer(bool crcCheck = false, bool reconnect = true)
        : connection("Robust", "localhost", 0, true, crcCheck, reconnect)
    {
        subscription = connection.signalMessageReceived.connect([this](const ParsedMessage& m) {
            Seen s{m.type, m.fullDeviceName, m.timestampMs, {}};
            const auto* body = static_cast<const std::uint8_t*>(LibraryAdapter::bodyPointer(*m.message));
            s.body.assign(body, body + LibraryAdapter::bodySize(*m.message));
            std::lock_guard lock(mutex);
            seen.push_back(std::move(s));
        });
        connection.openConnection();
        waitUntil([&] { return connection.listeningPort() != 0; });
    }
    ~RecordingServer() { subscription.disconnect(); }
    std::vector<Seen> take(std::size_t count)
    {
        waitUntil([&] {
            std::lock_guard lock(mutex);
            return seen.size() >= count;
        });
        std::lock_guard lock(mutex);
        return std::exchange(seen, {});
    }
    std::size_t count()
    {
        std::lock_guard lock(mutex);
        return seen.size();
    }
    int port() const { return connection.listeningPort(); }

    Connection connection;
    SignalConnection subscription;
    std::mutex mutex;
    std::vector<Seen> seen;
};

std::vector<std::uint8_t> transformBytes(const char* name, float x, std::uint64_t ms)
{
    TrackingInstrument instrument;
    instrument.matrix(0, 3) = x;
    auto message = Conversion::instrumentToTransform(instrument, name, ms);
    return IgtlTest::bytesOf(*message);
}

// One of each type we convert, back to back.
std::vector<std::uint8_t> mixedStream(std::size_t* messages)
{
    std::vector<std::uint8_t> all;
    auto append = [&](const std::vector<std::uint8_t>& bytes) {
        all.insert(all.end(), bytes.begin(), bytes.end());
    };
    append(transformBytes("A", 1.5f, 1000));
    std::vector<TrackingInstrument> two(2);
    two[1].matrix(2, 3) = 9;
    auto tdata = Conversion::instrumentsToTData(two, {"one", "two"}, 2000, "B");
    append(IgtlTest::bytesOf(*tdata));
    auto image = MemImage::create(ImageDescriptor(ImageDescriptor::kUShort, 4, 3, 1, 2));
    for (std::size_t i = 0; i < image->byteSize(); ++i)
        static_cast<std::uint8_t*>(image->data())[i] = static_cast<std::uint8_t>(i);
    append(IgtlTest::bytesOf(*Conversion::imageToMessage(*image, Eigen::Matrix4d::Identity(), 3000, "C")));
    Mesh mesh;
    mesh.setGeometry({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{0, 1, 2}});
    append(IgtlTest::bytesOf(*Conversion::meshToMessage(mesh, 4000, "D")));
    TrackingInstrument tool;
    tool.quality = 0.5;
    append(IgtlTest::bytesOf(*Conversion::instrumentToTrackingCvx(tool, "E", 5000)));
    *messages = 5;
    return all;
}

TEST(ConnectionRobustnessTest, MessagesSplitAtEveryByteOrInRandomChunksDecodeIdentically)
{
    std::size_t count = 0;
    const std::vector<std::uint8_t> bytes = mixedStream(&count);
    RecordingServer server(true);
    std::vector<Seen> reference;
    {
        RawClient whole(server.port());
        ASSERT_TRUE(whole.connected());
        ASSERT_TRUE(whole.send(bytes));
        reference = server.take(count);
    }
    ASSERT_EQ(reference.size(), count);
    EXPECT_EQ(reference[0].type, "TRANSFORM");
    EXPECT_EQ(reference[2].type, "IMAGE");
    EXPECT_EQ(reference[4].type, "TRACKING_CVX");
    EXPECT_EQ(reference[4].timestampMs, 5000u);

    {
        RawClient bytewise(server.port());
        ASSERT_TRUE(bytewise.connected());
        for (const std::uint8_t b : bytes)
            ASSERT_TRUE(bytewise.send(&b, 1));
        EXPECT_EQ(server.take(count), reference);
    }
    std::mt19937 random(12345);
    for (int round = 0; round < 5; ++round) {
        RawClient chunked(server.port());
        ASSERT_TRUE(chunked.connected());
        std::size_t at = 0;
        while (at < bytes.size()) {
            const std::size_t n = std::min<std::size_t>(bytes.size() - at, 1 + random() % 97);
            ASSERT_TRUE(chunked.send(bytes.data() + at, n));
            at += n;
        }
        EXPECT_EQ(server.take(count), reference) << "round " << round;
    }
}

TEST(ConnectionRobustnessTest, BadCrcIsDroppedAndLoggedAndTheNextMessageArrives)
{
    Log::ScopedCapture capture;
    RecordingServer server(true);
    RawClient client(server.port());
    ASSERT_TRUE(client.connected());
    std::vector<std::uint8_t> bad = transformBytes("Bad", 1.0f, 1);
    bad.back() ^= 0x01;
    ASSERT_TRUE(client.send(bad));
    ASSERT_TRUE(client.send(transformBytes("Good", 2.0f, 2)));
    const auto seen = server.take(1);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].name, "Good");
    EXPECT_TRUE(capture->containsFragment(Log::Level::Error, "IGTL.Connection", "CRC"));
    EXPECT_TRUE(capture->contains(Log::Level::Error, "OpenIGTLinkImageStream",
                                  "receiveMsg: could not receive message body!"));
    EXPECT_TRUE(server.connection.isConnected());
}

TEST(ConnectionRobustnessTest, UnknownTypesAreSkippedByTheirAnnouncedSize)
{
    Log::ScopedCapture capture;
    RecordingServer server(false);
    RawClient client(server.port());
    ASSERT_TRUE(client.connected());
    // An unknown type with a body that looks like a header, and a STATUS (no class here).
    std::vector<std::uint8_t> unknown = transformBytes("Mystery", 0.0f, 0);
    std::memcpy(unknown.data() + 2, "FOOBAR\0\0\0\0\0\0", 12);
    std::vector<std::uint8_t> status = transformBytes("State", 0.0f, 0);
    std::memcpy(status.data() + 2, "STATUS\0\0\0\0\0\0", 12);
    ASSERT_TRUE(client.send(unknown));
    ASSERT_TRUE(client.send(status));
    ASSERT_TRUE(client.send(transformBytes("After", 3.0f, 3)));
    const auto seen = server.take(1);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].name, "After");
    EXPECT_TRUE(server.connection.getConnectedDevices().count({"FOOBAR", "Mystery"}));
    EXPECT_FALSE(capture->containsFragment(Log::Level::Error, "IGTL.Connection", "receiveMsg"));
}

TEST(ConnectionRobustnessTest, TruncatedBodyThenCloseIsLoggedAndEndsTheLink)
{
    Log::ScopedCapture capture;
    RecordingServer server(false, false);
    {
        RawClient client(server.port());
        ASSERT_TRUE(client.connected());
        ASSERT_TRUE(waitUntil([&] { return server.connection.isConnected(); }));
        const std::vector<std::uint8_t> whole = transformBytes("Cut", 1.0f, 1);
        ASSERT_TRUE(client.send(whole.data(), LibraryAdapter::kHeaderSize + 10));
    }
    ASSERT_TRUE(waitUntil([&] { return server.connection.status() == ConnectionStatus::Disconnected; }));
    EXPECT_TRUE(
        capture->contains(Log::Level::Warning, "IGTL.Connection",
                          "Number of read bytes is not equal to what is mentioned in the messages header."));
    EXPECT_TRUE(
        capture->contains(Log::Level::Warning, "IGTL.Connection", "Robust: Connection is terminated."));
    EXPECT_EQ(server.count(), 0u);
}

TEST(ConnectionRobustnessTest, BodyOverTheLimitDropsTheLinkWithoutAllocatingIt)
{
    Log::ScopedCapture capture;
    RecordingServer server(false, true);
    server.connection.setMaxBodySize(1 << 20);
    RawClient client(server.port());
    ASSERT_TRUE(client.connected());
    std::vector<std::uint8_t> huge = transformBytes("Huge", 1.0f, 1);
    for (int i = 0; i < 8; ++i)
        huge[42 + i] = i == 2 ? 0x01 : 0x00;  // 2^40 bytes announced
    ASSERT_TRUE(client.send(huge.data(), LibraryAdapter::kHeaderSize));
    EXPECT_TRUE(client.peerClosed(std::chrono::seconds(5)));
    EXPECT_TRUE(
        capture->containsFragment(Log::Level::Error, "IGTL.Connection", "over the limit of 1048576 bytes"));
    // The server (reconnect set) takes the next client, whose messages arrive.
    ASSERT_TRUE(waitUntil([&] { return server.connection.status() == ConnectionStatus::WaitingForClient; }));
    RawClient next(server.port());
    ASSERT_TRUE(next.send(transformBytes("Fine", 1.0f, 1)));
    EXPECT_EQ(server.take(1).size(), 1u);
}

}  // namespace
}  // namespace Corvexis::IGTL
