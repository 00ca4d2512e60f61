#include "Stream/Video/SyntheticCameraStream.h"

#include <gtest/gtest.h>

#include <any>
#include <atomic>
#include <thread>

#include "Stream/Video/CameraTestSupport.h"
#include "Stream/Video/VideoStreamSettings.h"
#include "Support/TestUtil.h"

namespace Corvexis {
namespace {

using namespace VideoStreamSettings;

// Format changes, setting changes and stop/start from three threads while the capture thread emits:
// every frame is whole (its size is one the camera could have had), and the camera still works after.
TEST(SyntheticCameraConcurrencyTest, FormatsSettingsAndTransitionsRaceWithCapture)
{
    Corvexis::Test::FrameCollector frames;
    SyntheticCameraStream camera("synthetic:1");  // 0 320x240@15, 1 160x120@30
    frames.attach(camera);
    ASSERT_TRUE(camera.setFormat(1));
    ASSERT_TRUE(camera.open());
    ASSERT_TRUE(camera.start());

    const auto exposure = std::any_cast<std::shared_ptr<Exposure>>(camera.getSettings("Exposure"));
    const auto roi = std::any_cast<std::shared_ptr<RegionOfInterest>>(camera.getSettings("RegionOfInterest"));
    const auto rate = std::any_cast<std::shared_ptr<Framerate>>(camera.getSettings("Framerate"));

    std::atomic<bool> done{false};
    std::thread formats([&] {
        for (int i = 0; !done.load(); ++i) {
            EXPECT_TRUE(camera.setFormat(i % 2));
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    std::thread settings([&] {
        for (int i = 0; !done.load(); ++i) {
            exposure->setValue(10.0 + i % 100);
            roi->setRegion({0, 0, 32 + 2 * (i % 8), 32});  // may be refused right after a format change
            rate->setValue(10.0 + i % 5);
            camera.tryApplySettings(nullptr);
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
        }
    });
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(1000);
    while (std::chrono::steady_clock::now() < end) {
        camera.stop();
        camera.start();
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
    done.store(true);
    formats.join();
    settings.join();

    for (const auto& frame : frames.frames()) {
        const MemImage* image = frame.image->mem();
        const bool fullFrame = (image->width() == 160 && image->height() == 120) ||
                               (image->width() == 320 && image->height() == 240);
        const bool region = image->height() == 32 && image->width() >= 32 && image->width() <= 46;
        EXPECT_TRUE(fullFrame || region) << image->width() << "x" << image->height();
        EXPECT_EQ(image->channels(), 3);
    }
    // Still working: a fresh start delivers.
    camera.stop();
    ASSERT_TRUE(camera.start());
    const std::size_t before = frames.count();
    EXPECT_TRUE(Corvexis::Test::waitUntil([&] { return frames.count() > before + 1; }));
    EXPECT_TRUE(camera.close());
}

}  // namespace
}  // namespace Corvexis
