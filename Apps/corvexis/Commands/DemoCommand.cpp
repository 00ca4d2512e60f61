// corvexis demo: the shipped workspace examples/simulated-devices.workspace.

#include <filesystem>

#include <QCoreApplication>

#include "Apps/corvexis/CommandLine.h"
#include "Apps/corvexis/CommandRegistry.h"
#include "Apps/corvexis/HostApplication.h"
#include "Apps/corvexis/Workspace.h"
#include "Apps/corvexis/WorkspaceRunner.h"

namespace Corvexis {
namespace {

constexpr const char* kDemoFile = "simulated-devices.workspace";

// Next to an installed binary (../share/corvexis/examples), else the source tree it was built from.
std::string demoPath()
{
    const std::filesystem::path binary = QCoreApplication::applicationDirPath().toStdString();
    const std::filesystem::path installed = binary / ".." / "share" / "corvexis" / "examples" / kDemoFile;
    if (std::filesystem::exists(installed))
        return installed.lexically_normal().string();
    return (std::filesystem::path(CORVEXIS_EXAMPLES_DIR) / kDemoFile).string();
}

int demo(HostApplication&, const CommandLine& line)
{
    std::string why;
    auto loaded = Workspace::load(demoPath(), &HostApplication::resolveAlgorithmId, &why);
    if (!loaded)
        return HostApplication::error(why);
    WorkspaceRunner runner(*loaded);
    return runner.run(line.seconds ? line.seconds : loaded->seconds, line.snapshotDirectory);
}

const CommandRegistration kDemo(
    {.name = "demo",
     .arguments = "",
     .summary = "the simulated image, tracking and poly-data streams (a workspace)",
     .argumentsHint = "no arguments",
     .options = {"--seconds", "--snapshot"},
     .run = demo});

}  // namespace
}  // namespace Corvexis
