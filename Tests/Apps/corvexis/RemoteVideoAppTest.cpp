// Two host-application processes stream video to each other over loopback: the shipped receiver
// workspace against a sender workspace that serves the simulated image stream.

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "Apps/corvexis/AppRunner.h"
#include "Support/TestUtil.h"

namespace Corvexis {
namespace {

using AppTest::runApp;
namespace fs = std::filesystem;

// Two different ports that were free a moment ago, inside the receiver's range (up to 50000).
std::pair<int, int> freePorts()
{
    const int video = Test::freePortBetween(20000, 49999);
    return {video, Test::freePortBetween(20000, 49999, video)};
}

bool listening(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    const bool up = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return up;
}

std::string readFile(const fs::path& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void replaceAll(std::string& text, const std::string& from, const std::string& to)
{
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

struct PngStats
{
    int width = 0;
    int height = 0;
    int channels = 0;
    std::vector<double> mean;    // per channel
    std::vector<double> spread;  // standard deviation per channel
};

// Decoded by the standard-library-only reader beside these tests, not by the Qt code that wrote it.
std::optional<PngStats> pngStats(const fs::path& path)
{
    const std::string command =
        "python3 " CORVEXIS_SOURCE_DIR "/Tests/Apps/corvexis/decode_png.py '" + path.string() + "'";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return std::nullopt;
    std::string text;
    char buffer[4096];
    std::size_t n = 0;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        text.append(buffer, n);
    if (pclose(pipe) != 0)
        return std::nullopt;
    std::istringstream in(text);
    PngStats stats;
    in >> stats.width >> stats.height >> stats.channels;
    if (stats.channels <= 0)
        return std::nullopt;
    std::vector<double> sum(static_cast<std::size_t>(stats.channels)), squares(sum.size());
    std::size_t count = 0;
    int v = 0;
    while (in >> v) {
        const std::size_t c = count++ % sum.size();
        sum[c] += v;
        squares[c] += static_cast<double>(v) * v;
    }
    const double pixels = static_cast<double>(count / sum.size());
    for (std::size_t c = 0; c < sum.size(); ++c) {
        stats.mean.push_back(sum[c] / pixels);
        stats.spread.push_back(std::sqrt(std::max(0.0, squares[c] / pixels - stats.mean[c] * stats.mean[c])));
    }
    return stats;
}

TEST(RemoteVideoAppTest, ReceiverWorkspaceShowsTheSendersPictureAndNoticesTheSenderKilled)
{
    if (std::system("python3 -c 'import zlib' >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "python3 with zlib is needed to decode the snapshots independently";
    const auto [videoPort, controlPort] = freePorts();
    const fs::path directory =
        fs::temp_directory_path() / ("corvexis-remote-video-" + std::to_string(::getpid()));
    fs::remove_all(directory);
    fs::create_directories(directory);

    // The shipped sender example serves the synthetic camera; where this build has no camera input yet,
    // a sender of the simulated image stream (RGB, so the encoder takes it) stands in for it.
    const bool haveCamera = runApp("show Stream.VideoStreamIoDevice", 60).code == 0;
    const int width = haveCamera ? 640 : 320;
    const int height = haveCamera ? 480 : 240;
    if (haveCamera) {
        std::string senderText = readFile(CORVEXIS_SOURCE_DIR "/examples/remote-video-sender.workspace");
        ASSERT_NE(senderText.find("VideoPort = 3888"), std::string::npos);
        replaceAll(senderText, "VideoPort = 3888", "VideoPort = " + std::to_string(videoPort));
        replaceAll(senderText, "ControlPort = 4051", "ControlPort = " + std::to_string(controlPort));
        std::ofstream(directory / "sender.workspace") << senderText;
    } else {
        std::ofstream(directory / "sender.workspace")
            << "Workspace {\n  Step {\n    name = camera\n    algorithm = Stream.CreateStreamIoFakeImage\n"
               "    Configuration {\n      width = 320\n      height = 240\n      channels = 3\n    }\n  }\n"
               "  Step {\n    algorithm = Stream.LiveStreamingAlgorithm\n    inputs = camera\n"
               "    Configuration {\n      Codec = 6\n      Preset = 2\n      VideoPort = "
            << videoPort << "\n      ControlPort = " << controlPort << "\n    }\n  }\n}\n";
    }
    std::string receiverText = readFile(CORVEXIS_SOURCE_DIR "/examples/remote-video-receiver.workspace");
    ASSERT_NE(receiverText.find("videoPort = 3888"), std::string::npos);
    replaceAll(receiverText, "videoPort = 3888", "videoPort = " + std::to_string(videoPort));
    replaceAll(receiverText, "controlPort = 4051", "controlPort = " + std::to_string(controlPort));
    replaceAll(receiverText, "seconds = 5", "seconds = 12");
    std::ofstream(directory / "receiver.workspace") << receiverText;

    // The sender is killed (no clean close) 10 s after its start; it snapshots nothing.
    AppTest::Result sender;
    std::thread sending([&] {
        sender = runApp("workspace " + (directory / "sender.workspace").string() + " --seconds 60", 60,
                        "timeout -s KILL 10 ");
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(8);
    while (!listening(videoPort) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const bool senderUp = listening(videoPort);
    const auto receiver = runApp("workspace " + (directory / "receiver.workspace").string() + " --snapshot " +
                                     (directory / "snapshots").string(),
                                 60);
    sending.join();
    ASSERT_TRUE(senderUp) << sender.output;

    EXPECT_EQ(receiver.code, 0) << receiver.output;
    EXPECT_NE(receiver.output.find("Remote video with resolution: w:" + std::to_string(width) +
                                   ", h:" + std::to_string(height)),
              std::string::npos)
        << receiver.output;
    EXPECT_NE(receiver.output.find("Lost the video channel"), std::string::npos) << receiver.output;
    EXPECT_NE(sender.output.find("Starting streaming to video client 127.0.0.1:"), std::string::npos)
        << sender.output;

    const auto picture = pngStats(directory / "snapshots" / "Remote_Camera_Stream.png");
    ASSERT_TRUE(picture) << receiver.output;
    EXPECT_EQ(picture->width, width);
    EXPECT_EQ(picture->height, height);
    ASSERT_EQ(picture->channels, 3);
    // A picture, not a blank frame; the simulated one is a reddish check pattern.
    EXPECT_GT(picture->spread[0] + picture->spread[1] + picture->spread[2], 10.0);
    if (!haveCamera) {
        EXPECT_GT(picture->mean[0], picture->mean[2] + 10.0);
    }
    fs::remove_all(directory);
}

}  // namespace
}  // namespace Corvexis
