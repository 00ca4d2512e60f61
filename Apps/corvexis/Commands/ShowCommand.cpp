// corvexis show ID: the settings an algorithm reads (its own and those of what it creates) with their
// types, limits and defaults, and its actions.

#include <algorithm>
#include <exception>
#include <iostream>

#include <fmt/format.h>

#include "Apps/corvexis/CommandLine.h"
#include "Apps/corvexis/CommandRegistry.h"
#include "Apps/corvexis/HostApplication.h"
#include "Host/Core/Properties.h"
#include "Host/Core/SettingsSchema.h"
#include "Host/Lib/AlgorithmController.h"
#include "Host/Lib/FactoryRegistry.h"

namespace Corvexis {
namespace {

void printSchema(const Properties& schema, const std::string& indent)
{
    size_t width = 0;
    for (const auto& key : schema.paramNames())
        width = std::max(width, key.size());
    for (const auto& key : schema.paramNames()) {
        std::cout << indent
                  << fmt::format("{:<{}}  {}, default \"{}\"", key, width,
                                 SettingsSchema::describe(schema, key), *schema.paramText(key));
        const std::string label = schema.paramAttribute(key, "label");
        if (!label.empty())
            std::cout << "  (" << label << ")";
        std::cout << "\n";
    }
    for (const Properties* block : schema.subProperties()) {
        const bool repeated = block->attribute("repeated") == "true";
        std::cout << indent << block->name() << " { ... }";
        if (repeated)
            std::cout << "  a list of blocks, each one of:";
        if (!block->attribute("label").empty())
            std::cout << "  (" << block->attribute("label") << ")";
        std::cout << "\n";
        if (!repeated) {
            printSchema(*block, indent + "  ");
            continue;
        }
        for (const Properties* kind : block->subProperties()) {
            std::cout << indent << "  " << kind->name() << " { ... }\n";
            printSchema(*kind, indent + "    ");
        }
    }
    if (schema.paramCount() == 0 && schema.subPropertiesCount() == 0)
        std::cout << indent << "(none)\n";
}

int show(HostApplication&, const CommandLine& line)
{
    std::string why;
    const std::string id = HostApplication::resolveAlgorithmId(line.arguments.front(), &why);
    if (id.empty())
        return HostApplication::error(why);
    const auto descriptor = FactoryRegistry::get().algorithmDescriptor(id);
    std::unique_ptr<Algorithm> algorithm;
    try {
        algorithm = descriptor->create(DataList{});
    } catch (const std::exception& e) {
        return HostApplication::error("creating '" + id + "' threw: " + e.what());
    }
    std::cout << "Algorithm " << id << "\n  menu path: \"" << descriptor->menuPath
              << "\"\n  flags: " << descriptor->flags << "\n";
    if (!algorithm) {
        std::cout << "  (it needs input data: give it 'inputs' in a workspace)\n";
        return 0;
    }
    Properties schema;
    algorithm->describeSettings(&schema);
    std::cout << "Settings (KEY=VALUE on the command line, a Configuration block in a workspace):\n";
    printSchema(schema, "  ");
    const auto controller = FactoryRegistry::get().createController(algorithm.get());
    const auto actions = controller->actions();
    if (!actions.empty()) {
        std::cout << "Actions:\n";
        for (const auto& a : actions)
            std::cout << "  " << a.id << "  (" << a.label << ")\n";
    }
    return 0;
}

const CommandRegistration kShow({.name = "show",
                                 .arguments = "ID",
                                 .summary = "the settings of an algorithm, with types, limits and defaults",
                                 .argumentsHint = "one algorithm identifier",
                                 .minArguments = 1,
                                 .maxArguments = 1,
                                 .run = show});

}  // namespace
}  // namespace Corvexis
