#pragma once

#include <functional>
#include <string>
#include <vector>

namespace Corvexis {

class CommandLine;
class HostApplication;

// The commands of the host application. Each command lives in a file of its own under Commands/ and
// registers itself there with a static CommandRegistration, so adding a command means adding one file:
//
//     namespace {
//     int info(HostApplication& host, const CommandLine& line) { ... return 0; }
//     const CommandRegistration kInfo({.name = "info", .arguments = "FILE", .summary = "...",
//                                      .argumentsHint = "one file", .minArguments = 1, .maxArguments = 1,
//                                      .run = info});
//     }
//
// The command line is checked against the entry (argument count, KEY=VALUE settings, options) before
// run is called, with plug-ins loaded. Registration happens before main (static initialisation);
// lookups afterwards. Caller synchronises.
struct Command
{
    std::string name = {};       // "run"
    std::string arguments = {};  // usage of the arguments: "ID [KEY=VALUE ...]"
    std::string summary = {};    // one line for the usage text
    // How the argument count is explained in errors: "'show' takes one algorithm identifier" when the
    // count is fixed, else "'run' needs an algorithm identifier".
    std::string argumentsHint = {};
    int minArguments = 0;
    int maxArguments = 0;  // -1: no limit
    // Arguments after the first minArguments are KEY=VALUE settings.
    bool takesSettings = false;
    // With takesSettings: further arguments without '=' before the first setting are arguments too
    // ("record ID [ID ...] [KEY=VALUE ...]").
    bool repeatsArguments = false;
    // The options of the command ("--config", "--seconds", "--action", "--snapshot"); --plugins and
    // --log-level belong to every command.
    std::vector<std::string> options = {};
    // Plug-ins are loaded unless false.
    bool needsPlugins = true;
    // The process exit code.
    std::function<int(HostApplication& host, const CommandLine& line)> run = {};
};

class CommandRegistry
{
public:
    static CommandRegistry& get();

    // A second command of the same name is ignored.
    void add(Command command);
    // Null when unknown.
    const Command* find(const std::string& name) const;
    // Sorted by name.
    std::vector<const Command*> all() const;

private:
    CommandRegistry() = default;
    std::vector<Command> commands_;
};

// Registers a command during static initialisation.
struct CommandRegistration
{
    explicit CommandRegistration(Command command);
};

}  // namespace Corvexis
