#include "Host/Core/GlobalSettings.h"

#include "Host/Core/Configurable.h"
#include "Host/Core/PropertiesIO.h"

namespace Corvexis {

GlobalSettings& GlobalSettings::get()
{
    // Leaked on purpose: components store their settings from destructors of static objects at exit.
    static GlobalSettings* instance = new GlobalSettings;
    return *instance;
}

GlobalSettings::GlobalSettings() : properties_("GlobalSettings") {}

Properties& GlobalSettings::properties()
{
    return properties_;
}

std::unique_lock<std::recursive_mutex> GlobalSettings::lock() const
{
    return std::unique_lock(mutex_);
}

Properties GlobalSettings::copy() const
{
    std::lock_guard lock(mutex_);
    return properties_;
}

std::unique_ptr<Properties> GlobalSettings::section(const std::string& name) const
{
    std::lock_guard lock(mutex_);
    const Properties* block = properties_.subProperties(name);
    return block ? std::make_unique<Properties>(*block) : nullptr;
}

void GlobalSettings::storeSection(const Properties& block)
{
    auto replacement = std::make_unique<Properties>(block);
    std::lock_guard lock(mutex_);
    if (Properties* existing = properties_.subProperties(block.name()))
        *existing = std::move(*replacement);
    else
        properties_.addSubProperties(std::move(replacement));
}

void GlobalSettings::removeSection(const std::string& name)
{
    std::lock_guard lock(mutex_);
    properties_.removeSubProperties(properties_.subProperties(name));
}

void GlobalSettings::storeConfiguration(const std::string& name, const Configurable& configurable)
{
    Properties block(name);
    configurable.configuration(&block);
    storeSection(block);
}

bool GlobalSettings::restoreConfiguration(const std::string& name, Configurable& configurable) const
{
    const auto block = section(name);
    if (!block)
        return false;
    configurable.configure(block.get());
    return true;
}

std::string GlobalSettings::filePath() const
{
    std::lock_guard lock(mutex_);
    return filePath_;
}

void GlobalSettings::setFilePath(const std::string& path)
{
    std::lock_guard lock(mutex_);
    filePath_ = path;
}

bool GlobalSettings::load(std::string* error)
{
    const std::string path = filePath();
    if (path.empty()) {
        if (error != nullptr)
            *error = "no settings file is set";
        return false;
    }
    auto loaded = PropertiesIO::loadFromFile(path, error);
    if (!loaded)
        return false;
    std::lock_guard lock(mutex_);
    properties_ = std::move(*loaded);
    return true;
}

bool GlobalSettings::save(std::string* error) const
{
    std::lock_guard lock(mutex_);
    if (filePath_.empty()) {
        if (error != nullptr)
            *error = "no settings file is set";
        return false;
    }
    return PropertiesIO::saveToFile(properties_, filePath_, error);
}

}  // namespace Corvexis
