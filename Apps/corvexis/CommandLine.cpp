#include "Apps/corvexis/CommandLine.h"

#include <cctype>
#include <charconv>
#include <cmath>

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

bool fail(std::string* error, std::string text)
{
    if (error != nullptr)
        *error = std::move(text);
    return false;
}

}  // namespace

std::string CommandLine::usage()
{
    return "usage: corvexis [--plugins DIR]... [--log-level 0-4] COMMAND\n"
           "commands:\n"
           "  list                      registered algorithms and controller menu entries\n"
           "  show ID                   configuration keys of an algorithm and of the stream it creates\n"
           "  run ID [KEY=VALUE ...] [--config FILE] [--seconds N] [--action NAME ...]\n"
           "                            create, configure and compute an algorithm; watch its streams\n"
           "  demo                      run the simulated image stream for a few seconds\n"
           "plug-ins are loaded from --plugins, else CORVEXIS_PLUGIN_PATH (':'-separated), else ../lib\n"
           "next to the binary\n";
}

std::optional<CommandLine> CommandLine::parse(const std::vector<std::string>& arguments, std::string* error)
{
    CommandLine line;
    std::vector<std::string> positional;
    auto valueOf = [&](size_t& i, const std::string& option, std::string& value) {
        if (i + 1 >= arguments.size())
            return fail(error, "option " + option + " needs a value");
        value = arguments[++i];
        return true;
    };
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& a = arguments[i];
        std::string value;
        if (a == "--help" || a == "-h") {
            line.command = Command::Help;
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
            if (ec != std::errc() || end != value.data() + value.size() || level < 0 || level > 4) {
                fail(error, "--log-level takes a number from 0 (trace) to 4 (error), not '" + value + "'");
                return std::nullopt;
            }
            line.logLevel = level;
        } else if (a == "--config") {
            if (!valueOf(i, a, value))
                return std::nullopt;
            line.configFile = value;
        } else if (a == "--seconds") {
            if (!valueOf(i, a, value))
                return std::nullopt;
            double seconds = -1;
            auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), seconds);
            if (ec != std::errc() || end != value.data() + value.size() || !std::isfinite(seconds) || seconds < 0) {
                fail(error, "--seconds takes a non-negative number, not '" + value + "'");
                return std::nullopt;
            }
            line.seconds = seconds;
        } else if (a == "--action") {
            if (!valueOf(i, a, value))
                return std::nullopt;
            line.actions.push_back(value);
        } else if (a.size() > 1 && a[0] == '-') {
            fail(error, "unknown option '" + a + "'");
            return std::nullopt;
        } else {
            positional.push_back(a);
        }
    }
    if (positional.empty()) {
        fail(error, "no command given");
        return std::nullopt;
    }
    const std::string command = positional.front();
    const size_t extra = positional.size() - 1;
    if (command == "list" || command == "demo") {
        line.command = command == "list" ? Command::List : Command::Demo;
        if (extra != 0) {
            fail(error, "'" + command + "' takes no arguments, got '" + positional[1] + "'");
            return std::nullopt;
        }
    } else if (command == "show") {
        line.command = Command::Show;
        if (extra != 1) {
            fail(error, "'show' takes one algorithm identifier");
            return std::nullopt;
        }
        line.algorithmId = positional[1];
    } else if (command == "run") {
        line.command = Command::Run;
        if (extra < 1) {
            fail(error, "'run' needs an algorithm identifier");
            return std::nullopt;
        }
        line.algorithmId = positional[1];
        for (size_t i = 2; i < positional.size(); ++i) {
            const std::string& setting = positional[i];
            const size_t eq = setting.find('=');
            if (eq == std::string::npos || !validKey(setting.substr(0, eq))) {
                fail(error, "malformed setting '" + setting +
                                "': expected KEY=VALUE with a key of letters, digits, '_', '.' or '-'");
                return std::nullopt;
            }
            line.settings.emplace_back(setting.substr(0, eq), setting.substr(eq + 1));
        }
    } else {
        fail(error, "unknown command '" + command + "'");
        return std::nullopt;
    }
    if (line.command != Command::Run && line.command != Command::Demo &&
        (!line.configFile.empty() || line.seconds || !line.actions.empty())) {
        fail(error, "--config, --seconds and --action belong to 'run' and 'demo'");
        return std::nullopt;
    }
    return line;
}

}  // namespace Corvexis
