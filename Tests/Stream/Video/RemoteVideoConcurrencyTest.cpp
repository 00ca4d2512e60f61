#include "Stream/Video/RemoteVideoStream.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>

#include "Host/Core/Log.h"
#include "RemoteVideoTestCamera.h"
#include "Stream/Video/LiveStreamingAlgorithm.h"
#include "Support/TestUtil.h"

namespace Corvexis {
namespace {

using Test::RemoteVideoTestCamera;
using Test::waitUntil;

int freePort(int avoid)
{
    static std::mt19937 random(static_cast<unsigned>(::getpid()) * 7u);
    for (int attempt = 0; attempt < 200; ++attempt) {
        const int port = std::uniform_int_distribution<int>(20000, 49999)(random);
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_ANY);
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        const bool free = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        ::close(fd);
        if (free && port != avoid)
            return port;
    }
    return 0;
}

// Receivers come and go while the camera paints, control requests and configurations cross the
// connection and the sender's settings change under them; every receiver gets frames, every request is
// answered or given up within its wait, and the sender ends each stream.
TEST(RemoteVideoConcurrencyTest, ReceiversComeAndGoWhileRequestsAndFramesFlow)
{
    RemoteVideoTestCamera camera;
    LiveStreamingAlgorithm sender(camera);
    const int videoPort = freePort(0);
    const int controlPort = freePort(videoPort);
    sender.setEncoderId(VideoEncoder::Codec::Mpeg4);
    ASSERT_TRUE(sender.setVideoTransferPort(videoPort));
    ASSERT_TRUE(sender.setControlTransferPort(controlPort));
    sender.compute();
    ASSERT_TRUE(sender.isServerRunning());
    ASSERT_TRUE(camera.start());

    for (int cycle = 0; cycle < 4; ++cycle) {
        SCOPED_TRACE(cycle);
        RemoteVideoStream receiver;
        std::atomic<int> frames{0};
        receiver.signalStreamData.connect([&](std::shared_ptr<const StreamData>) { ++frames; });
        ASSERT_TRUE(receiver.tryConnect("127.0.0.1", videoPort, controlPort));

        std::atomic<bool> stop{false};
        std::atomic<int> answered{0};
        std::thread asking([&] {
            int round = 0;
            while (!stop.load()) {
                const std::any found = receiver.getSettings("Exposure");
                if (const auto* exposure =
                        std::any_cast<std::shared_ptr<VideoStreamSettings::Exposure>>(&found)) {
                    (*exposure)->setValue(5.0 + (round++ % 10));
                    ++answered;
                }
            }
        });
        std::thread configuring([&] {
            int value = 0;
            while (!stop.load()) {
                Properties change;
                change.setParam("pattern", ++value);
                receiver.configure(&change);
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        });
        EXPECT_TRUE(
            waitUntil([&] { return frames.load() >= 3 && answered.load() >= 3; }, std::chrono::seconds(30)));
        // Closing while requests may be in flight: they give up within their wait.
        EXPECT_TRUE(receiver.close());
        stop.store(true);
        asking.join();
        configuring.join();
        EXPECT_TRUE(waitUntil([&] { return !sender.isCurrentlyStreaming(); }, std::chrono::seconds(10)));
    }
    EXPECT_GE(camera.pattern.value(), 1);
    sender.stopServers();
    EXPECT_FALSE(sender.isServerRunning());
}

}  // namespace
}  // namespace Corvexis
