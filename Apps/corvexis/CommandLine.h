#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace Corvexis {

// The parsed command line of the host application:
//   corvexis [--plugins DIR]... [--log-level N] COMMAND ...
//   list | show ID | run ID [KEY=VALUE ...] [--config FILE] [--seconds N] [--action NAME ...] | demo
// Options may stand anywhere after the program name. Caller synchronises.
class CommandLine
{
public:
    enum class Command
    {
        Help,
        List,
        Show,
        Run,
        Demo,
    };

    // The parsed line, or empty with *error holding one line that says what is wrong.
    static std::optional<CommandLine> parse(const std::vector<std::string>& arguments, std::string* error);
    static std::string usage();

    Command command = Command::Help;
    std::vector<std::string> pluginDirectories;
    std::optional<int> logLevel;
    std::string algorithmId;
    std::vector<std::pair<std::string, std::string>> settings;  // KEY=VALUE, in order
    std::string configFile;
    std::optional<double> seconds;
    std::vector<std::string> actions;
};

}  // namespace Corvexis
