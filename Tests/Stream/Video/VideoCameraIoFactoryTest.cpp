#include "Stream/Video/VideoCameraIoFactory.h"

#include <gtest/gtest.h>

#include "Host/Core/Log.h"
#include "Host/Lib/Video/CameraDirectory.h"
#include "Stream/StreamAlgorithmFactory.h"
#include "Stream/StreamPlugin.h"
#include "Stream/Video/CameraBackends.h"
#include "Stream/Video/SyntheticCameraStream.h"
#include "Stream/Video/VideoStreamIoAlgorithm.h"

namespace Corvexis {
namespace {

constexpr const char* kCategory = "Stream.VideoStreamIoAlgorithm";
constexpr const char* kFallback = "Did not find requested format. Falling back to default format";

// Registers back-ends for one test and removes them afterwards, so tests do not see each other's.
class ScopedBackend
{
public:
    ScopedBackend(std::string name, VideoCameraIoFactory::EnumerateFunction enumerate,
                  VideoCameraIoFactory::CreateFunction create)
        : name_(std::move(name))
    {
        EXPECT_TRUE(
            VideoCameraIoFactory::get().registerBackend(name_, std::move(enumerate), std::move(create)));
    }
    ~ScopedBackend() { VideoCameraIoFactory::get().unregisterBackend(name_); }

private:
    std::string name_;
};

ScopedBackend syntheticBackend(const std::string& name = SyntheticCameraStream::kBackendName)
{
    return ScopedBackend(
        name, [] { return SyntheticCameraStream::enumerateDevices(); },
        [](const std::string& path) -> std::unique_ptr<VideoCameraStream> {
            return std::make_unique<SyntheticCameraStream>(path);
        });
}

bool contains(const std::vector<std::string>& names, const std::string& name)
{
    return std::find(names.begin(), names.end(), name) != names.end();
}

TEST(VideoCameraIoFactoryTest, RegistryListsOpensAndOmitsBackendsWithoutDevices)
{
    auto& factory = VideoCameraIoFactory::get();
    EXPECT_FALSE(factory.registerBackend(
        "", [] { return std::vector<VideoCameraIoFactory::DeviceInfo>{}; },
        [](const std::string&) { return nullptr; }));
    EXPECT_FALSE(factory.registerBackend(
        "NoCreate", [] { return std::vector<VideoCameraIoFactory::DeviceInfo>{}; }, nullptr));
    const auto synthetic = syntheticBackend("TestSynthetic");
    const ScopedBackend empty(
        "TestEmpty", [] { return std::vector<VideoCameraIoFactory::DeviceInfo>{}; },
        [](const std::string&) -> std::unique_ptr<VideoCameraStream> { return nullptr; });

    const auto all = factory.backends(false);
    EXPECT_TRUE(contains(all, "TestSynthetic"));
    EXPECT_TRUE(contains(all, "TestEmpty"));
    EXPECT_FALSE(contains(all, "NoCreate"));
    const auto withDevices = factory.backends(true);
    EXPECT_TRUE(contains(withDevices, "TestSynthetic"));
    EXPECT_FALSE(contains(withDevices, "TestEmpty"));

    const auto devices = factory.devices("TestSynthetic");
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[0].devicePath, "synthetic:0");
    EXPECT_TRUE(factory.devices("Nowhere").empty());
    EXPECT_EQ(factory.openDevice("Nowhere", "synthetic:0"), nullptr);
    auto camera = factory.openDevice("TestSynthetic", "synthetic:1");
    ASSERT_NE(camera, nullptr);
    EXPECT_EQ(camera->deviceInfo().displayString, "Synthetic Camera 1");
    EXPECT_EQ(camera->currentState(), Stream::State::Closed);
    // Registering a name again replaces it.
    EXPECT_TRUE(factory.registerBackend(
        "TestEmpty", [] { return SyntheticCameraStream::enumerateDevices(); },
        [](const std::string&) { return nullptr; }));
    EXPECT_TRUE(contains(factory.backends(true), "TestEmpty"));
}

// Format choice on synthetic:0: 0 640x480@30, 1 640x480@60, 2 1280x720@30, 3 320x240@30 RGB3,
// 4 320x240@30 YUYV.
class CameraFormatChoiceTest : public ::testing::Test
{
protected:
    // Runs camera mode with `settings` on top of backend Synthetic, device synthetic:0; returns the
    // chosen format's index (-1 when nothing was created) and leaves the log in capture_.
    int choose(const std::function<void(Properties&)>& settings)
    {
        VideoStreamIoAlgorithmHelper<true> io;
        Properties configuration;
        configuration.setParam("backend", "Synthetic");
        configuration.setParam("devicePath", "synthetic:0");
        settings(configuration);
        io.configure(&configuration);
        io.compute();
        OwningDataList output = io.takeOutput();
        if (io.status() != Algorithm::Status::Success || output.size() != 1)
            return -1;
        auto* camera = dynamic_cast<VideoCameraStream*>(output[0]);
        EXPECT_NE(camera, nullptr);
        if (camera == nullptr)
            return -1;
        EXPECT_TRUE(camera->isRunning());
        EXPECT_EQ(camera->name(), "Synthetic Camera 0");
        return camera->format().formatIndex;
    }

