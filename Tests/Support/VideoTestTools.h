#pragma once

// Helpers for tests that check our video code against the ffmpeg and ffprobe programs: making clips,
// probing files and decoding them to raw RGB with FFmpeg's own command-line tools.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "Host/Core/TypedImage.h"

namespace Corvexis::Test {

// Runs a shell command and returns its standard output; `status` receives the exit status.
inline std::string runCommand(const std::string& command, int* status = nullptr)
{
    std::string output;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        if (status != nullptr)
            *status = -1;
        return output;
    }
    char chunk[4096];
    std::size_t n = 0;
    while ((n = std::fread(chunk, 1, sizeof(chunk), pipe)) > 0)
        output.append(chunk, n);
    const int rc = ::pclose(pipe);
    if (status != nullptr)
        *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return output;
}

inline bool haveProgram(const std::string& name)
{
    int status = 0;
    runCommand("command -v " + name + " >/dev/null 2>&1", &status);
    return status == 0;
}

// Whether the installed ffmpeg program offers this encoder.
inline bool ffmpegHasEncoder(const std::string& name)
{
    int status = 0;
    const std::string out = runCommand("ffmpeg -hide_banner -encoders 2>/dev/null", &status);
    return status == 0 && out.find(" " + name + " ") != std::string::npos;
}

// A fresh directory for this test's files, removed by the destructor.
class ScratchDir
{
public:
    ScratchDir()
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string leaf =
            std::string(info ? info->test_suite_name() : "video") + "_" + (info ? info->name() : "x");
        for (char& c : leaf)
            if (c == '/')
                c = '_';
        path_ =
            std::filesystem::path(::testing::TempDir()) / ("cvx_" + std::to_string(::getpid()) + "_" + leaf);
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~ScratchDir()
    {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

// Makes a clip of FFmpeg's test pattern (it shows a frame counter) with the given output options.
// Returns ffmpeg's error text, empty on success.
inline std::string makeTestClip(const std::string& path, int width, int height, int fps, int frames,
                                const std::string& outputOptions)
{
    std::ostringstream cmd;
    cmd << "ffmpeg -nostdin -y -loglevel error -f lavfi -i testsrc=size=" << width << "x" << height
        << ":rate=" << fps << " -frames:v " << frames << " " << outputOptions << " '" << path << "' 2>&1";
    int status = 0;
    const std::string out = runCommand(cmd.str(), &status);
    return status == 0 ? std::string() : (out.empty() ? std::string("ffmpeg failed") : out);
}

// ffprobe's view of the first video stream: codec_name, width, height, avg_frame_rate, nb_read_frames...
inline std::map<std::string, std::string> probeVideo(const std::string& path)
{
    const std::string out = runCommand(
        "ffprobe -v error -count_frames -select_streams v:0 -show_entries "
        "stream=codec_name,width,height,avg_frame_rate,r_frame_rate,nb_read_frames,pix_fmt -of default=nw=1 "
        "'" +
        path + "' 2>/dev/null");
    std::map<std::string, std::string> values;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        const auto eq = line.find('=');
        if (eq != std::string::npos)
            values[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return values;
}

// "30000/1001" -> 29.97; 0 for "0/0" or text that is not a ratio.
inline double parseRate(const std::string& text)
{
    double num = 0.0;
    double den = 1.0;
    char slash = 0;
    std::istringstream in(text);
    if (!(in >> num))
        return 0.0;
    if (in >> slash >> den && slash == '/' && den != 0.0)
        return num / den;
    return slash == 0 ? num : 0.0;
}

// Every frame of the file decoded by the ffmpeg program as packed RGB24, back to back.
inline std::vector<std::uint8_t> ffmpegRawRgb(const std::string& path, const std::string& rawPath)
{
    int status = 0;
    runCommand("ffmpeg -nostdin -y -loglevel error -i '" + path +
                   "' -map 0:v:0 -f rawvideo -pix_fmt rgb24 '" + rawPath + "' 2>&1",
               &status);
    if (status != 0)
        return {};
    std::ifstream in(rawPath, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Peak signal-to-noise ratio of two byte runs of equal length, in dB (99 for identical runs).
inline double psnr(const std::uint8_t* a, const std::uint8_t* b, std::size_t n)
{
    double sum = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double d = static_cast<double>(a[i]) - static_cast<double>(b[i]);
        sum += d * d;
    }
    if (sum == 0.0)
        return 99.0;
    return 10.0 * std::log10(255.0 * 255.0 / (sum / static_cast<double>(n)));
}

// Largest absolute difference of two byte runs of equal length.
inline int maxDifference(const std::uint8_t* a, const std::uint8_t* b, std::size_t n)
{
    int worst = 0;
    for (std::size_t i = 0; i < n; ++i)
        worst = std::max(worst, std::abs(static_cast<int>(a[i]) - static_cast<int>(b[i])));
    return worst;
}

// A smooth picture (gradients) with a square that moves with `index`, so that consecutive frames
// differ and a lossy codec keeps a known quality. Channels 1 to 4; the fourth is 255.
inline std::unique_ptr<TypedImage<std::uint8_t>> makePatternFrame(int width, int height, int channels,
                                                                  int index)
{
    auto image = TypedImage<std::uint8_t>::create(width, height, 1, channels);
    const int side = std::max(8, width / 8);
    const int left = (index * 4) % std::max(1, width - side);
    const int top = height / 4;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const bool square = x >= left && x < left + side && y >= top && y < top + side;
            const std::uint8_t values[4] = {
                static_cast<std::uint8_t>(square ? 230 : x * 255 / width),
                static_cast<std::uint8_t>(square ? 40 : y * 255 / height),
                static_cast<std::uint8_t>(square ? 60 : (x + y) * 127 / (width + height) + 64), 255};
            for (int c = 0; c < channels; ++c)
                image->at(x, y, 0, c) = values[c];
        }
    return image;
}

}  // namespace Corvexis::Test
