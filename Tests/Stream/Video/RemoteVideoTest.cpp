#include "Stream/Video/RemoteVideoStream.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <vector>

#include "Host/Core/Log.h"
#include "Host/Core/PropertiesIO.h"
#include "Host/Core/TypedImage.h"
#include "Host/Lib/SharedImage.h"
#include "RemoteVideoTestCamera.h"
#include "Stream/Framework/ImageStreamData.h"
#include "Stream/Network/WebsocketClient.h"
#include "Stream/Network/WebsocketServer.h"
#include "Stream/StreamAlgorithmFactory.h"
#include "Stream/Video/LiveStreamingAlgorithm.h"
#include "Stream/Video/ROISettings.h"
#include "Stream/Video/RemoteStreamSettingDouble.h"
#include "Stream/Video/VideoPacketHeader.h"
#include "Support/TestUtil.h"
#include "Support/VideoTestTools.h"

namespace Corvexis {
namespace {

using Test::RemoteVideoTestCamera;
using Test::waitUntil;
using Region = VideoStreamSettings::Region;

constexpr const char* kSender = "Stream.LiveStreamingAlgorithm";
constexpr const char* kReceiver = "Stream.RemoteVideoStream";

// A port that was free a moment ago, inside the range both ends accept (up to 50000).
int freePort()
{
    return Test::freePortBetween(20000, 49999);
}

// Collects what a stream emits.
class Frames
{
public:
    explicit Frames(Stream& stream)
    {
        connection_ = stream.signalStreamData.connect([this](std::shared_ptr<const StreamData> data) {
            const auto* record = dynamic_cast<const ImageStreamData*>(data.get());
            if (record == nullptr || record->images().empty())
                return;
            std::lock_guard lock(mutex_);
            last_ = record->images().front();
            ++count_;
        });
    }
    ~Frames() { connection_.disconnect(); }
    int count() const
    {
        std::lock_guard lock(mutex_);
        return count_;
    }
    std::shared_ptr<const SharedImage> last() const
    {
        std::lock_guard lock(mutex_);
        return last_;
    }
    bool waitFor(int n) const
    {
        return waitUntil([&] { return count() >= n; }, std::chrono::seconds(20));
    }
    // Waits until the newest frame satisfies `check`.
    bool waitForFrame(const std::function<bool(const MemImage&)>& check) const
    {
        return waitUntil(
            [&] {
                const auto image = last();
                return image && image->mem() != nullptr && check(*image->mem());
            },
            std::chrono::seconds(20));
    }

private:
    mutable std::mutex mutex_;
    std::shared_ptr<const SharedImage> last_;
    int count_ = 0;
    SignalConnection connection_;
};

double meanChannel(const MemImage& image, int channel)
{
    const auto* p = static_cast<const std::uint8_t*>(image.data());
    const std::size_t pixels =
        static_cast<std::size_t>(image.width()) * static_cast<std::size_t>(image.height());
    double sum = 0.0;
    for (std::size_t i = 0; i < pixels; ++i)
        sum += p[i * static_cast<std::size_t>(image.channels()) + static_cast<std::size_t>(channel)];
    return pixels > 0 ? sum / static_cast<double>(pixels) : 0.0;
}

// A sender on a test camera (mpeg4, best quality) with its servers running on two free ports.
struct Sender
{
    explicit Sender(bool paints = true) : camera(paints), algorithm(camera)
    {
        videoPort = freePort();
        controlPort = freePort();
        while (controlPort == videoPort)
            controlPort = freePort();
        algorithm.setEncoderId(VideoEncoder::Codec::Mpeg4);
        algorithm.setPreset(VideoEncoder::Preset::HighQuality);
        EXPECT_TRUE(algorithm.setVideoTransferPort(videoPort));
        EXPECT_TRUE(algorithm.setControlTransferPort(controlPort));
        algorithm.compute();
        EXPECT_EQ(algorithm.status(), Algorithm::Status::Success);
        EXPECT_TRUE(algorithm.isServerRunning());
        if (paints) {
            EXPECT_TRUE(camera.start());
        }
    }

