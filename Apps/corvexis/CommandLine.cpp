#include "Apps/corvexis/CommandLine.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>

#include <fmt/format.h>

#include "Apps/corvexis/CommandRegistry.h"

namespace Corvexis {

namespace {

bool validKey(const std::string& key)
{
    if (key.empty())
        return false;
    for (char c : key) {
        const auto u = static_cast<unsigned char>(c);
        if (!(std::isalnum(u) || c == '_' || c == '.' || c == '-'))
            return false;
    }
    return true;
}

std::nullopt_t fail(std::string* error, std::string text)
{
    if (error != nullptr)
        *error = std::move(text);
    return std::nullopt;
}

}  // namespace

std::string CommandLine::usage()
{
    std::string text = "usage: corvexis [--plugins DIR]... [--log-level 0-4] COMMAND\ncommands:\n";
    for (const Command* c : CommandRegistry::get().all()) {
        std::string head = c->name + (c->arguments.empty() ? "" : " " + c->arguments);
        for (const auto& option : c->options) {
            if (option == "--config")
                head += " [--config FILE]";
            else if (option == "--seconds")
                head += " [--seconds N]";
            else if (option == "--action")
                head += " [--action NAME ...]";
            else if (option == "--snapshot")
                head += " [--snapshot DIR]";
            else if (option == "--to")
                head += " --to OUT";
            else if (option == "--loop")
                head += " [--loop]";
            else if (option == "--fps")
                head += " [--fps N | --speed S]";
            else if (option == "--out")
                head += " --out DIR";
            else if (option == "--live" || option == "--compress" || option == "--dicom")
                head += " [" + option + "]";
        }
        if (head.size() <= 26)
            text += fmt::format("  {:<26}{}\n", head, c->summary);
        else
            text += fmt::format("  {}\n  {:<26}{}\n", head, "", c->summary);
    }
    text +=
        "plug-ins are loaded from --plugins, else CORVEXIS_PLUGIN_PATH (':'-separated), else ../lib\n"
        "next to the binary\n"
        "examples:\n"
        "  corvexis run Stream.CreateStreamIoFakeImage fps=60 --seconds 3\n"
        "  corvexis record Stream.CreateStreamIoFakeImage --out /tmp/rec --seconds 5\n"
        "  corvexis workspace examples/simulated-devices.workspace --snapshot /tmp/snapshots\n";
    return text;
}

std::optional<CommandLine> CommandLine::parse(const std::vector<std::string>& arguments, std::string* error)
{
    CommandLine line;
    std::vector<std::string> positional;
    std::vector<std::string> optionsGiven;
    auto valueOf = [&](size_t& i, const std::string& option, std::string& value) {
        if (i + 1 >= arguments.size()) {
            fail(error, "option " + option + " needs a value");
            return false;
        }
        value = arguments[++i];
        return true;
    };
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& a = arguments[i];
        std::string value;
        if (a == "--help" || a == "-h") {
            line.command = "help";
            return line;
        } else if (a == "--plugins") {
            if (!valueOf(i, a, value))
                return std::nullopt;
            line.pluginDirectories.push_back(value);
        } else if (a == "--log-level") {
            if (!valueOf(i, a, value))
                return std::nullopt;
            int level = -1;
            auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), level);
            if (ec != std::errc() || end != value.data() + value.size() || level < 0 || level > 4)
                return fail(error,
                            "--log-level takes a number from 0 (trace) to 4 (error), not '" + value + "'");
            line.logLevel = level;
        } else if (a == "--config" || a == "--snapshot" || a == "--action" || a == "--seconds" || a == "--to") {
            if (!valueOf(i, a, value))
                return std::nullopt;
            optionsGiven.push_back(a);
            if (a == "--config") {
                line.configFile = value;
            } else if (a == "--snapshot") {
                line.snapshotDirectory = value;
            } else if (a == "--to") {
                line.outputPath = value;
            } else if (a == "--action") {
                line.actions.push_back(value);
            } else {
                double seconds = -1;
                auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), seconds);
                if (ec != std::errc() || end != value.data() + value.size() || !std::isfinite(seconds) ||
                    seconds < 0)
                    return fail(error, "--seconds takes a non-negative number, not '" + value + "'");
                line.seconds = seconds;
            }
        } else if (a == "--loop") {
            optionsGiven.push_back(a);
            line.loop = true;
        } else if (a == "--fps" || a == "--speed") {
            if (!valueOf(i, a, value))
                return std::nullopt;
            optionsGiven.push_back(a);
            double rate = -1;
            auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), rate);
            if (ec != std::errc() || end != value.data() + value.size() || !std::isfinite(rate) ||
                rate < 0.001)
                return fail(error, a + " takes a number of at least 0.001, not '" + value + "'");
            (a == "--fps" ? line.fps : line.speed) = rate;
        } else if (a == "--out") {
            if (!valueOf(i, a, value))
                return std::nullopt;
            optionsGiven.push_back(a);
            line.outDirectory = value;
        } else if (a == "--live" || a == "--compress" || a == "--dicom") {
            optionsGiven.push_back(a);
            (a == "--live" ? line.live : a == "--compress" ? line.compress : line.dicom) = true;
        } else if (a.size() > 1 && a[0] == '-') {
            return fail(error, "unknown option '" + a + "'");
        } else {
            positional.push_back(a);
        }
    }
    if (positional.empty())
        return fail(error, "no command given");
    line.command = positional.front();
    const Command* command = CommandRegistry::get().find(line.command);
    if (command == nullptr)
        return fail(error, "unknown command '" + line.command + "' (see 'corvexis --help')");
    const size_t given = positional.size() - 1;
    const auto min = static_cast<size_t>(command->minArguments);
    bool settingSeen = false;
    for (size_t i = 1; i < positional.size(); ++i) {
        const bool repeated = command->repeatsArguments && !settingSeen &&
                              positional[i].find('=') == std::string::npos;
        if (command->takesSettings && i > min && !repeated) {
            settingSeen = true;
            const std::string& setting = positional[i];
            const size_t eq = setting.find('=');
            if (eq == std::string::npos || !validKey(setting.substr(0, eq)))
                return fail(error,
                            "malformed setting '" + setting +
                                "': expected KEY=VALUE with a key of letters, digits, '_', '.' or '-'");
            line.settings.emplace_back(setting.substr(0, eq), setting.substr(eq + 1));
        } else {
            line.arguments.push_back(positional[i]);
        }
    }
    const bool fixed = command->minArguments == command->maxArguments;
    if (command->maxArguments == 0 && given > 0)
        return fail(error, "'" + line.command + "' takes no arguments, got '" + positional[1] + "'");
    if (given < min || (command->maxArguments >= 0 && !command->takesSettings &&
                        given > static_cast<size_t>(command->maxArguments)))
        return fail(error,
                    "'" + line.command + "' " + (fixed ? "takes " : "needs ") + command->argumentsHint);
    for (const auto& option : optionsGiven) {
        if (std::find(command->options.begin(), command->options.end(), option) != command->options.end())
            continue;
        std::string takers;
        for (const Command* c : CommandRegistry::get().all())
            if (std::find(c->options.begin(), c->options.end(), option) != c->options.end())
                takers += (takers.empty() ? "" : ", ") + c->name;
        return fail(error, "option " + option + " is not taken by '" + line.command + "' (it is taken by " +
                               (takers.empty() ? "none" : takers) + ")");
    }
    return line;
}

}  // namespace Corvexis
