#include "Apps/corvexis/HostApplication.h"

#include <QCoreApplication>

#include <cctype>
#include <cstdlib>

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <sstream>

#include "Apps/corvexis/CommandRegistry.h"
#include "Host/Lib/FactoryRegistry.h"
#include "Host/Lib/HostAlgorithmFactory.h"
#include "Host/Lib/PluginLoader.h"

namespace Corvexis {

namespace {

std::vector<std::string> split(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    std::stringstream in(text);
    std::string part;
    while (std::getline(in, part, separator)) {
        if (!part.empty())
            parts.push_back(part);
    }
    return parts;
}

size_t editDistance(const std::string& a, const std::string& b)
{
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t up = row[j];
            const bool same = std::tolower(static_cast<unsigned char>(a[i - 1])) ==
                              std::tolower(static_cast<unsigned char>(b[j - 1]));
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (same ? 0 : 1)});
            diagonal = up;
        }
    }
    return row[b.size()];
}

std::string lower(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace

HostApplication::HostApplication() = default;

HostApplication::~HostApplication() = default;

int HostApplication::error(const std::string& text)
{
    std::cout.flush();
    std::cerr << "corvexis: " << text << std::endl;
    return 1;
}

std::vector<std::string> HostApplication::closeMatches(const std::string& wanted,
                                                       const std::vector<std::string>& known)
{
    std::vector<std::pair<size_t, std::string>> scored;
    const std::string wantedLower = lower(wanted);
    for (const auto& candidate : known) {
        const std::string candidateLower = lower(candidate);
        const size_t dot = candidate.rfind('.');
        const std::string shortName = dot == std::string::npos ? candidate : candidate.substr(dot + 1);
        size_t distance = std::min(editDistance(wanted, candidate), editDistance(wanted, shortName));
        if (!wantedLower.empty() && candidateLower.find(wantedLower) != std::string::npos)
            distance = std::min<size_t>(distance, 1);
        const size_t limit = std::max<size_t>(3, wanted.size() / 3);
        if (distance <= limit)
            scored.emplace_back(distance, candidate);
    }
    std::stable_sort(scored.begin(), scored.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<std::string> result;
    for (size_t i = 0; i < scored.size() && i < 3; ++i)
        result.push_back(scored[i].second);
    return result;
}

std::string HostApplication::suggestion(const std::string& wanted, const std::vector<std::string>& known,
                                        const std::string& otherwise)
{
    const auto matches = closeMatches(wanted, known);
    if (matches.empty())
        return otherwise;
    std::string text = "; did you mean ";
    for (size_t i = 0; i < matches.size(); ++i)
        text += (i == 0 ? "'" : (i + 1 == matches.size() ? "' or '" : "', '")) + matches[i];
    return text + "'?";
}

std::string HostApplication::resolveAlgorithmId(const std::string& id, std::string* why)
{
    const auto& registry = FactoryRegistry::get();
    if (registry.algorithmDescriptor(id))
        return id;
    std::vector<std::string> known;
    std::vector<std::string> suffixMatches;
    for (const auto& d : registry.algorithmDescriptors()) {
        known.push_back(d.id);
        if (d.id.size() > id.size() && d.id.ends_with("." + id))
            suffixMatches.push_back(d.id);
    }
    if (suffixMatches.size() == 1)
        return suffixMatches.front();
    if (why != nullptr)
        *why = "unknown algorithm '" + id + "'" + suggestion(id, known, " (see 'corvexis list')");
    return {};
}

bool HostApplication::loadPlugins(const CommandLine& line)
{
    std::vector<std::string> directories = line.pluginDirectories;
    std::string origin = "--plugins";
    if (directories.empty()) {
        if (const char* env = std::getenv("CORVEXIS_PLUGIN_PATH"); env != nullptr && *env != '\0') {
            directories = split(env, ':');
            origin = "CORVEXIS_PLUGIN_PATH";
        }
    }
    if (directories.empty()) {
        std::error_code ec;
        const auto binaryDir = std::filesystem::path(QCoreApplication::applicationDirPath().toStdString());
        auto defaultDir = std::filesystem::weakly_canonical(binaryDir / ".." / "lib", ec);
        directories.push_back(ec ? (binaryDir / ".." / "lib").string() : defaultDir.string());
        origin = "the default directory";
    }
    loader_ = std::make_unique<PluginLoader>();
    if (loader_->loadFromDirectories(directories) > 0)
        return true;
    std::string where;
    for (const auto& d : directories)
        where += (where.empty() ? "" : ", ") + d;
    error("no plug-in found (looked in " + where + ", from " + origin + ")");
    return false;
}

int HostApplication::exec(const CommandLine& line)
{
    const Command* command = CommandRegistry::get().find(line.command);
    if (command == nullptr) {
        std::cout << CommandLine::usage();
        return line.command == "help" ? 0 : 2;
    }
    // The host's own table is offered whether or not plug-ins load.
    hostAlgorithms_ = std::make_unique<HostAlgorithmFactory::Registration>();
    if (command->needsPlugins && !loadPlugins(line))
        return 1;
    const int code = command->run(*this, line);
    loader_.reset();
    return code;
}

}  // namespace Corvexis
