#include "Stream/Video/V4l2CameraStream.h"

#include <gtest/gtest.h>

#include "Host/Core/Log.h"
#include "Stream/Video/CameraTestSupport.h"
#include "Support/TestUtil.h"

namespace Corvexis {
namespace {

using Test::FrameCollector;

TEST(V4l2CameraStreamTest, EnumerationWithoutDevicesIsEmptyAndQuiet)
{
    Log::ScopedCapture capture;
    const auto devices = V4l2CameraStream::enumerateDevices();
    EXPECT_FALSE(capture->containsFragment(Log::Level::Error, "Stream.V4l2CameraStream", ""));
    for (const auto& device : devices) {
        EXPECT_FALSE(device.devicePath.empty());
        for (const auto& format : device.formats) {
            EXPECT_GT(format.width, 0u);
            EXPECT_GT(format.height, 0u);
            EXPECT_FALSE(format.codec.empty());
        }
    }
    // A path that names no device gives a camera that cannot open.
    V4l2CameraStream missing("usb-nowhere-0");
    EXPECT_TRUE(missing.node().empty());
    EXPECT_FALSE(missing.open());
    EXPECT_FALSE(missing.getSettings("Exposure").has_value());
}

TEST(V4l2CameraStreamTest, RealDeviceDeliversRgbFrames)
{
    const auto devices = V4l2CameraStream::enumerateDevices();
    if (devices.empty())
        GTEST_SKIP() << "no Video4Linux2 capture device (/dev/video*) on this machine";
    const auto& device = devices.front();
    if (device.formats.empty())
        GTEST_SKIP() << device.displayString << " lists no capture formats";
    FrameCollector frames;
    V4l2CameraStream camera(device.devicePath);
    frames.attach(camera);
    ASSERT_FALSE(camera.node().empty());
    if (!camera.open())
        GTEST_SKIP() << "cannot open " << camera.node() << " (busy or no permission)";
    ASSERT_TRUE(camera.start());
    ASSERT_TRUE(Corvexis::Test::waitUntil([&] { return frames.count() >= 2; }, std::chrono::seconds(10)));
    const MemImage* image = frames.last().image->mem();
    EXPECT_EQ(image->channels(), 3);
    EXPECT_EQ(image->descriptor().pixelType, ImageDescriptor::kUByte);
    EXPECT_GT(image->width(), 0);
    ASSERT_TRUE(camera.stop());
    ASSERT_TRUE(camera.close());
}

}  // namespace
}  // namespace Corvexis
