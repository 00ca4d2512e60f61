#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "Host/Core/Properties.h"

namespace Corvexis {

class Configurable;

// The application-wide settings tree (root block "GlobalSettings"), shared by the host and every
// plug-in: each component keeps its settings in a section, a sub-block named after it
// ("StreamSettings"). The tree can be kept in a file in the text form of PropertiesIO.
//
// One lock guards the tree. Every operation is thread-safe except properties(), whose reference may only
// be used while holding lock(). The lock is recursive, so the other operations may be called with it held.
class GlobalSettings
{
public:
    // The one instance, created on first use and kept until the process ends. Thread-safe.
    static GlobalSettings& get();

    // Caller synchronises: hold lock() while using the tree.
    Properties& properties();
    std::unique_lock<std::recursive_mutex> lock() const;

    // A copy of the whole tree. Thread-safe.
    Properties copy() const;
    // A copy of the first section named `name`, or nullptr. Thread-safe.
    std::unique_ptr<Properties> section(const std::string& name) const;
    // Replaces the first section named like `block` with a copy of it, or appends one. Thread-safe.
    void storeSection(const Properties& block);
    void removeSection(const std::string& name);

    // Writes `configurable`'s configuration as the section `name`. Thread-safe.
    void storeConfiguration(const std::string& name, const Configurable& configurable);
    // Configures `configurable` from the section `name` (on the calling thread, without the lock held);
    // false when there is no such section. Thread-safe.
    bool restoreConfiguration(const std::string& name, Configurable& configurable) const;

    // The file that load() and save() use; empty (the default) means none. Thread-safe.
    std::string filePath() const;
    void setFilePath(const std::string& path);
    // Replaces the tree with the file's content; on failure the tree is kept and *error says why.
    // Thread-safe.
    bool load(std::string* error = nullptr);
    // Writes the tree to the file, replacing it whole. Thread-safe.
    bool save(std::string* error = nullptr) const;

private:
    GlobalSettings();

    mutable std::recursive_mutex mutex_;
    // guarded by mutex_
    Properties properties_;
    std::string filePath_;
};

}  // namespace Corvexis
