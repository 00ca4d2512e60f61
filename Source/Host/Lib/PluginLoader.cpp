#include "Host/Lib/PluginLoader.h"

#include <dlfcn.h>

#include <algorithm>
#include <exception>
#include <filesystem>
#include <system_error>

#include "Host/Core/Log.h"
#include "Host/Lib/PluginBase.h"
#include "Host/Lib/PluginDescriptor.h"

namespace Corvexis {

namespace {

constexpr const char* kCategory = "PluginLoader";

using CreateFunction = PluginBase* (*)();
using IdFunction = const char* (*)();

bool looksLikeSharedLibrary(const std::filesystem::path& path)
{
    const std::string name = path.filename().string();
    return name.ends_with(".so") || name.find(".so.") != std::string::npos;
}

std::string dlErrorText()
{
    const char* text = dlerror();
    return text != nullptr ? text : "unknown error";
}

}  // namespace

struct PluginLoader::Library
{
    std::string path;
    std::string id;
    std::string version;
    void* handle = nullptr;
    std::unique_ptr<PluginBase> plugin;

    ~Library()
    {
        // The plug-in's code lives in the library: destroy the object before closing it.
        plugin.reset();
        if (handle != nullptr)
            dlclose(handle);
    }
};

PluginLoader::PluginLoader() = default;

PluginLoader::~PluginLoader()
{
    unloadAll();
}

void PluginLoader::reportError(const std::string& text)
{
    Log::log(Log::Level::Error, kCategory, text);
    errors_.push_back(text);
}

int PluginLoader::loadFromDirectories(const std::vector<std::string>& directories)
{
    int loaded = 0;
    for (const auto& directory : directories) {
        std::error_code ec;
        if (!std::filesystem::is_directory(directory, ec)) {
            reportError("Plug-in directory '" + directory + "' does not exist");
            continue;
        }
        std::vector<std::filesystem::path> files;
        for (const auto& entry : std::filesystem::directory_iterator(directory, ec)) {
            if (entry.is_regular_file(ec) && looksLikeSharedLibrary(entry.path()))
                files.push_back(entry.path());
        }
        if (ec)
            reportError("Cannot list plug-in directory '" + directory + "': " + ec.message());
        std::sort(files.begin(), files.end());
        for (const auto& file : files) {
            if (loadLibrary(file.string()))
                ++loaded;
        }
    }
    return loaded;
}

bool PluginLoader::loadLibrary(const std::string& path)
{
    auto library = std::make_unique<Library>();
    library->path = path;
    library->handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library->handle == nullptr) {
        reportError("Cannot load plug-in " + path + ": " + dlErrorText());
        return false;
    }
    auto* descriptor = static_cast<const PluginDescriptor*>(dlsym(library->handle, "corvexisPluginDescriptor"));
    auto create = reinterpret_cast<CreateFunction>(dlsym(library->handle, "corvexisCreatePlugin"));
    auto idFunction = reinterpret_cast<IdFunction>(dlsym(library->handle, "corvexisPluginId"));
    if (descriptor == nullptr && create == nullptr && idFunction == nullptr) {
        Log::log(Log::Level::Debug, kCategory, "Skipping " + path + ": not a plug-in");
        return false;
    }
    for (auto [symbol, present] : {std::pair{"corvexisPluginDescriptor", descriptor != nullptr},
                                   std::pair{"corvexisCreatePlugin", create != nullptr},
                                   std::pair{"corvexisPluginId", idFunction != nullptr}}) {
        if (!present) {
            reportError("Refusing plug-in " + path + ": it does not export the symbol '" + symbol + "'");
            return false;
        }
    }
    std::string why;
    if (descriptor->magic == nullptr || !PluginCompatibility::check(descriptor->magic, &why)) {
        if (descriptor->magic == nullptr)
            why = "field 'magic' is missing";
        reportError("Refusing plug-in " + path + ": descriptor " + why);
        return false;
    }
    library->version = descriptor->pluginVersion;
    const char* id = idFunction();
    library->id = id != nullptr ? id : "";
    if (library->id.empty()) {
        reportError("Refusing plug-in " + path + ": its identifier is empty");
        return false;
    }
    for (const auto& other : libraries_) {
        if (other->id == library->id) {
            reportError("Refusing plug-in " + path + ": the plug-in '" + library->id + "' is already loaded from " +
                        other->path);
            return false;
        }
    }
    try {
        library->plugin.reset(create());
        if (!library->plugin) {
            reportError("Refusing plug-in " + path + ": corvexisCreatePlugin returned no plug-in");
            return false;
        }
        if (library->plugin->init() != PluginBase::Status::Success) {
            reportError("Skipping plug-in " + path + " ('" + library->id + "'): its initialisation failed");
            return false;
        }
    } catch (const std::exception& e) {
        reportError("Skipping plug-in " + path + " ('" + library->id + "'): its initialisation threw: " + e.what());
        return false;
    } catch (...) {
        reportError("Skipping plug-in " + path + " ('" + library->id + "'): its initialisation threw");
        return false;
    }
    Log::log(Log::Level::Debug, kCategory, "Loaded plug-in '" + library->id + "' from " + path);
    libraries_.push_back(std::move(library));
    return true;
}

std::vector<PluginLoader::LoadedPlugin> PluginLoader::plugins() const
{
    std::vector<LoadedPlugin> result;
    for (const auto& l : libraries_)
        result.push_back({l->path, l->id, l->version, l->plugin.get()});
    return result;
}

void PluginLoader::unloadAll()
{
    while (!libraries_.empty())
        libraries_.pop_back();
}

}  // namespace Corvexis
