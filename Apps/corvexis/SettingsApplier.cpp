#include "Apps/corvexis/SettingsApplier.h"

#include <memory>
#include <vector>

#include "Apps/corvexis/HostApplication.h"
#include "Host/Core/Configurable.h"
#include "Host/Core/PropertiesIO.h"
#include "Host/Core/SettingsSchema.h"

namespace Corvexis {

namespace {

std::vector<std::string> splitPath(const std::string& key)
{
    std::vector<std::string> parts;
    size_t start = 0;
    while (true) {
        const size_t dot = key.find('.', start);
        parts.push_back(key.substr(start, dot == std::string::npos ? std::string::npos : dot - start));
        if (dot == std::string::npos)
            return parts;
        start = dot + 1;
    }
}

// The block path (names of non-repeated sub-blocks) under which `key` is a setting of `schema`.
bool findUnique(const Properties& schema, const std::string& key, std::vector<std::string>& path, int& found,
                std::vector<std::string>& current)
{
    if (schema.hasParam(key)) {
        if (found++ == 0)
            path = current;
    }
    for (const Properties* child : schema.subProperties()) {
        if (child->attribute("repeated") == "true")
            continue;
        current.push_back(child->name());
        findUnique(*child, key, path, found, current);
        current.pop_back();
    }
    return found == 1;
}

class Checker
{
public:
    Checker(const Properties& schema, SettingsApplier::Refusal* refusal,
            const PropertiesIO::SourceLines* lines)
        : schema_(schema), refusal_(refusal), lines_(lines)
    {
    }

    // Applies the keys and blocks of `given` (a block of the overrides) to `target` (the matching block of
    // the merged configuration), described by `schema`.
    bool merge(const Properties& schema, const Properties& given, Properties& target,
               const std::string& prefix)
    {
        if (schema.attribute("open") == "true") {
            // Read by something the object creates later (an algorithm chosen by name): taken as given.
            for (const std::string& key : given.paramNames())
                target.setParamText(key, *given.paramText(key));
            for (const Properties* sub : given.subProperties()) {
                for (const Properties* old : target.subPropertiesList(sub->name()))
                    target.removeSubProperties(old);
                target.addSubProperties(std::make_unique<Properties>(*sub));
            }
            return true;
        }
        for (const std::string& key : given.paramNames()) {
            const std::string& text = *given.paramText(key);
            std::vector<std::string> parts = splitPath(key);
            const Properties* block = &schema;
            Properties* into = &target;
            std::vector<std::string> blocks(parts.begin(), parts.end() - 1);
            const std::string leaf = parts.back();
            if (blocks.empty() && !schema.hasParam(leaf)) {
                std::vector<std::string> current;
                int found = 0;
                if (findUnique(schema, leaf, blocks, found, current) == false)
                    blocks.clear();
                if (found != 1)
                    return refuse(given, key, unknown(prefix + key, found));
            }
            for (const std::string& name : blocks) {
                const Properties* sub = block->subProperties(name);
                if (sub == nullptr || sub->attribute("repeated") == "true")
                    return refuse(given, key, unknown(prefix + key, 0));
                block = sub;
                Properties* existing = into->subProperties(name);
                into = existing != nullptr ? existing : into->addSubProperties(name);
            }
            if (!block->hasParam(leaf))
                return refuse(given, key, unknown(prefix + key, 0));
            std::string accepted;
            if (!SettingsSchema::accepts(*block, leaf, text, &accepted))
                return refuse(given, key,
                              "setting " + prefix + key + "=" + text + " not accepted: expected " + accepted);
            into->setParamText(leaf, text);
        }
        for (const Properties* sub : given.subProperties()) {
            const Properties* described = schema.subProperties(sub->name());
            if (described == nullptr)
                return refuseBlock(*sub, unknown(prefix + sub->name(), 0) + " (a block)");
            if (described->attribute("repeated") != "true") {
                Properties* existing = target.subProperties(sub->name());
                Properties* into = existing != nullptr ? existing : target.addSubProperties(sub->name());
                if (!merge(*described, *sub, *into, prefix + sub->name() + "."))
                    return false;
                continue;
            }
            // A list of blocks: each entry checked against its kind, then the whole list replaced.
            Properties replacement(sub->name());
            for (const Properties* entry : sub->subProperties()) {
                const Properties* kind = described->subProperties(entry->name());
                if (kind == nullptr) {
                    std::vector<std::string> kinds;
                    for (const Properties* k : described->subProperties())
                        kinds.push_back(k->name());
                    std::string list;
                    for (const auto& k : kinds)
                        list += (list.empty() ? "" : ", ") + k;
                    return refuseBlock(*entry, "unknown block '" + entry->name() + "' in " + prefix +
                                                   sub->name() + " (expected one of " + list + ")");
                }
                Properties* into = replacement.addSubProperties(entry->name());
                if (!merge(*kind, *entry, *into, prefix + sub->name() + "." + entry->name() + "."))
                    return false;
            }
            for (const Properties* old : target.subPropertiesList(sub->name()))
                target.removeSubProperties(old);
            target.addSubProperties(std::make_unique<Properties>(std::move(replacement)));
        }
        return true;
    }

private:
    std::string unknown(const std::string& key, int found) const
    {
        if (found > 1)
            return "setting '" + key + "' is ambiguous: give its block, as in 'block." + key + "'";
        return "unknown setting '" + key + "'" +
               HostApplication::suggestion(key, SettingsSchema::paths(schema_), " (see 'corvexis show')");
    }

    bool refuse(const Properties& block, const std::string& key, std::string text)
    {
        if (refusal_ != nullptr)
            *refusal_ = {std::move(text), lines_ != nullptr ? lines_->key(&block, key) : 0};
        return false;
    }

    bool refuseBlock(const Properties& block, std::string text)
    {
        if (refusal_ != nullptr)
            *refusal_ = {std::move(text), lines_ != nullptr ? lines_->block(&block) : 0};
        return false;
    }

    const Properties& schema_;
    SettingsApplier::Refusal* refusal_;
    const PropertiesIO::SourceLines* lines_;
};

}  // namespace

bool SettingsApplier::check(const Properties& schema, const Properties& current, const Properties& overrides,
                            Properties* merged, Refusal* refusal, const PropertiesIO::SourceLines* lines)
{
    Properties result = current;
    Checker checker(schema, refusal, lines);
    if (!checker.merge(schema, overrides, result, ""))
        return false;
    if (merged != nullptr)
        *merged = std::move(result);
    return true;
}

bool SettingsApplier::apply(Configurable& object, const Properties& overrides, Refusal* refusal,
                            const PropertiesIO::SourceLines* lines)
{
    Properties schema;
    object.describeSettings(&schema);
    Properties current;
    object.configuration(&current);
    Properties merged;
    if (!check(schema, current, overrides, &merged, refusal, lines))
        return false;
    object.configure(&merged);
    return true;
}

}  // namespace Corvexis
