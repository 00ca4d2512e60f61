#pragma once

#include <memory>
#include <string>
#include <vector>

#include "Apps/corvexis/CommandLine.h"
#include "Host/Lib/HostAlgorithmFactory.h"

namespace Corvexis {

class AlgorithmFactory;
class PluginLoader;

// The headless host: loads the plug-ins, registers the host's own algorithm factory ("Host.") and runs
// one command of the CommandRegistry. Runs on the main thread, which owns the QCoreApplication (created
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

    // Prints "corvexis: <text>" on stderr (after flushing stdout); returns 1.
    static int error(const std::string& text);
    // Identifiers near `wanted` among `known` (edit distance or containment), best first, at most three.
    static std::vector<std::string> closeMatches(const std::string& wanted,
                                                 const std::vector<std::string>& known);
    // " ; did you mean 'a' or 'b'?" for the close matches of `wanted`, else `otherwise`.
    static std::string suggestion(const std::string& wanted, const std::vector<std::string>& known,
                                  const std::string& otherwise);
    // The full identifier for `id` ("Stream.X", or "X" when exactly one registered identifier ends in
    // ".X"); "" with *why ("unknown algorithm 'X'; did you mean ...") otherwise.
    static std::string resolveAlgorithmId(const std::string& id, std::string* why);

private:
    bool loadPlugins(const CommandLine& line);

    std::unique_ptr<PluginLoader> loader_;
    std::unique_ptr<HostAlgorithmFactory::Registration> hostAlgorithms_;
};

}  // namespace Corvexis
