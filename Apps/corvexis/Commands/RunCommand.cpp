// corvexis run ID [KEY=VALUE ...] [--config FILE] [--seconds N] [--action NAME ...] [--snapshot DIR]:
// one algorithm as a workspace of one step, its --action entries due at once.

#include <memory>

#include "Apps/corvexis/CommandLine.h"
#include "Apps/corvexis/CommandRegistry.h"
#include "Apps/corvexis/HostApplication.h"
#include "Apps/corvexis/Workspace.h"
#include "Apps/corvexis/WorkspaceRunner.h"
#include "Host/Core/PropertiesIO.h"

namespace Corvexis {
namespace {

int run(HostApplication&, const CommandLine& line)
{
    auto tree = std::make_unique<Properties>("Workspace");
    Properties* step = tree->addSubProperties("Step");
    step->setParamText("algorithm", line.arguments.front());

    // Settings: the file first, then KEY=VALUE pairs over it. The file's lines locate its keys in errors.
    PropertiesIO::SourceLines lines;
    std::unique_ptr<Properties> settings;
    if (!line.configFile.empty()) {
        std::string why;
        settings = PropertiesIO::loadFromFile(line.configFile, &why, &lines);
        if (!settings)
            return HostApplication::error("cannot read the configuration " + why);
    } else {
        settings = std::make_unique<Properties>("Settings");
    }
    for (const auto& [key, value] : line.settings) {
        settings->setParamText(key, value);
        lines.keys.erase({settings.get(), key});
    }

    std::string why;
    auto workspace = Workspace::parse(std::move(tree), lines, "", &HostApplication::resolveAlgorithmId, &why);
    if (!workspace)
        return HostApplication::error(why);
    workspace->file = line.configFile;
    workspace->nameFileWithoutLine = false;
    workspace->steps.front().configuration = settings.get();
    for (const auto& name : line.actions) {
        Workspace::Action action;
        action.kind = Workspace::Action::Kind::ActionOrRequest;
        action.name = name;
        action.step = workspace->steps.front().name;
        workspace->timeline.push_back(action);
    }
    WorkspaceRunner runner(*workspace);
    return runner.run(line.seconds, line.snapshotDirectory);
}

const CommandRegistration kRun({.name = "run",
                                .arguments = "ID [KEY=VALUE ...]",
                                .summary = "create, configure and compute an algorithm; watch its streams",
                                .argumentsHint = "an algorithm identifier",
                                .minArguments = 1,
                                .maxArguments = -1,
                                .takesSettings = true,
                                .options = {"--config", "--seconds", "--action", "--snapshot"},
                                .run = run});

}  // namespace
}  // namespace Corvexis
