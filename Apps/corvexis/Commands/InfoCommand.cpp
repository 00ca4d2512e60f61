// corvexis info FILE: what a data file (.cvx), a live image file (.bin) or a DICOM file holds.

#include <iostream>
#include <string>

#include "Apps/corvexis/CommandLine.h"
#include "Apps/corvexis/CommandRegistry.h"
#include "Apps/corvexis/HostApplication.h"
#include "Host/Lib/Files/FileCommands.h"

namespace Corvexis {
namespace {

int info(HostApplication& host, const CommandLine& line)
{
    std::string error;
    if (!Files::describeFile(line.arguments.front(), std::cout, &error))
        return host.error(error);
    return 0;
}

const CommandRegistration kInfo({.name = "info",
                                 .arguments = "FILE",
                                 .summary = "what a .cvx, live .bin or DICOM file holds, damaged parts included",
                                 .argumentsHint = "one file",
                                 .minArguments = 1,
                                 .maxArguments = 1,
                                 .needsPlugins = false,
                                 .run = info});

}  // namespace
}  // namespace Corvexis
