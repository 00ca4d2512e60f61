// corvexis workspace FILE [--seconds N] [--snapshot DIR]: runs a workspace file (docs/workspace-format.md).

#include "Apps/corvexis/CommandLine.h"
#include "Apps/corvexis/CommandRegistry.h"
#include "Apps/corvexis/HostApplication.h"
#include "Apps/corvexis/Workspace.h"
#include "Apps/corvexis/WorkspaceRunner.h"

namespace Corvexis {
namespace {

int workspace(HostApplication&, const CommandLine& line)
{
    std::string why;
    auto loaded = Workspace::load(line.arguments.front(), &HostApplication::resolveAlgorithmId, &why);
    if (!loaded)
        return HostApplication::error(why);
    WorkspaceRunner runner(*loaded);
    return runner.run(line.seconds ? line.seconds : loaded->seconds, line.snapshotDirectory);
}

const CommandRegistration kWorkspace({.name = "workspace",
                                      .arguments = "FILE",
                                      .summary = "run the steps and the timeline of a workspace file",
                                      .argumentsHint = "one workspace file",
                                      .minArguments = 1,
                                      .maxArguments = 1,
                                      .options = {"--seconds", "--snapshot"},
                                      .run = workspace});

}  // namespace
}  // namespace Corvexis