    ScopedBackend backend_ = syntheticBackend();
    Log::ScopedCapture capture_;
};

TEST_F(CameraFormatChoiceTest, WidthAloneTakesTheLargestHeightAndHighestRate)
{
    EXPECT_EQ(choose([](Properties& p) { p.setParam("width", 640); }), 1);
    EXPECT_EQ(choose([](Properties& p) {
                  p.setParam("width", 640);
                  p.setParam("fps", 30.0);
              }),
              0);
    // 29.6 is within 0.5 of 30; 29.4 is not, and with two candidates none remains.
    EXPECT_EQ(choose([](Properties& p) {
                  p.setParam("width", 640);
                  p.setParam("height", 480);
                  p.setParam("fps", 29.6);
              }),
              0);
    EXPECT_FALSE(capture_->contains(Log::Level::Warning, kCategory, kFallback));
    EXPECT_EQ(choose([](Properties& p) {
                  p.setParam("width", 640);
                  p.setParam("fps", 29.4);
              }),
              0);
    EXPECT_TRUE(capture_->contains(Log::Level::Warning, kCategory, kFallback));
}

TEST_F(CameraFormatChoiceTest, UnknownSizeFallsBackToTheFirstFormatWithTheWarning)
{
    EXPECT_EQ(choose([](Properties& p) { p.setParam("width", 800); }), 0);
    EXPECT_EQ(capture_->count(Log::Level::Warning, kCategory, kFallback), 1u);
    EXPECT_EQ(choose([](Properties& p) {
                  p.setParam("width", 1280);
                  p.setParam("height", 480);
              }),
              0);
    EXPECT_EQ(capture_->count(Log::Level::Warning, kCategory, kFallback), 2u);
    // A single candidate is taken even at another rate: the rate only decides between several.
    EXPECT_EQ(choose([](Properties& p) {
                  p.setParam("width", 1280);
                  p.setParam("fps", 60.0);
              }),
              2);
}

TEST_F(CameraFormatChoiceTest, CodecDecidesBetweenOtherwiseEqualFormats)
{
    auto size320 = [](Properties& p) {
        p.setParam("width", 320);
        p.setParam("height", 240);
    };
    EXPECT_EQ(choose(size320), 3);  // no codec: the first in the device's order
    EXPECT_EQ(choose([&](Properties& p) {
                  size320(p);
                  p.setParam("codec", "YUYV");
              }),
              4);
    EXPECT_EQ(choose([&](Properties& p) {
                  size320(p);
                  p.setParam("codec", "MJPG");  // none has it: all remain, the first is used
              }),
              3);
    EXPECT_FALSE(capture_->contains(Log::Level::Warning, kCategory, kFallback));
}

TEST_F(CameraFormatChoiceTest, FormatIndexWinsAndNoWidthMeansTheFirstFormat)
{
    EXPECT_EQ(choose([](Properties& p) {
                  p.setParam("formatIdx", 2);
                  p.setParam("width", 640);
              }),
              2);
    EXPECT_EQ(choose([](Properties&) {}), 0);
    EXPECT_EQ(choose([](Properties& p) { p.setParam("formatIdx", 5); }), 0);
    EXPECT_TRUE(capture_->contains(Log::Level::Warning, kCategory, kFallback));
    EXPECT_EQ(VideoStreamIoAlgorithm::chooseCameraFormat({}, -1, 640, 0, 0.0, ""), -1);
}

TEST_F(CameraFormatChoiceTest, UnopenableCamerasReportTheirMessages)
{
    EXPECT_EQ(choose([](Properties& p) { p.setParam("backend", "Nowhere"); }), -1);
    EXPECT_TRUE(capture_->contains(Log::Level::Error, kCategory, "Could not open video stream"));

    // A device without formats (the synthetic back-end creates one for a path it does not know).
    EXPECT_EQ(choose([](Properties& p) { p.setParam("devicePath", "synthetic:9"); }), -1);
    EXPECT_TRUE(
        capture_->contains(Log::Level::Error, kCategory, "Camera cannot be opened. No supported formats"));

    VideoStreamIoAlgorithmHelper<true> io;
    Properties unknownMode;
    unknownMode.setParam("mode", 3);
    io.configure(&unknownMode);
    EXPECT_TRUE(capture_->contains(Log::Level::Error, kCategory, "Unknown mode"));
    io.compute();
    EXPECT_EQ(io.status(), Algorithm::Status::Error);
    EXPECT_EQ(io.takeOutput().size(), 0u);
}

TEST_F(CameraFormatChoiceTest, DeviceIsFoundAcrossBackendsWhenNoBackendIsNamed)
{
    VideoStreamIoAlgorithmHelper<true> io;
    io.setDeviceUID("synthetic:1");
    io.compute();
    ASSERT_EQ(io.status(), Algorithm::Status::Success);
    OwningDataList output = io.takeOutput();
    ASSERT_EQ(output.size(), 1u);
    EXPECT_EQ(output[0]->name(), "Synthetic Camera 1");
    bool listed = false;
    for (const auto& entry : VideoStreamIoAlgorithm::enumerateCameraStreams())
        listed = listed || (entry.backend == "Synthetic" && entry.device.devicePath == "synthetic:1");
    EXPECT_TRUE(listed);
    EXPECT_EQ(VideoStreamIoAlgorithm::createCameraStream("synthetic:none"), nullptr);
}

TEST(CameraRegistrationTest, PluginRegistersTheBackendsAndTheCameraAlgorithm)
{
    StreamAlgorithmFactory algorithms;
    const auto entry = algorithms.entry("Stream.VideoStreamIoDevice");
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->menuPath, "IO;Streaming;Video Camera Stream");
    EXPECT_TRUE(algorithms.create("Stream.VideoStreamIoDevice", DataList()));

    {
        StreamPlugin plugin;
        ASSERT_EQ(plugin.init(), PluginBase::Status::Success);
        const auto backends = VideoCameraIoFactory::get().backends(false);
        EXPECT_TRUE(contains(backends, "Synthetic"));
        EXPECT_TRUE(contains(backends, "V4L2"));
        const auto published = CameraDirectory::get().devices("Synthetic");
        ASSERT_EQ(published.size(), 2u);
        EXPECT_EQ(published[0].path, "synthetic:0");
        ASSERT_EQ(published[0].formats.size(), 5u);
        EXPECT_EQ(published[0].formats[4].codec, "YUYV");
        EXPECT_EQ(published[0].formats[1].fps, 60.0);
    }
    // The plug-in's code may be unloaded after it is gone: nothing of it stays registered.
    EXPECT_FALSE(contains(VideoCameraIoFactory::get().backends(false), "Synthetic"));
    EXPECT_FALSE(contains(CameraDirectory::get().backends(), "V4L2"));
}

}  // namespace
}  // namespace Corvexis
