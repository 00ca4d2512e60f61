// corvexis export FILE --to OUT.mha: an image set with its tracking as a MetaImage sequence.

#include <iostream>
#include <string>

#include "Apps/corvexis/CommandLine.h"
#include "Apps/corvexis/CommandRegistry.h"
#include "Apps/corvexis/HostApplication.h"
#include "Host/Lib/Files/FileCommands.h"

namespace Corvexis {
namespace {

int exportFile(HostApplication& host, const CommandLine& line)
{
    if (line.outputPath.empty())
        return host.error("'export' needs --to OUT.mha");
    std::string error;
    if (!Files::exportMetaImage(line.arguments.front(), line.outputPath, std::cout, &error))
        return host.error(error);
    return 0;
}

const CommandRegistration kExport({.name = "export",
                                   .arguments = "FILE",
                                   .summary = "write a recording's first image set and its tracking as a MetaImage sequence",
                                   .argumentsHint = "one file",
                                   .minArguments = 1,
                                   .maxArguments = 1,
                                   .options = {"--to"},
                                   .needsPlugins = false,
                                   .run = exportFile});

}  // namespace
}  // namespace Corvexis
