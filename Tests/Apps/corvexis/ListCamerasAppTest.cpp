// 'corvexis list-cameras' and the camera input algorithm, run end to end in the built host application.

#include <unistd.h>

#include <filesystem>
#include <regex>
#include <string>

#include <gtest/gtest.h>

#include "Apps/corvexis/AppRunner.h"

namespace Corvexis {
namespace {

using AppTest::runApp;

const std::string kStreamPlugin = "--log-level 3 --plugins " CORVEXIS_STREAM_PLUGIN_DIR " ";

TEST(ListCamerasAppTest, ListsEveryBackendWithDevicesAndNumberedFormats)
{
    const auto r = runApp(kStreamPlugin + "list-cameras");
    ASSERT_EQ(r.code, 0) << r.output;
    EXPECT_NE(r.output.find("Back-end Synthetic: 2 devices"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("\"Synthetic Camera 0\"  devicePath=synthetic:0"), std::string::npos);
    EXPECT_TRUE(std::regex_search(r.output, std::regex(R"(formatIdx=1 +640x480 +60 fps +RGB3 +24 bpp)")))
        << r.output;
    EXPECT_TRUE(std::regex_search(r.output, std::regex(R"(formatIdx=4 +320x240 +30 fps +YUYV +16 bpp)")));
    // Listed even without devices, before or after Synthetic by name.
    EXPECT_TRUE(std::regex_search(r.output, std::regex(R"(Back-end V4L2: [0-9]+ devices?)")));

    const auto one = runApp(kStreamPlugin + "list-cameras Synthetic");
    ASSERT_EQ(one.code, 0) << one.output;
    EXPECT_EQ(one.output.find("V4L2"), std::string::npos) << one.output;

    const auto unknown = runApp(kStreamPlugin + "list-cameras Nowhere");
    EXPECT_NE(unknown.code, 0);
    EXPECT_NE(unknown.output.find("corvexis: unknown camera back-end 'Nowhere' (known: Synthetic, V4L2)"),
              std::string::npos)
        << unknown.output;
}

TEST(ListCamerasAppTest, CameraAlgorithmStreamsTheChosenFormatIntoASnapshot)
{
    const auto directory =
        std::filesystem::temp_directory_path() / ("corvexis-camera-snapshot-" + std::to_string(::getpid()));
    std::filesystem::remove_all(directory);
    const auto r = runApp(kStreamPlugin +
                          "run VideoStreamIoDevice backend=Synthetic devicePath=synthetic:1 width=160 "
                          "--seconds 1 --snapshot " +
                          directory.string());
    ASSERT_EQ(r.code, 0) << r.output;
    EXPECT_NE(r.output.find("Live video with resolution 160x120, 30"), std::string::npos) << r.output;
    std::smatch records;
    ASSERT_TRUE(
        std::regex_search(r.output, records, std::regex("Summary Synthetic Camera 1: ([0-9]+) records")))
        << r.output;
    EXPECT_GT(std::stoi(records[1]), 0);
    EXPECT_TRUE(std::filesystem::exists(directory / "Synthetic_Camera_1.png"));
    std::filesystem::remove_all(directory);
}

}  // namespace
}  // namespace Corvexis
