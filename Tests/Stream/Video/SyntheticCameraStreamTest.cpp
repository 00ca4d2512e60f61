#include "Stream/Video/SyntheticCameraStream.h"

#include <gtest/gtest.h>

#include <any>
#include <cstring>

#include "Stream/Video/CameraPollingPeriod.h"
#include "Stream/Video/CameraTestSupport.h"
#include "Stream/Video/SyntheticCameraSensor.h"
#include "Stream/Video/VideoStreamSettings.h"
#include "Support/TestUtil.h"

namespace Corvexis {
namespace {

using namespace VideoStreamSettings;
using Corvexis::Test::waitUntil;
using Test::FrameCollector;

template <typename T>
std::shared_ptr<T> settingsOf(VideoCameraStream& camera)
{
    const std::any found = camera.getSettings(T::property_name);
    const auto* object = std::any_cast<std::shared_ptr<T>>(&found);
    return object != nullptr ? *object : nullptr;
}

// The small, fast device: 0 320x240@15, 1 160x120@30.
constexpr const char* kSmallCamera = "synthetic:1";

TEST(CameraPollingPeriodTest, PollsSlightlyFasterThanTheCameraDelivers)
{
    EXPECT_EQ(cameraPollingPeriod(30.0), std::chrono::microseconds(33'300));
    EXPECT_EQ(cameraPollingPeriod(60.0), std::chrono::microseconds(16'650));
    EXPECT_EQ(cameraPollingPeriod(29.97), std::chrono::microseconds(33'333));  // 33333.33 truncated
    EXPECT_EQ(cameraPollingPeriod(0.0), std::chrono::microseconds(100'000));
}

TEST(SyntheticCameraStreamTest, UnknownDeviceHasNoFormatsAndCannotOpen)
{
    SyntheticCameraStream camera("synthetic:7");
    EXPECT_TRUE(camera.deviceInfo().formats.empty());
    EXPECT_FALSE(camera.setFormat(0));
    EXPECT_FALSE(camera.open());
    EXPECT_EQ(camera.currentState(), Stream::State::Closed);
}

TEST(SyntheticCameraStreamTest, SetFormatRefusesAnIndexPastTheListAndKeepsTheFormat)
{
    SyntheticCameraStream camera("synthetic:0");
    const auto& formats = camera.deviceInfo().formats;
    ASSERT_EQ(formats.size(), 5u);
    EXPECT_EQ(camera.format(), formats[0]);
    ASSERT_TRUE(camera.setFormat(2));
    EXPECT_FALSE(camera.setFormat(static_cast<int>(formats.size())));
    EXPECT_FALSE(camera.setFormat(-1));
    EXPECT_EQ(camera.format(), formats[2]);
    // The last valid index is accepted.
    EXPECT_TRUE(camera.setFormat(static_cast<int>(formats.size()) - 1));
    EXPECT_EQ(camera.format().codec, "YUYV");
}

TEST(SyntheticCameraStreamTest, RunningCameraEmitsRgbFramesOfItsFormatAndSetFormatReopensIt)
{
    FrameCollector frames;
    SyntheticCameraStream camera(kSmallCamera);
    frames.attach(camera);
    ASSERT_TRUE(camera.setFormat(1));
    ASSERT_TRUE(camera.open());
    EXPECT_EQ(camera.sessionCount(), 1);
    ASSERT_TRUE(camera.start());
    ASSERT_TRUE(waitUntil([&] { return frames.count() >= 3; }));
    const MemImage* first = frames.last().image->mem();
    EXPECT_EQ(first->width(), 160);
    EXPECT_EQ(first->height(), 120);
    EXPECT_EQ(first->channels(), 3);
    EXPECT_EQ(first->descriptor().pixelType, ImageDescriptor::kUByte);

    // On an open (even running) camera the device is closed and reopened in the new format.
    ASSERT_TRUE(camera.setFormat(0));
    EXPECT_EQ(camera.sessionCount(), 2);
    EXPECT_TRUE(camera.isRunning());
    frames.clear();
    ASSERT_TRUE(waitUntil([&] { return frames.count() >= 2; }));
    EXPECT_EQ(frames.last().image->mem()->width(), 320);
    EXPECT_EQ(frames.last().image->mem()->height(), 240);

    // A refused index changes nothing, open or not.
    EXPECT_FALSE(camera.setFormat(2));
    EXPECT_EQ(camera.sessionCount(), 2);
    ASSERT_TRUE(camera.stop());
    ASSERT_TRUE(camera.close());
    // Closed: the format changes without a session.
    ASSERT_TRUE(camera.setFormat(1));
    EXPECT_EQ(camera.sessionCount(), 2);
}

TEST(SyntheticCameraStreamTest, StoppingJoinsTheCaptureThreadAndStartingAgainResumes)
{
    FrameCollector frames;
    SyntheticCameraStream camera(kSmallCamera);
    frames.attach(camera);
    ASSERT_TRUE(camera.setFormat(1));
    ASSERT_TRUE(camera.open());
    ASSERT_TRUE(camera.start());
    ASSERT_TRUE(waitUntil([&] { return frames.count() >= 2; }));
    ASSERT_TRUE(camera.stop());
    // Joined: nothing arrives after stop returned.
    const std::size_t afterStop = frames.count();
    EXPECT_FALSE(waitUntil([&] { return frames.count() > afterStop; }, std::chrono::milliseconds(150)));
    ASSERT_TRUE(camera.start());
    ASSERT_TRUE(waitUntil([&] { return frames.count() >= afterStop + 2; }));
    EXPECT_EQ(camera.sessionCount(), 1);
}

TEST(SyntheticCameraStreamTest, ExposureAndGainScaleTheBrightness)
{
    SyntheticCameraSensor sensor;
    sensor.setFormat(160, 120, 30.0);
    const double normal = Corvexis::Test::meanValue(SharedImage(sensor.render(5)));
    ASSERT_GT(normal, 60.0);
    ASSERT_TRUE(sensor.setExposure(50.0));
    const double half = Corvexis::Test::meanValue(SharedImage(sensor.render(5)));
    EXPECT_NEAR(half, normal / 2.0, 2.0);
    ASSERT_TRUE(sensor.setGain(2.0));
    EXPECT_NEAR(Corvexis::Test::meanValue(SharedImage(sensor.render(5))), normal, 1.0);
    // Out of the limits: refused, nothing changes.
    EXPECT_FALSE(sensor.setExposure(0.5));
    EXPECT_FALSE(sensor.setGain(9.0));
    EXPECT_DOUBLE_EQ(sensor.exposure(), 50.0);
    EXPECT_DOUBLE_EQ(sensor.gain(), 2.0);
    // The picture moves.
    const auto a = sensor.render(1);
    const auto b = sensor.render(2);
    EXPECT_NE(std::memcmp(a->pointer(), b->pointer(), a->byteSize()), 0);
}

TEST(SyntheticCameraStreamTest, RegionOfInterestCropsTheSensorAndIsCheckedAgainstItsLimits)
{
    SyntheticCameraSensor sensor;
    sensor.setFormat(320, 240, 30.0);
    const auto full = sensor.render(9);
    const Region region{40, 20, 100, 64};
    ASSERT_TRUE(sensor.setRegion(region));
    const auto cropped = sensor.render(9);
    ASSERT_EQ(cropped->width(), region.w);
    ASSERT_EQ(cropped->height(), region.h);
    for (int y = 0; y < region.h; y += 7)
        for (int x = 0; x < region.w; x += 5)
            for (int c = 0; c < 3; ++c)
                ASSERT_EQ(cropped->at(x, y, 0, c), full->at(region.x + x, region.y + y, 0, c))
                    << x << "," << y;

    EXPECT_FALSE(sensor.setRegion({41, 20, 100, 64}));       // off the step
    EXPECT_FALSE(sensor.setRegion({0, 0, 14, 64}));          // below the minimum size
    EXPECT_FALSE(sensor.setRegion({230, 0, 100, 64}));       // leaves the sensor
    EXPECT_FALSE(sensor.setRegion({2, 0, 2147483646, 64}));  // overflowing sum
    EXPECT_EQ(sensor.region(), region);
    EXPECT_TRUE(sensor.setRegion({220, 176, 100, 64}));  // touching the corner
    // A new format restores the whole sensor.
    sensor.setFormat(160, 120, 30.0);
    EXPECT_EQ(sensor.region(), (Region{0, 0, 160, 120}));
    EXPECT_EQ(sensor.regionMaximum(), (Region{144, 104, 160, 120}));
}

TEST(SyntheticCameraStreamTest, SettingsObjectsChangeTheEmittedFrames)
{
    FrameCollector frames;
    SyntheticCameraStream camera(kSmallCamera);
    frames.attach(camera);
    ASSERT_TRUE(camera.setFormat(1));
    const auto exposure = settingsOf<Exposure>(camera);
    const auto roi = settingsOf<RegionOfInterest>(camera);
    ASSERT_TRUE(exposure && roi && settingsOf<Gain>(camera) && settingsOf<Framerate>(camera));
    EXPECT_FALSE(camera.getSettings("Brightness").has_value());
    EXPECT_DOUBLE_EQ(exposure->value(), 100.0);
    EXPECT_EQ(roi->maximum(), (Region{144, 104, 160, 120}));

    ASSERT_TRUE(camera.open());
    ASSERT_TRUE(camera.start());
    ASSERT_TRUE(waitUntil([&] { return frames.count() >= 2; }));
    const double before = Corvexis::Test::meanValue(*frames.last().image);
    ASSERT_TRUE(exposure->setValue(25.0));
    ASSERT_TRUE(roi->setRegion({16, 16, 64, 32}));
    frames.clear();
    ASSERT_TRUE(waitUntil([&] { return frames.count() >= 2; }));
    const auto after = frames.last().image;
    EXPECT_EQ(after->mem()->width(), 64);
    EXPECT_EQ(after->mem()->height(), 32);
    EXPECT_LT(Corvexis::Test::meanValue(*after), before * 0.5);
    // The objects share the sensor: they outlive the camera's use of them.
    camera.close();
    EXPECT_DOUBLE_EQ(exposure->value(), 25.0);
}

TEST(SyntheticCameraStreamTest, FramerateSettingChangesTheEmissionRate)
{
    FrameCollector frames;
    SyntheticCameraStream camera(kSmallCamera);
    frames.attach(camera);
    ASSERT_TRUE(camera.setFormat(1));  // 30 fps
    const auto rate = settingsOf<Framerate>(camera);
    ASSERT_TRUE(rate);
    EXPECT_DOUBLE_EQ(rate->maximum(), 30.0);
    EXPECT_FALSE(rate->setValue(31.0));
    EXPECT_FALSE(rate->setValue(0.5));
    ASSERT_TRUE(rate->setValue(4.0));
    ASSERT_TRUE(camera.open());
    ASSERT_TRUE(camera.start());
    ASSERT_TRUE(waitUntil([&] { return frames.count() >= 1; }));
    // A slow machine can only deliver fewer frames, never more: the bound holds however busy it is.
    const auto start = std::chrono::steady_clock::now();
    const std::size_t atStart = frames.count();
    waitUntil([] { return false; }, std::chrono::milliseconds(1000));
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LE(static_cast<double>(frames.count() - atStart), 4.0 * seconds + 1.0);

    // Back at 30 fps, 12 frames come far sooner than 4 fps would allow (3 s).
    ASSERT_TRUE(rate->setValue(30.0));
    const auto fastStart = std::chrono::steady_clock::now();
    const std::size_t fastFrom = frames.count();
    ASSERT_TRUE(waitUntil([&] { return frames.count() >= fastFrom + 12; }));
    EXPECT_LT(std::chrono::steady_clock::now() - fastStart, std::chrono::milliseconds(2900));
}

TEST(SyntheticCameraStreamTest, TryApplyRefusesSingleValuesWhileForceBringsThemWithinLimits)
{
    SyntheticCameraStream camera(kSmallCamera);  // format 0: 320x240@15
    Properties request("anything");
    request.addSubProperties("Exposure")->setParam("value", 5000.0);
    request.addSubProperties("Gain")->setParam("value", 3.0);
    auto* region = request.addSubProperties("RegionOfInterest");
    region->setParam("x", 301);
    region->setParam("y", 0);
    region->setParam("w", 33);
    region->setParam("h", 1000);
    request.addSubProperties("Whitebalance")->setParam("value", 1.0);

    const Properties tried = camera.tryApplySettings(&request);
    EXPECT_EQ(tried.name(), "");
    ASSERT_NE(tried.subProperties("Exposure"), nullptr);
    EXPECT_FALSE(tried.subProperties("Exposure")->param("applied", true));
    EXPECT_DOUBLE_EQ(tried.subProperties("Exposure")->param("value", 0.0), 100.0);
    EXPECT_TRUE(tried.subProperties("Gain")->param("applied", false));
    EXPECT_DOUBLE_EQ(tried.subProperties("Gain")->param("value", 0.0), 3.0);
    EXPECT_FALSE(tried.subProperties("RegionOfInterest")->param("applied", true));
    EXPECT_EQ(tried.subProperties("RegionOfInterest")->param("w", 0), 320);
    EXPECT_EQ(tried.subProperties("RegionOfInterest")->param("Maximum/w", 0), 320);
    EXPECT_EQ(tried.subProperties("Framerate"), nullptr);  // not asked for
    EXPECT_EQ(tried.subProperties("Whitebalance"), nullptr);

    const Properties forced = camera.forceApplySettings(&request);
    EXPECT_TRUE(forced.subProperties("Exposure")->param("applied", false));
    EXPECT_DOUBLE_EQ(forced.subProperties("Exposure")->param("value", 0.0), 1000.0);
    const Properties* forcedRegion = forced.subProperties("RegionOfInterest");
    EXPECT_TRUE(forcedRegion->param("applied", false));
    // Width snapped to the step, height clamped to the sensor, corner moved so the region fits.
    EXPECT_EQ(forcedRegion->param("w", 0), 32);
    EXPECT_EQ(forcedRegion->param("h", 0), 240);
    EXPECT_EQ(forcedRegion->param("x", -1), 288);
    EXPECT_EQ(forcedRegion->param("y", -1), 0);
    EXPECT_EQ(settingsOf<RegionOfInterest>(camera)->region(), (Region{288, 0, 32, 240}));
    EXPECT_TRUE(camera.tryApplySettings(nullptr).empty());
}

}  // namespace
}  // namespace Corvexis
