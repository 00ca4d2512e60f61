#include "Apps/corvexis/CommandRegistry.h"

#include <algorithm>

namespace Corvexis {

CommandRegistry& CommandRegistry::get()
{
    static CommandRegistry registry;
    return registry;
}

void CommandRegistry::add(Command command)
{
    if (find(command.name) == nullptr)
        commands_.push_back(std::move(command));
}

const Command* CommandRegistry::find(const std::string& name) const
{
    for (const Command& c : commands_)
        if (c.name == name)
            return &c;
    return nullptr;
}

std::vector<const Command*> CommandRegistry::all() const
{
    std::vector<const Command*> result;
    for (const Command& c : commands_)
        result.push_back(&c);
    std::sort(result.begin(), result.end(),
              [](const Command* a, const Command* b) { return a->name < b->name; });
    return result;
}

CommandRegistration::CommandRegistration(Command command)
{
    CommandRegistry::get().add(std::move(command));
}

}  // namespace Corvexis
