// corvexis play FILE [--loop] [--fps N | --speed S] [--seconds N] [--snapshot DIR]: a video file played as
// an image stream, or a recording (.cvx data file, .bin live image file) whose every image set and
// tracking sequence is played as a live stream with its recorded timing; with status lines, summaries
// and, when asked, snapshots of what was played last.

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Apps/corvexis/CommandLine.h"
#include "Apps/corvexis/CommandRegistry.h"
#include "Apps/corvexis/HostApplication.h"
#include "Apps/corvexis/Workspace.h"
#include "Apps/corvexis/WorkspaceRunner.h"
#include "Host/Core/PropertiesIO.h"
#include "Host/Core/TrackingSequence.h"
#include "Host/Lib/Files/FileCommands.h"
#include "Host/Lib/SharedImageSet.h"

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

int playVideo(const std::string& path, const CommandLine& line)
{
    auto tree = std::make_unique<Properties>("Workspace");
    Properties* step = tree->addSubProperties("Step");
    step->setParamText("algorithm", "Stream.VideoStreamIoFile");
    step->setParamText("name", "video");
    auto settings = std::make_unique<Properties>("Settings");
    settings->setParam("filename", std::filesystem::absolute(path).string());

    std::string why;
    auto workspace = Workspace::parse(std::move(tree), PropertiesIO::SourceLines{}, "",
                                      &HostApplication::resolveAlgorithmId, &why);
    if (!workspace)
        return HostApplication::error(why);
    workspace->nameFileWithoutLine = false;
    workspace->steps.front().configuration = settings.get();
    WorkspaceRunner runner(*workspace);
    return runner.run(line.seconds, line.snapshotDirectory);
}

// How long one play-out of an item lasts at the chosen rate or speed, in seconds.
double playOutSeconds(const std::vector<double>& timesSec, const CommandLine& line)
{
    const auto frames = static_cast<double>(timesSec.size());
    if (line.fps)
        return frames / *line.fps;
    double span = 0.0;
    if (timesSec.size() > 1)
        span = (timesSec.back() - timesSec.front()) * frames / (frames - 1.0);
    else
        span = frames / 30.0;
    return span / line.speed.value_or(1.0);
}

// What a recording offers for play-out: the item indices of its image sets and tracking sequences, and
// the longest play-out among them.
struct Playable
{
    std::vector<size_t> items;
    double longestSeconds = 0.0;
};

Playable findPlayable(const OwningDataList& items, const CommandLine& line)
{
    Playable playable;
    for (size_t k = 0; k < items.size(); ++k) {
        std::vector<double> times;
        if (auto* set = dynamic_cast<const SharedImageSet*>(items[k]); set != nullptr && !set->empty()) {
            for (int i = 0; i < set->size(); ++i)
                times.push_back(set->timestamp(i).value_or(i * 1000.0 / 30.0) / 1000.0);
        } else if (auto* sequence = dynamic_cast<const TrackingSequence*>(items[k]);
                   sequence != nullptr && !sequence->empty()) {
            for (int i = 0; i < sequence->size(); ++i)
                times.push_back(sequence->hasTimestamps() ? sequence->timestamp(i) : i / 30.0);
        } else {
            continue;
        }
        playable.items.push_back(k);
        playable.longestSeconds = std::max(playable.longestSeconds, playOutSeconds(times, line));
    }
    return playable;
}

// A live image file holds only the frames; a live recording keeps its tracking in the data file of the
// same name beside it ("recording_1.bin" and "recording_1.cvx"). Empty when there is none.
std::string companionDataFile(const std::string& path)
{
    std::filesystem::path file(path);
    std::string name = file.filename().string();
    for (const char* suffix : {".bin.part", ".bin"}) {
        const std::string s(suffix);
        if (name.size() > s.size() && name.compare(name.size() - s.size(), s.size(), s) == 0) {
            const auto companion = file.parent_path() / (name.substr(0, name.size() - s.size()) + ".cvx");
            std::error_code ec;
            return std::filesystem::is_regular_file(companion, ec) ? companion.string() : std::string();
        }
    }
    return {};
}

