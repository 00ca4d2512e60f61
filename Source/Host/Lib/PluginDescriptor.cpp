#include "Host/Lib/PluginDescriptor.h"

#include <optional>
#include <vector>

namespace Corvexis::PluginCompatibility {

namespace {

std::vector<std::string_view> splitFields(std::string_view text)
{
    std::vector<std::string_view> fields;
    size_t begin = 0;
    while (true) {
        const size_t bar = text.find('|', begin);
        fields.push_back(text.substr(begin, bar == std::string_view::npos ? std::string_view::npos : bar - begin));
        if (bar == std::string_view::npos)
            return fields;
        begin = bar + 1;
    }
}

// The value of "key=value" among the fields after the marker; empty optional when absent.
std::optional<std::string_view> fieldValue(const std::vector<std::string_view>& fields, std::string_view key)
{
    for (size_t i = 1; i < fields.size(); ++i) {
        const auto f = fields[i];
        if (f.size() > key.size() && f.substr(0, key.size()) == key && f[key.size()] == '=')
            return f.substr(key.size() + 1);
    }
    return std::nullopt;
}

bool fail(std::string* why, std::string text)
{
    if (why != nullptr)
        *why = std::move(text);
    return false;
}

}  // namespace

bool check(std::string_view pluginMagic, std::string* why, std::string_view hostMagic)
{
    const auto plugin = splitFields(pluginMagic);
    const auto host = splitFields(hostMagic);
    if (plugin.front() != host.front()) {
        return fail(why, "field 'magic' is '" + std::string(plugin.front()) + "', the host expects '" +
                             std::string(host.front()) + "'");
    }
    for (std::string_view key : {std::string_view("hostversion"), std::string_view("buildflags")}) {
        const auto expected = fieldValue(host, key).value_or("");
        const auto actual = fieldValue(plugin, key);
        if (!actual)
            return fail(why, "field '" + std::string(key) + "' is missing, the host expects '" +
                                 std::string(expected) + "'");
        if (*actual != expected)
            return fail(why, "field '" + std::string(key) + "' is '" + std::string(*actual) +
                                 "', the host expects '" + std::string(expected) + "'");
    }
    return true;
}

}  // namespace Corvexis::PluginCompatibility