    RemoteVideoTestCamera camera;
    LiveStreamingAlgorithm algorithm;
    int videoPort = 0;
    int controlPort = 0;
};

template <typename T>
std::shared_ptr<T> settingOf(RemoteVideoStream& stream, const char* name)
{
    const std::any found = stream.getSettings(name);
    const auto* p = std::any_cast<std::shared_ptr<T>>(&found);
    return p != nullptr ? *p : nullptr;
}

TEST(RemoteVideoTest, FramesArriveAndCameraSettingsChangeThePicture)
{
    Sender sender;
    RemoteVideoStream receiver;
    Frames frames(receiver);
    ASSERT_TRUE(receiver.tryConnect("127.0.0.1", sender.videoPort, sender.controlPort));
    EXPECT_TRUE(receiver.isConnected());
    EXPECT_TRUE(waitUntil([&] { return receiver.currentState() == Stream::State::Running; }));
    EXPECT_TRUE(sender.algorithm.isCurrentlyStreaming());
    ASSERT_TRUE(frames.waitFor(5));

    // The picture survives the codec: PSNR against the camera's own picture.
    const auto first = frames.last();
    ASSERT_NE(first->mem(), nullptr);
    EXPECT_EQ(first->width(), RemoteVideoTestCamera::kSensorWidth);
    EXPECT_EQ(first->height(), RemoteVideoTestCamera::kSensorHeight);
    EXPECT_EQ(first->channels(), 3);
    const auto expected = sender.camera.picture();
    EXPECT_GT(Corvexis::Test::psnr(static_cast<const std::uint8_t*>(first->mem()->data()),
                                   static_cast<const std::uint8_t*>(expected->data()), expected->byteSize()),
              30.0);
    EXPECT_EQ(receiver.width(), RemoteVideoTestCamera::kSensorWidth);
    EXPECT_EQ(receiver.describe().rfind("Remote video with resolution: w:160, h:120 | FPS:", 0), 0u)
        << receiver.describe();

    // Exposure: read with its limits, changed remotely, and the picture follows (blue = exposure x gain).
    auto exposure = settingOf<VideoStreamSettings::Exposure>(receiver, "Exposure");
    ASSERT_NE(exposure, nullptr);
    EXPECT_DOUBLE_EQ(exposure->value(), 10.0);
    EXPECT_DOUBLE_EQ(exposure->minimum(), 1.0);
    EXPECT_DOUBLE_EQ(exposure->maximum(), 100.0);
    EXPECT_TRUE(exposure->setValue(40.0));
    EXPECT_DOUBLE_EQ(sender.camera.exposure(), 40.0);
    EXPECT_DOUBLE_EQ(exposure->value(), 40.0);
    EXPECT_FALSE(exposure->setValue(500.0));  // beyond the camera's limit: "setExposureFailed"
    EXPECT_DOUBLE_EQ(sender.camera.exposure(), 40.0);
    EXPECT_TRUE(frames.waitForFrame(
        [](const MemImage& image) { return std::abs(meanChannel(image, 2) - 80.0) < 4; }));

    auto gain = settingOf<VideoStreamSettings::Gain>(receiver, "Gain");
    ASSERT_NE(gain, nullptr);
    EXPECT_DOUBLE_EQ(gain->value(), 2.0);
    EXPECT_TRUE(gain->setValue(3.0));
    EXPECT_TRUE(frames.waitForFrame(
        [](const MemImage& image) { return std::abs(meanChannel(image, 2) - 120.0) < 4; }));

    auto framerate = settingOf<VideoStreamSettings::Framerate>(receiver, "Framerate");
    ASSERT_NE(framerate, nullptr);
    EXPECT_DOUBLE_EQ(framerate->maximum(), 60.0);
    EXPECT_TRUE(framerate->setValue(20.0));
    EXPECT_DOUBLE_EQ(sender.camera.framerate(), 20.0);

    // Region of interest: the frames shrink to the region (the encoder reconfigures, the decoder follows).
    auto roi = settingOf<VideoStreamSettings::RegionOfInterest>(receiver, "RegionOfInterest");
    ASSERT_NE(roi, nullptr);
    EXPECT_EQ(roi->region(), (Region{0, 0, 160, 120}));
    EXPECT_EQ(roi->increment(), (Region{1, 1, 8, 8}));
    EXPECT_EQ(roi->minimum(), (Region{0, 0, 32, 32}));
    EXPECT_EQ(roi->maximum(), (Region{160, 120, 160, 120}));
    EXPECT_FALSE(roi->setRegion({0, 0, 100, 64}));  // width not a multiple of 8
    EXPECT_TRUE(roi->setRegion({16, 8, 96, 64}));
    EXPECT_EQ(roi->region(), (Region{16, 8, 96, 64}));
    EXPECT_TRUE(frames.waitForFrame(
        [](const MemImage& image) { return image.width() == 96 && image.height() == 64; }));
    EXPECT_TRUE(waitUntil([&] { return receiver.width() == 96 && receiver.height() == 64; }));

    // Settings trees and configurations travel both ways.
    Properties wanted;
    wanted.setParam("Exposure", 20.0);
    wanted.setParam("Gain", 99.0);  // out of range: not applied
    const Properties applied = receiver.tryApplySettings(&wanted);
    EXPECT_DOUBLE_EQ(applied.param<double>("Exposure", 0.0), 20.0);
    EXPECT_FALSE(applied.hasParam("Gain"));
    EXPECT_DOUBLE_EQ(sender.camera.exposure(), 20.0);
    EXPECT_DOUBLE_EQ(receiver.forceApplySettings(&wanted).param<double>("Exposure", 0.0), 20.0);

    Properties remote;
    receiver.configuration(&remote);
    EXPECT_EQ(remote.param<int>("pattern", -1), 0);
    EXPECT_EQ(remote.param<std::string>("host", ""), "127.0.0.1");
    Properties change;
    change.setParam("pattern", 7);
    receiver.configure(&change);
    EXPECT_TRUE(waitUntil([&] { return sender.camera.pattern.value() == 7; }));

    // An unknown setting name is no setting.
    EXPECT_FALSE(receiver.getSettings("Focus").has_value());
    EXPECT_TRUE(receiver.close());
    EXPECT_FALSE(receiver.isConnected());
}

TEST(RemoteVideoTest, SecondClientsAreRefusedAndTheNextClientStartsAtFrameZero)
{
    Log::ScopedCapture capture(true);
    Sender sender;
    RemoteVideoStream first;
    ASSERT_TRUE(first.tryConnect("127.0.0.1", sender.videoPort, sender.controlPort));
    Frames frames(first);
    ASSERT_TRUE(frames.waitFor(3));

    // A second receiver: its video client is turned away, nothing changes for the first.
    RemoteVideoStream second;
    EXPECT_FALSE(second.tryConnect("127.0.0.1", sender.videoPort, sender.controlPort));
    EXPECT_TRUE(capture->containsFragment(Log::Level::Warning, kSender,
                                          " is trying to connect while we are streaming. Ignoring request."));
    // A second control client likewise.
    Network::WebsocketClient<std::string> extraControl("127.0.0.1", sender.controlPort);
    EXPECT_FALSE(extraControl.connect(2000));
    EXPECT_TRUE(waitUntil([&] {
        return capture->containsFragment(
            Log::Level::Warning, kSender,
            " is trying to connect, but another client is already registered. Ignoring request.");
    }));
    const int before = frames.count();
    EXPECT_TRUE(frames.waitFor(before + 3));
    EXPECT_TRUE(sender.algorithm.isCurrentlyStreaming());

    // The first leaves: streaming stops.
    EXPECT_TRUE(first.close());
    EXPECT_TRUE(waitUntil([&] { return !sender.algorithm.isCurrentlyStreaming(); }));
    EXPECT_TRUE(waitUntil([&] {
        return capture->containsFragment(Log::Level::Warning, kSender, " disconnected. Stopping streaming.");
    }));

    // The next client gets a fresh encoder: frame indices from 0, consecutive, a standard mpeg4 stream.
    Network::WebsocketClient<ByteBuffer> next("127.0.0.1", sender.videoPort);
    std::mutex mutex;
    std::vector<ByteBuffer> packets;
    next.signalMessageReceived.connect([&](std::shared_ptr<const ByteBuffer> packet) {
        std::lock_guard lock(mutex);
        packets.push_back(*packet);
    });
    ASSERT_TRUE(next.connect(5000));
    const auto received = [&] {
        std::lock_guard lock(mutex);
        return packets.size();
    };
    ASSERT_TRUE(waitUntil([&] { return received() >= 10; }, std::chrono::seconds(20)));
    next.disconnect();
    std::vector<ByteBuffer> copy;
    {
        std::lock_guard lock(mutex);
        copy = packets;
    }
    std::string payloads;
    for (std::size_t i = 0; i < copy.size(); ++i) {
        const auto header = VideoPacketHeader::read(copy[i].view());
        ASSERT_TRUE(header.has_value());
        EXPECT_EQ(header->frameIndex, static_cast<std::int32_t>(i));
        EXPECT_EQ(header->codec, static_cast<std::int32_t>(VideoEncoder::Codec::Mpeg4));
        EXPECT_EQ(header->width, RemoteVideoTestCamera::kSensorWidth);
        EXPECT_EQ(header->height, RemoteVideoTestCamera::kSensorHeight);
        payloads.append(reinterpret_cast<const char*>(copy[i].data()) + VideoPacketHeader::kSize,
                        static_cast<std::size_t>(header->payloadSize));
    }

    // The payloads, back to back, are an elementary stream that FFmpeg's own tools read.
    if (!Corvexis::Test::haveProgram("ffprobe") || !Corvexis::Test::haveProgram("ffmpeg"))
        GTEST_SKIP()
            << "ffprobe/ffmpeg not installed: the packets were not checked by an independent decoder";
    Corvexis::Test::ScratchDir dir;
    const std::string file = dir.file("packets.m4v");
    std::ofstream(file, std::ios::binary) << payloads;
    int status = 0;
    const std::string probe = Corvexis::Test::runCommand(
        "ffprobe -v error -f m4v -select_streams v:0 -count_frames -show_entries "
        "stream=codec_name,width,height,nb_read_frames -of default=nw=1 '" +
            file + "'",
        &status);
    EXPECT_EQ(status, 0) << probe;
    EXPECT_NE(probe.find("codec_name=mpeg4"), std::string::npos) << probe;
    EXPECT_NE(probe.find("width=160"), std::string::npos) << probe;
    EXPECT_NE(probe.find("height=120"), std::string::npos) << probe;
    EXPECT_NE(probe.find("nb_read_frames=" + std::to_string(copy.size())), std::string::npos) << probe;
    const auto rgb = Corvexis::Test::ffmpegRawRgb(file, dir.file("frames.rgb"));
    ASSERT_EQ(rgb.size(), copy.size() * 160u * 120u * 3u);
    const auto expected = sender.camera.picture();
    EXPECT_GT(Corvexis::Test::psnr(rgb.data() + rgb.size() - expected->byteSize(),
                                   static_cast<const std::uint8_t*>(expected->data()), expected->byteSize()),
              30.0);
}

// A stand-in sender whose control channel sends heartbeats before it answers.
struct ChattySender
{
    ChattySender()
        : video("localhost", videoPort = freePort(), 1), control("localhost", controlPort = pickOther(), 1)
    {
        control.signalMessageReceived.connect([this](std::shared_ptr<const std::string> text) {
            const auto request = PropertiesIO::loadFromString(*text);
            if (!request)
                return;
            for (int i = 0; i < 20; ++i)
                control.sendMessage("a");
            if (request->name() == "silent")
                return;
            if (request->name() != "probe") {
                control.sendMessage(PropertiesIO::saveToString(Properties("NotImplemented")));
                return;
            }
            Properties reply(request->name() + "Reply");
            reply.setParam("echo", request->param<std::string>("text", ""));
            control.sendMessage(PropertiesIO::saveToString(reply));
        });
        EXPECT_TRUE(video.run());
        EXPECT_TRUE(control.run());
    }
    int pickOther()
    {
        int port = freePort();
        while (port == videoPort)
            port = freePort();
        return port;
    }

