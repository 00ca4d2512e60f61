#include "Stream/Video/RemoteVideoStream.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "Host/Core/Log.h"
#include "RemoteVideoTestCamera.h"
#include "Stream/Video/LiveStreamingAlgorithm.h"
#include "Support/TestUtil.h"

namespace Corvexis {
namespace {

using Test::RemoteVideoTestCamera;
using Test::waitUntil;

// A port that was free a moment ago, inside the range both ends accept (up to 50000).
int freePort(int avoid)
{
    return Test::freePortBetween(20000, 49999, avoid);
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
