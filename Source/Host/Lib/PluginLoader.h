#pragma once

#include <memory>
#include <string>
#include <vector>

#include "Host/Lib/HostAlgorithmFactory.h"

namespace Corvexis {

class PluginBase;

// Loads plug-in libraries into the host. A plug-in library exports three C symbols:
// `corvexisPluginDescriptor` (a PluginDescriptor), `const char* corvexisPluginId()` and
// `PluginBase* corvexisCreatePlugin()` (the caller owns the object).
//
// For each library the loader opens it, checks the descriptor against the host's compatibility text
// (refusing a mismatch with the file and the differing field), refuses a second plug-in with an
// identifier already loaded, creates the plug-in and runs init() once. A library that cannot be opened,
// lacks a symbol, fails its check, or whose init() fails or throws is reported (error log under
// "PluginLoader" and errors()) and skipped; the others still load. Shared libraries that export none of
// the three symbols are ordinary libraries and skipped quietly (debug log).
//
// Destruction (or unloadAll) destroys the plug-in objects in reverse load order and then closes their
// libraries: every algorithm, controller or stream made by a plug-in must be gone by then.
// Threading: caller synchronises (the host's main thread).
class PluginLoader
{
public:
    struct LoadedPlugin
    {
        std::string path;
        std::string id;
        std::string version;
        PluginBase* plugin = nullptr;  // owned by the loader
    };

    PluginLoader();
    ~PluginLoader();
    PluginLoader(const PluginLoader&) = delete;
    PluginLoader& operator=(const PluginLoader&) = delete;

    // Loads every shared library ("*.so", "*.so.*") directly inside each directory, in name order
    // within a directory. Missing directories are reported. Returns the number of plug-ins loaded.
    int loadFromDirectories(const std::vector<std::string>& directories);
    // Loads one library; true when it became a loaded plug-in.
    bool loadLibrary(const std::string& path);

    std::vector<LoadedPlugin> plugins() const;
    // One line per problem, each naming the file.
    const std::vector<std::string>& errors() const { return errors_; }

    void unloadAll();

private:
    struct Library;

    void reportError(const std::string& text);

    // The host's own algorithms are offered while a loader lives, beside those of the plug-ins.
    HostAlgorithmFactory::Registration hostAlgorithms_;
    std::vector<std::unique_ptr<Library>> libraries_;
    std::vector<std::string> errors_;
};

}  // namespace Corvexis