int playRecording(const std::string& path, const CommandLine& line)
{
    // The files played: the one given and, for a live image file, the data file with its tracking.
    struct Source
    {
        std::string path;
        size_t itemCount = 0;
        Playable playable;
    };
    std::vector<Source> sources;
    std::string why;
    double longestSeconds = 0.0;
    for (const std::string& file : {path, companionDataFile(path)}) {
        if (file.empty())
            continue;
        std::optional<OwningDataList> items = Files::loadDataFile(file, &why);
        if (!items)
            return HostApplication::error("cannot play '" + file + "': " + why);
        Source source{file, items->size(), findPlayable(*items, line)};
        longestSeconds = std::max(longestSeconds, source.playable.longestSeconds);
        sources.push_back(std::move(source));  // the workspace loads the file again, as its first steps
    }
    if (sources.front().playable.items.empty())
        return HostApplication::error("cannot play '" + path +
                                      "': it holds no image set or tracking sequence to play");
    if (sources.size() > 1 && !sources.back().playable.items.empty())
        std::cout << "Playing the tracking of " << sources.back().path << " with " << path << "\n";

    // Per file a step that loads it ("file", and "tracking" for the companion), then one playback step
    // per image set (a tracked set with its tracking, synchronised) and per tracking sequence. The given
    // file's items and steps are named "item<k>" and "play<k>"; the companion's get the prefix
    // "tracking-".
    auto tree = std::make_unique<Properties>("Workspace");
    std::vector<std::string> playSteps;
    std::vector<std::string> loadedFiles;
    for (size_t f = 0; f < sources.size(); ++f) {
        const std::string prefix = f == 0 ? "" : "tracking-";
        Properties* load = tree->addSubProperties("Step");
        load->setParamText("algorithm", "Host.LoadFile");
        load->setParamText("name", f == 0 ? "file" : "tracking");
        std::string outputs;
        for (size_t k = 0; k < sources[f].itemCount; ++k)
            outputs += (k == 0 ? "" : " ") + prefix + "item" + std::to_string(k + 1);
        load->setParamText("outputs", outputs);
        loadedFiles.push_back(sources[f].path);
    }
    for (size_t f = 0; f < sources.size(); ++f) {
        const std::string prefix = f == 0 ? "" : "tracking-";
        for (size_t k : sources[f].playable.items) {
            Properties* step = tree->addSubProperties("Step");
            step->setParamText("algorithm", "Stream.Playback");
            playSteps.push_back(prefix + "play" + std::to_string(k + 1));
            step->setParamText("name", playSteps.back());
            step->setParamText("inputs", prefix + "item" + std::to_string(k + 1));
        }
    }
    // The streams are created with a delayed start and started once they are watched, so that the
    // status and summaries count the first frame too.
    Properties* timeline = tree->addSubProperties("Timeline");
    for (const std::string& name : playSteps) {
        Properties* action = timeline->addSubProperties("Action");
        action->setParamText("at", "0.001");
        action->setParamText("request", "start");
        action->setParamText("output", name);
    }

    std::vector<std::unique_ptr<Properties>> settings;
    for (const std::string& file : loadedFiles) {
        auto loadSettings = std::make_unique<Properties>("Settings");
        loadSettings->setParam("filename", std::filesystem::absolute(file).string());
        settings.push_back(std::move(loadSettings));
    }
    for (size_t n = 0; n < playSteps.size(); ++n) {
        auto playSettings = std::make_unique<Properties>("Settings");
        playSettings->setParam("Loop", line.loop);
        playSettings->setParam("Delay Start", true);
        if (line.fps)
            playSettings->setParam("Fps", *line.fps);
        if (line.speed)
            playSettings->setParam("Speed Factor", *line.speed);
        settings.push_back(std::move(playSettings));
    }

    auto workspace = Workspace::parse(std::move(tree), PropertiesIO::SourceLines{}, "",
                                      &HostApplication::resolveAlgorithmId, &why);
    if (!workspace)
        return HostApplication::error(why);
    workspace->nameFileWithoutLine = false;
    for (size_t i = 0; i < workspace->steps.size() && i < settings.size(); ++i)
        workspace->steps[i].configuration = settings[i].get();

    // Played once, the run ends when every stream has played to its end, or at the latest well after
    // the longest play-out should have ended (a stalled machine); looped, it runs until stopped.
    std::optional<double> seconds = line.seconds;
    const bool untilEnded = !seconds && !line.loop;
    if (untilEnded)
        seconds = 2.0 * longestSeconds + 10.0;
    WorkspaceRunner runner(*workspace);
    return runner.run(seconds, line.snapshotDirectory, untilEnded);
}

int play(HostApplication&, const CommandLine& line)
{
    const std::string& path = line.arguments.front();
    if (!std::filesystem::is_regular_file(path))
        return HostApplication::error("cannot play '" + path + "': no such file");
    if (line.fps && line.speed)
        return HostApplication::error("--fps and --speed exclude each other: give one");
    if (isVideoFile(path)) {
        if (line.loop || line.fps || line.speed)
            return HostApplication::error(
                "cannot play '" + path +
                "' with --loop, --fps or --speed: they apply to recordings (.cvx, .bin)");
        return playVideo(path, line);
    }
    return playRecording(path, line);
}

const CommandRegistration kPlay(
    {.name = "play",
     .arguments = "FILE",
     .summary = "play a recording (.cvx, .bin) or a video file as live streams and watch them",
     .argumentsHint = "one file",
     .minArguments = 1,
     .maxArguments = 1,
     .options = {"--loop", "--fps", "--speed", "--seconds", "--snapshot"},
     .run = play});

}  // namespace
}  // namespace Corvexis
