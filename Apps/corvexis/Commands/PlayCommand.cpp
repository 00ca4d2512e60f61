// corvexis play FILE [--seconds N] [--snapshot DIR]: a video file played as an image stream, with status
// lines, a summary and, when asked, a snapshot of the newest frame.

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <memory>
#include <string>

#include "Apps/corvexis/CommandLine.h"
#include "Apps/corvexis/CommandRegistry.h"
#include "Apps/corvexis/HostApplication.h"
#include "Apps/corvexis/Workspace.h"
#include "Apps/corvexis/WorkspaceRunner.h"
#include "Host/Core/PropertiesIO.h"

namespace Corvexis {
namespace {

// The extensions the video file stream plays.
bool isVideoFile(const std::string& path)
{
    std::string extension = std::filesystem::path(path).extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (const char* known : {".avi", ".mkv", ".mov", ".mp4", ".wmv", ".ogv", ".gif"})
        if (extension == known)
            return true;
    return false;
}

int play(HostApplication&, const CommandLine& line)
{
    const std::string& path = line.arguments.front();
    if (!std::filesystem::is_regular_file(path))
        return HostApplication::error("cannot play '" + path + "': no such file");
    if (!isVideoFile(path))
        return HostApplication::error("cannot play '" + path +
                                      "': only video files (avi, mkv, mov, mp4, wmv, ogv, gif) play so far; "
                                      "'corvexis info' shows what a recording holds");

    auto tree = std::make_unique<Properties>("Workspace");
    Properties* step = tree->addSubProperties("Step");
    step->setParamText("algorithm", "Stream.VideoStreamIoFile");
    step->setParamText("name", "video");
    auto settings = std::make_unique<Properties>("Settings");
    settings->setParam("filename", std::filesystem::absolute(path).string());

    std::string why;
    auto workspace =
        Workspace::parse(std::move(tree), PropertiesIO::SourceLines{}, "", &HostApplication::resolveAlgorithmId, &why);
    if (!workspace)
        return HostApplication::error(why);
    workspace->nameFileWithoutLine = false;
    workspace->steps.front().configuration = settings.get();
    WorkspaceRunner runner(*workspace);
    return runner.run(line.seconds, line.snapshotDirectory);
}

const CommandRegistration kPlay({.name = "play",
                                 .arguments = "FILE",
                                 .summary = "play a video file as an image stream and watch it",
                                 .argumentsHint = "one file",
                                 .minArguments = 1,
                                 .maxArguments = 1,
                                 .options = {"--seconds", "--snapshot"},
                                 .run = play});

}  // namespace
}  // namespace Corvexis
