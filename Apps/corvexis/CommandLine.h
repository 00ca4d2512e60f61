#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace Corvexis {

// The parsed command line of the host application:
//   corvexis [--plugins DIR]... [--log-level N] COMMAND [ARGUMENT...] [KEY=VALUE...] [OPTIONS]
// Options may stand anywhere after the program name. The command and its arguments are checked against
// the CommandRegistry entry of the command. Caller synchronises.
class CommandLine
{
public:
    // The parsed line, or empty with *error holding one line that says what is wrong.
    static std::optional<CommandLine> parse(const std::vector<std::string>& arguments, std::string* error);
    // Every registered command with its arguments and summary.
    static std::string usage();

    // "help" for --help or -h.
    std::string command = "help";
    std::vector<std::string> arguments;  // after the command, settings left out
    std::vector<std::string> pluginDirectories;
    std::optional<int> logLevel;
    std::vector<std::pair<std::string, std::string>> settings;  // KEY=VALUE, in order
    std::string configFile;
    std::optional<double> seconds;
    std::vector<std::string> actions;
    std::string snapshotDirectory;
    std::string outputPath;  // --to
    bool loop = false;            // --loop
    std::optional<double> fps;    // --fps
    std::optional<double> speed;  // --speed
    std::string outDirectory;  // --out
    bool live = false;         // --live
    bool compress = false;     // --compress
    bool dicom = false;        // --dicom
};

}  // namespace Corvexis
