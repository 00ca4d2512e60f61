#include "Host/Core/SettingsSchema.h"

#include <cmath>
#include <cstdint>

#include "Host/Core/ParameterBase.h"

namespace Corvexis {

namespace {

std::vector<std::string> valueNames(const std::string& values)
{
    std::vector<std::string> names;
    std::string current;
    for (char c : values + ",") {
        if (c == ',') {
            const auto first = current.find_first_not_of(' ');
            const auto last = current.find_last_not_of(' ');
            names.push_back(first == std::string::npos ? std::string()
                                                       : current.substr(first, last - first + 1));
            current.clear();
        } else {
            current += c;
        }
    }
    return names;
}

void collectPaths(const Properties& block, const std::string& prefix, std::vector<std::string>& out)
{
    for (const auto& key : block.paramNames())
        out.push_back(prefix + key);
    for (const Properties* child : block.subProperties()) {
        if (child->attribute("repeated") == "true")
            out.push_back(prefix + child->name());
        else
            collectPaths(*child, prefix + child->name() + ".", out);
    }
}

}  // namespace

void SettingsSchema::add(Properties& schema, const ParameterBase& parameter)
{
    schema.setParamText(parameter.name(), parameter.defaultText());
    schema.setParamAttribute(parameter.name(), "type", parameter.typeName());
    for (const auto& [key, value] : parameter.attributes())
        schema.setParamAttribute(parameter.name(), key, value);
}

std::string SettingsSchema::describe(const Properties& schema, const std::string& key)
{
    std::string type = schema.paramAttribute(key, "type");
    const bool optional = type.ends_with("?");
    if (optional)
        type.pop_back();
    const std::string values = schema.paramAttribute(key, "values");
    const std::string min = schema.paramAttribute(key, "min");
    const std::string max = schema.paramAttribute(key, "max");
    std::string text;
    if (!values.empty()) {
        const auto names = valueNames(values);
        text = "one of ";
        for (size_t i = 0; i < names.size(); ++i)
            text += (i == 0 ? "" : ", ") + std::to_string(i) + " (" + names[i] + ")";
    } else if (type == "bool") {
        text = "true or false";
    } else if (type == "integer" || type == "number") {
        text = type == "integer" ? "an integer" : "a number";
        if (!min.empty() && !max.empty())
            text += " from " + min + " to " + max;
        else if (!min.empty())
            text += " of at least " + min;
        else if (!max.empty())
            text += " of at most " + max;
    } else if (type.starts_with("numbers ")) {
        text = type.substr(8) + " numbers separated by spaces";
    } else if (type == "list") {
        text = "values separated by spaces";
    } else {
        text = "a text";
    }
    return optional ? text + " or an empty text" : text;
}

bool SettingsSchema::accepts(const Properties& schema, const std::string& key, const std::string& text,
                             std::string* accepted)
{
    auto refuse = [&] {
        if (accepted != nullptr)
            *accepted = describe(schema, key);
        return false;
    };
    std::string type = schema.paramAttribute(key, "type");
    if (type.ends_with("?")) {
        type.pop_back();
        if (text.empty())
            return true;
    }
    const std::string values = schema.paramAttribute(key, "values");
    if (type == "bool") {
        bool value = false;
        return PropertyValue<bool>::fromText(text, value) || refuse();
    }
    if (type == "integer" || type == "number" || !values.empty()) {
        double value = 0;
        if (type == "integer" || !values.empty()) {
            std::int64_t integer = 0;
            if (!PropertyValue<std::int64_t>::fromText(text, integer))
                return refuse();
            value = static_cast<double>(integer);
        } else if (!PropertyValue<double>::fromText(text, value) || !std::isfinite(value)) {
            return refuse();
        }
        if (!values.empty() && (value < 0 || value >= static_cast<double>(valueNames(values).size())))
            return refuse();
        double limit = 0;
        const std::string min = schema.paramAttribute(key, "min");
        const std::string max = schema.paramAttribute(key, "max");
        if (!min.empty() && PropertyValue<double>::fromText(min, limit) && value < limit)
            return refuse();
        if (!max.empty() && PropertyValue<double>::fromText(max, limit) && value > limit)
            return refuse();
        return true;
    }
    if (type.starts_with("numbers ")) {
        Eigen::VectorXd numbers;
        if (!PropertyValue<Eigen::VectorXd>::fromText(text, numbers) ||
            std::to_string(numbers.size()) != type.substr(8))
            return refuse();
        return true;
    }
    return true;  // texts and lists: the object itself judges their content
}

std::vector<std::string> SettingsSchema::paths(const Properties& schema)
{
    std::vector<std::string> out;
    collectPaths(schema, "", out);
    return out;
}

}  // namespace Corvexis
