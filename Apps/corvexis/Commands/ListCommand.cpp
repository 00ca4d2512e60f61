// corvexis list: every registered algorithm, the controller-only menu entries and the display handlers.

#include <algorithm>
#include <iostream>

#include <fmt/format.h>

#include "Apps/corvexis/CommandRegistry.h"
#include "Host/Lib/DataDisplayHandlerFactory.h"
#include "Host/Lib/FactoryRegistry.h"

namespace Corvexis {
namespace {

int list(HostApplication&, const CommandLine&)
{
    const auto descriptors = FactoryRegistry::get().algorithmDescriptors();
    size_t width = 10;
    for (const auto& d : descriptors)
        width = std::max(width, d.id.size());
    std::cout << fmt::format("{:<{}}  {}\n", "Identifier", width, "Menu path");
    for (const auto& d : descriptors)
        std::cout << fmt::format("{:<{}}  \"{}\"\n", d.id, width, d.menuPath);
    if (descriptors.empty())
        std::cout << "(no algorithms registered)\n";
    std::cout << "\nController-only menu entries:\n";
    const auto entries = FactoryRegistry::get().controllerMenuEntries();
    for (const auto& entry : entries)
        std::cout << "  \"" << entry << "\"\n";
    if (entries.empty())
        std::cout << "  (none)\n";
    std::cout << "\nData display handlers:\n";
    const auto handlers = DataDisplayHandlerFactory::get().names();
    for (const auto& name : handlers)
        std::cout << "  " << name << "\n";
    if (handlers.empty())
        std::cout << "  (none)\n";
    return 0;
}

const CommandRegistration kList(
    {.name = "list",
     .arguments = "",
     .summary = "registered algorithms, controller menu entries, display handlers",
     .argumentsHint = "no arguments",
     .run = list});

}  // namespace
}  // namespace Corvexis