    int videoPort = 0;
    int controlPort = 0;
    Network::WebsocketServer<ByteBuffer> video;
    Network::WebsocketServer<std::string> control;
};

TEST(RemoteVideoTest, HeartbeatsNeverReachAWaitingRequest)
{
    ChattySender sender;
    RemoteVideoStream receiver;
    std::atomic<int> shortReplies{0};
    receiver.signalControlReply.connect([&](std::string text) {
        if (text.size() < 4)
            ++shortReplies;
    });
    ASSERT_TRUE(receiver.tryConnect("localhost", sender.videoPort, sender.controlPort));
    ASSERT_TRUE(waitUntil([&] { return receiver.currentState() == Stream::State::Running; }));

    Properties request("probe");
    request.setParam("text", "hello there");
    for (int round = 0; round < 3; ++round) {
        const auto reply = receiver.sendMessageAndWaitForReply(PropertiesIO::saveToString(request), 2000);
        ASSERT_NE(reply, nullptr);
        EXPECT_EQ(reply->name(), "probeReply");
        EXPECT_EQ(reply->param<std::string>("echo", ""), "hello there");
    }
    // Only heartbeats come back, or the sender cannot serve it: no answer.
    EXPECT_EQ(receiver.sendMessageAndWaitForReply(PropertiesIO::saveToString(Properties("silent")), 300),
              nullptr);
    EXPECT_EQ(receiver.sendMessageAndWaitForReply(PropertiesIO::saveToString(Properties("unknown")), 2000),
              nullptr);
    // Nor does a camera setting the sender cannot serve: no object.
    EXPECT_FALSE(receiver.getSettings("Gain").has_value());
    EXPECT_EQ(shortReplies.load(), 0);
    EXPECT_TRUE(receiver.close());

    Log::ScopedCapture capture;
    EXPECT_EQ(receiver.sendMessageAndWaitForReply("probe {\n}\n", 100), nullptr);
    EXPECT_TRUE(
        capture->contains(Log::Level::Warning, kReceiver, "could not send message, client not connected"));
}

TEST(RemoteVideoTest, SenderGoneMidStreamStopsTheReceiverCleanly)
{
    Log::ScopedCapture capture(true);
    auto sender = std::make_unique<Sender>();
    RemoteVideoStream receiver;
    Frames frames(receiver);
    std::atomic<int> ended{0};
    receiver.signalStreamEnded.connect([&] { ++ended; });
    ASSERT_TRUE(receiver.tryConnect("127.0.0.1", sender->videoPort, sender->controlPort));
    ASSERT_TRUE(frames.waitFor(3));

    sender.reset();  // servers closed while a frame may be on its way
    EXPECT_TRUE(waitUntil([&] { return receiver.currentState() == Stream::State::Open; }));
    EXPECT_EQ(ended.load(), 1);
    EXPECT_TRUE(capture->containsFragment(Log::Level::Error, kReceiver, "Lost the video channel"));
    const int afterStop = frames.count();
    EXPECT_TRUE(receiver.close());
    EXPECT_EQ(frames.count(), afterStop);
    EXPECT_EQ(receiver.currentState(), Stream::State::Closed);
}

TEST(RemoteVideoTest, PortsAreCheckedOnBothEnds)
{
    Log::ScopedCapture capture;
    RemoteVideoStream receiver;
    EXPECT_FALSE(receiver.tryConnect("127.0.0.1", 5000, 5000));
    EXPECT_TRUE(
        capture->contains(Log::Level::Error, kReceiver, "video port must be different to control port"));
    const char* range = "video and control port must be between: 1025 and 50000";
    for (auto ports : {std::pair{1024, 5000}, std::pair{5000, 50001}, std::pair{65535, 5000}}) {
        capture.sink().clear();
        EXPECT_FALSE(receiver.tryConnect("127.0.0.1", ports.first, ports.second));
        EXPECT_TRUE(capture->contains(Log::Level::Error, kReceiver, range))
            << ports.first << " " << ports.second;
    }
    // The bounds themselves pass the check (and then find nobody listening).
    capture.sink().clear();
    EXPECT_FALSE(receiver.tryConnect("127.0.0.1", 1025, 50000));
    EXPECT_FALSE(capture->contains(Log::Level::Error, kReceiver, range));
    EXPECT_TRUE(
        capture->containsFragment(Log::Level::Error, kReceiver, "could not connect to video channel"));
    EXPECT_EQ(receiver.currentState(), Stream::State::Closed);

    RemoteVideoTestCamera camera(false);
    LiveStreamingAlgorithm sender(camera);
    EXPECT_TRUE(sender.setVideoTransferPort(65535));
    EXPECT_TRUE(sender.setControlTransferPort(1025));
    capture.sink().clear();
    EXPECT_FALSE(sender.setVideoTransferPort(65536));
    EXPECT_TRUE(
        capture->contains(Log::Level::Error, kSender, "Video port value should be between: 1025 and 65535"));
    EXPECT_FALSE(sender.setControlTransferPort(1024));
    EXPECT_TRUE(capture->contains(Log::Level::Error, kSender,
                                  "Control port value should be between: 1025 and 65535"));
    Properties config;
    config.setParam("VideoPort", 70000);
    config.setParam("ControlPort", 4000);
    config.setParam("Preset", 1);
    sender.configure(&config);
    EXPECT_EQ(sender.videoTransferPort(), 65535);
    EXPECT_EQ(sender.controlTransferPort(), 4000);
    EXPECT_EQ(sender.preset(), VideoEncoder::Preset::Balanced);

    EXPECT_TRUE(sender.setVideoTransferPort(4000));
    capture.sink().clear();
    sender.compute();
    EXPECT_TRUE(
        capture->contains(Log::Level::Error, kSender, "Video port must be different to control port"));
    EXPECT_FALSE(sender.isServerRunning());
    EXPECT_EQ(sender.listeningVideoPort(), 0);
}

// A client that records the packets of a sender's video channel.
struct PacketProbe
{
    explicit PacketProbe(int port) : client("127.0.0.1", port)
    {
        client.signalMessageReceived.connect([this](std::shared_ptr<const ByteBuffer> packet) {
            if (auto header = VideoPacketHeader::read(packet->view())) {
                std::lock_guard lock(mutex);
                headers.push_back(*header);
            }
        });
    }
    std::size_t count()
    {
        std::lock_guard lock(mutex);
        return headers.size();
    }
    VideoPacketHeader at(std::size_t i)
    {
        std::lock_guard lock(mutex);
        return headers.at(i);
    }
    Network::WebsocketClient<ByteBuffer> client;
    std::mutex mutex;
    std::vector<VideoPacketHeader> headers;
};

TEST(RemoteVideoTest, EncoderRateFollowsTheInputClampedAndOnlyEightBitImagesAreSent)
{
    Log::ScopedCapture capture(true);
    {
        // No frames yet: the input's rate is 0, the encoder gets 1 fps.
        Sender sender(false);
        PacketProbe probe(sender.videoPort);
        ASSERT_TRUE(probe.client.connect(5000));
        ASSERT_TRUE(waitUntil([&] { return sender.algorithm.isCurrentlyStreaming(); }));
        EXPECT_TRUE(capture->containsFragment(Log::Level::Info, kSender, " | FPS: 1 | "));

        // A 16-bit image is ignored, the next 8-bit one is sent.
        sender.camera.emitImage(TypedImage<std::uint16_t>::create(64, 48, 1, 3));
        EXPECT_TRUE(capture->contains(Log::Level::Warning, kSender, "Ignoring non-8bit image"));
        sender.camera.emitImage(TypedImage<std::uint8_t>::create(64, 48, 1, 2));
        EXPECT_TRUE(
            capture->contains(Log::Level::Error, kSender, "Only image with 3 or 4 channels are supported"));
        sender.camera.emitImage(TypedImage<std::uint8_t>::create(64, 48, 3, 3));
        EXPECT_TRUE(capture->contains(Log::Level::Warning, kSender, "Ignoring images with multiple slices"));
        sender.camera.emitImage(Corvexis::Test::makePatternFrame(64, 48, 3, 1));
        ASSERT_TRUE(waitUntil([&] { return probe.count() >= 1; }, std::chrono::seconds(20)));
        EXPECT_EQ(probe.at(0).width, 64);
        EXPECT_EQ(probe.at(0).frameIndex, 0);
        probe.client.disconnect();
        ASSERT_TRUE(waitUntil([&] { return !sender.algorithm.isCurrentlyStreaming(); }));
    }
    {
        // The meter recomputes every 2 s of record time over its last 60 intervals: a first record,
        // then 61 records 0.5 ms apart ending 2 s later measure 2000 fps; the encoder is given 999.
        Sender sender(false);
        const std::uint64_t start = 1'000'000'000'000;
        sender.camera.emitImage(Corvexis::Test::makePatternFrame(32, 32, 3, 0), start);
        for (int i = 0; i <= 60; ++i)
            sender.camera.emitImage(Corvexis::Test::makePatternFrame(32, 32, 3, i),
                                    start + 1970 + static_cast<std::uint64_t>(i / 2));
        capture.sink().clear();
        PacketProbe probe(sender.videoPort);
        ASSERT_TRUE(probe.client.connect(5000));
        EXPECT_TRUE(waitUntil(
            [&] { return capture->containsFragment(Log::Level::Info, kSender, " | FPS: 999 | "); }));
    }
}

TEST(RemoteVideoTest, RemoteSettingsWithoutValuesAskForSetLocal)
{
    Log::ScopedCapture capture;
    int requests = 0;
    RemoteSettingsRequester requester = [&](const Properties& message, int timeoutMs) {
        ++requests;
        EXPECT_EQ(timeoutMs, 300);
        return std::make_unique<Properties>(message.name() +
                                            (message.param<double>("value", 0) > 5 ? "Failed" : "Success"));
    };
    RemoteStreamGain gain(requester);
    EXPECT_EQ(gain.value(), 0.0);
    EXPECT_TRUE(capture->contains(Log::Level::Warning, kReceiver,
                                  "Gain RemoteStream value is not set, use setLocal before calling"));
    gain.maximum();
    EXPECT_TRUE(capture->contains(Log::Level::Warning, kReceiver,
                                  "Gain RemoteStream max value is not set, use setLocal before calling"));
    gain.minimum();
    EXPECT_TRUE(capture->contains(Log::Level::Warning, kReceiver,
                                  "Gain RemoteStream min value is not set, use setLocal before calling"));
    EXPECT_TRUE(gain.setValue(4.0));  // "setGainSuccess"
    EXPECT_EQ(gain.value(), 4.0);
    EXPECT_FALSE(gain.setValue(6.0));  // "setGainFailed"
    EXPECT_EQ(gain.value(), 4.0);
    EXPECT_EQ(requests, 2);
    gain.setLocal(1.5, 1.0, 2.0);
    capture.sink().clear();
    EXPECT_EQ(gain.maximum(), 2.0);
    EXPECT_TRUE(capture->records().empty());

    ROISettings roi(requester);
    roi.maximum();
    roi.minimum();
    roi.increment();
    EXPECT_TRUE(capture->contains(Log::Level::Warning, kReceiver,
                                  "maximum ROI is not set, use setLocal before calling"));
    EXPECT_TRUE(capture->contains(Log::Level::Warning, kReceiver,
                                  "minimum ROI is not set, use setLocal before calling"));
    EXPECT_TRUE(capture->contains(Log::Level::Warning, kReceiver,
                                  "increment ROI is not set, use setLocal before calling"));
    EXPECT_TRUE(roi.setRegion({1, 2, 3, 4}));
    EXPECT_EQ(roi.region(), (Region{1, 2, 3, 4}));
}

TEST(RemoteVideoTest, SenderTakesOneTwoDimensionalImageStream)
{
    RemoteVideoTestCamera camera(false);
    RemoteVideoStream other;
    std::unique_ptr<Algorithm> made;
    EXPECT_TRUE(LiveStreamingAlgorithm::createCompatible(DataList{&camera}, &made));
    ASSERT_NE(made, nullptr);
    EXPECT_FALSE(LiveStreamingAlgorithm::createCompatible(DataList{&camera, &other}, nullptr));
    EXPECT_FALSE(LiveStreamingAlgorithm::createCompatible(DataList{}, nullptr));
    Properties config;
    made->configuration(&config);
    EXPECT_EQ(config.param<std::string>("Host", ""), "localhost");
    EXPECT_EQ(config.param<int>("VideoPort", 0), 3888);
    EXPECT_EQ(config.param<int>("ControlPort", 0), 4051);
    EXPECT_EQ(config.paramAttribute("Preset", "max"), "2");
}

// The control channel as text on the wire, from a plain WebSocket client: malformed requests are
// dropped with a warning, well-formed ones answered with trees, and configurations answered by nothing.
TEST(RemoteVideoTest, ControlChannelSpeaksPropertiesTextAndSurvivesGarbage)
{
    Log::ScopedCapture capture(true);
    Sender sender(false);
    Network::WebsocketClient<std::string> control("127.0.0.1", sender.controlPort);
    std::mutex mutex;
    std::vector<std::string> replies;
    control.signalMessageReceived.connect([&](std::shared_ptr<const std::string> text) {
        std::lock_guard lock(mutex);
        replies.push_back(*text);
    });
    ASSERT_TRUE(control.connect(5000));
    const auto replyCount = [&] {
        std::lock_guard lock(mutex);
        return replies.size();
    };

    control.sendMessage("ExposureSettings { value = ");
    control.sendMessage("pattern = 3");
    EXPECT_TRUE(waitUntil([&] {
        int malformed = 0;
        for (const auto& record : capture->records())
            malformed += record.text.rfind("Ignoring malformed control message: line ", 0) == 0 ? 1 : 0;
        return malformed == 2;
    }));
    control.sendMessage("anyName {\n    pattern = 3\n}\n");  // a configuration for the input: no reply
    EXPECT_TRUE(waitUntil([&] { return sender.camera.pattern.value() == 3; }));
    control.sendMessage("ExposureSettings {\n}\n");
    control.sendMessage("setGain {\n    value = 4\n}\n");
    control.sendMessage("setFramerate {\n    value = 1000\n}\n");
    // Any other name is a configuration for the input, not a request: no reply.
    control.sendMessage("FocusSettings {\n}\n");
    control.sendMessage("roiSettings {\n}\n");
    ASSERT_TRUE(waitUntil([&] { return replyCount() >= 4; }));
    std::vector<std::string> copy;
    {
        std::lock_guard lock(mutex);
        copy = replies;
    }
    ASSERT_EQ(copy.size(), 4u);  // not streaming: no heartbeats
    const auto exposure = PropertiesIO::loadFromString(copy[0]);
    ASSERT_NE(exposure, nullptr) << copy[0];
    EXPECT_EQ(exposure->name(), "ExposureSettings");
    EXPECT_DOUBLE_EQ(exposure->param<double>("value", 0), 10.0);
    EXPECT_DOUBLE_EQ(exposure->param<double>("minimum", 0), 1.0);
    EXPECT_DOUBLE_EQ(exposure->param<double>("maximum", 0), 100.0);
    EXPECT_EQ(PropertiesIO::loadFromString(copy[1])->name(), "setGainSuccess");
    EXPECT_EQ(PropertiesIO::loadFromString(copy[2])->name(), "setFramerateFailed");
    const auto roi = PropertiesIO::loadFromString(copy[3]);
    ASSERT_NE(roi, nullptr) << copy[3];
    EXPECT_EQ(roi->param<int>("w", 0), 160);
    EXPECT_EQ(roi->param<int>("Maximum/h", 0), 120);
    EXPECT_EQ(roi->param<int>("Increment/w", 0), 8);
    EXPECT_EQ(sender.camera.level(), 40);  // exposure 10 x gain 4
    control.disconnect();

    // An input that is no camera cannot serve camera requests: "NotImplemented".
    RemoteVideoStream notACamera;
    LiveStreamingAlgorithm plain(notACamera);
    const int videoPort = freePort();
    int controlPort = freePort();
    while (controlPort == videoPort)
        controlPort = freePort();
    ASSERT_TRUE(plain.setVideoTransferPort(videoPort));
    ASSERT_TRUE(plain.setControlTransferPort(controlPort));
    plain.compute();
    Network::WebsocketClient<std::string> plainControl("127.0.0.1", controlPort);
    std::atomic<int> notImplemented{0};
    plainControl.signalMessageReceived.connect([&](std::shared_ptr<const std::string> text) {
        const auto reply = PropertiesIO::loadFromString(*text);
        if (reply && reply->name() == "NotImplemented")
            ++notImplemented;
    });
    ASSERT_TRUE(plainControl.connect(5000));
    plainControl.sendMessage("GainSettings {\n}\n");
    plainControl.sendMessage("setRoiSettings {\n    x = 0\n}\n");
    plainControl.sendMessage("tryApplySettings {\n}\n");
    EXPECT_TRUE(waitUntil([&] { return notImplemented.load() == 3; }));
    plainControl.disconnect();
}

TEST(RemoteVideoTest, RegisteredReceiverOpensWithoutTouchingTheNetworkAndStartConnects)
{
    StreamAlgorithmFactory factory;
    ASSERT_TRUE(factory.entry("Stream.LiveStreamingAlgorithm"));
    EXPECT_EQ(factory.entry("Stream.LiveStreamingAlgorithm")->menuPath, "Streaming;Live Streaming Algorithm");
    ASSERT_TRUE(factory.entry("Stream.CreateRemoteVideoStream"));
    EXPECT_EQ(factory.entry("Stream.CreateRemoteVideoStream")->menuPath, "IO;Streaming;Remote Video Stream");

    Sender sender;
    auto creator = factory.create("Stream.CreateRemoteVideoStream", DataList());
    ASSERT_NE(creator, nullptr);
    Properties config;
    config.setParam("videoPort", sender.videoPort);
    config.setParam("controlPort", sender.controlPort);
    creator->configure(&config);
    creator->compute();
    EXPECT_EQ(creator->status(), Algorithm::Status::Success);
    OwningDataList output = creator->takeOutput();
    ASSERT_EQ(output.size(), 1u);
    auto* receiver = dynamic_cast<RemoteVideoStream*>(output[0]);
    ASSERT_NE(receiver, nullptr);
    EXPECT_EQ(receiver->currentState(), Stream::State::Open);
    EXPECT_FALSE(receiver->isConnected());
    EXPECT_FALSE(sender.algorithm.isCurrentlyStreaming());

    // Starting connects with the configured ports.
    Frames frames(*receiver);
    EXPECT_TRUE(receiver->start());
    EXPECT_TRUE(receiver->isConnected());
    EXPECT_TRUE(frames.waitFor(2));
    EXPECT_TRUE(receiver->close());
    EXPECT_TRUE(waitUntil([&] { return !sender.algorithm.isCurrentlyStreaming(); }));
}

}  // namespace
}  // namespace Corvexis
