#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Apps/corvexis/CommandLine.h"
#include "Host/Core/Properties.h"

namespace Corvexis {

class PluginLoader;

// The commands of the headless host. Runs on the main thread, which owns the QCoreApplication (created
// by main before exec). Every failure gives one line on stderr, starting with "corvexis: ", and a
// non-zero exit code; results go to stdout. Caller synchronises.
class HostApplication
{
public:
    HostApplication();
    ~HostApplication();
    HostApplication(const HostApplication&) = delete;
    HostApplication& operator=(const HostApplication&) = delete;

    // The process exit code.
    int exec(const CommandLine& line);

    // Identifiers near `wanted` among `known` (edit distance or containment), best first, at most three.
    static std::vector<std::string> closeMatches(const std::string& wanted,
                                                 const std::vector<std::string>& known);

private:
    bool loadPlugins(const CommandLine& line);
    int list();
    int show(const std::string& id);
    // One algorithm to run: its identifier and its settings.
    struct Job
    {
        std::string id;
        Properties settings;
    };
    int run(const CommandLine& line, const std::string& id);
    int demo(const CommandLine& line);
    // Computes every job, runs the actions (when there is one job), watches the output streams for
    // `seconds` (until interrupted when negative) and prints a summary per stream.
    int run(const std::vector<Job>& jobs, const std::vector<std::string>& actions, double seconds);
    // The file and KEY=VALUE settings of the command line; empty after reporting an unreadable file.
    std::optional<Properties> settingsFor(const CommandLine& line, const std::string& id);
    // The full identifier for `id` ("Stream.X", or "X" when exactly one factory has it), or "" after
    // reporting the unknown identifier.
    std::string resolveId(const std::string& id);

    std::unique_ptr<PluginLoader> loader_;
};

}  // namespace Corvexis
