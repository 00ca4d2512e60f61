#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace Corvexis {

class Data;
class DataDisplay;
class DataDisplayHandler;

// The process-wide registry of data display handlers, by name ("Corvexis.ImageStreamDisplayHandler").
// It lives in CorvexisLib so that the host and every plug-in see the same one. The registry borrows the
// handlers: whoever registers one unregisters it before destroying it (a plug-in's factory does so in
// its destructor). All operations are thread-safe; handler code runs without the registry's lock.
class DataDisplayHandlerFactory
{
public:
    static DataDisplayHandlerFactory& get();

    // Refused (false) for a null handler or an empty or taken name.
    bool registerHandler(const std::string& name, const DataDisplayHandler* handler);
    // Removes every registration of `handler`.
    void unregisterHandler(const DataDisplayHandler* handler);

    // Registered names, in registration order.
    std::vector<std::string> names() const;
    // The handler registered under `name`, or null.
    const DataDisplayHandler* handler(const std::string& name) const;
    // A display of `data` by the first handler (in registration order) that shows it, with that
    // handler's name; a null display and "" when none does.
    std::pair<std::unique_ptr<DataDisplay>, std::string> createDisplay(Data& data) const;

private:
    DataDisplayHandlerFactory() = default;

    mutable std::mutex mutex_;
    // guarded by mutex_
    std::vector<std::pair<std::string, const DataDisplayHandler*>> handlers_;
};

}  // namespace Corvexis
