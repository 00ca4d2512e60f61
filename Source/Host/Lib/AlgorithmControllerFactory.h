#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Host/Lib/AlgorithmController.h"

namespace Corvexis {

// Tells the host which controller belongs to an algorithm, and lists menu entries that open a
// controller without an algorithm of their own ("Stream;Stream Controls").
// create is caller synchronises (user-interface thread); the menu entries are thread-safe.
class AlgorithmControllerFactory
{
public:
    AlgorithmControllerFactory();
    virtual ~AlgorithmControllerFactory();
    AlgorithmControllerFactory(const AlgorithmControllerFactory&) = delete;
    AlgorithmControllerFactory& operator=(const AlgorithmControllerFactory&) = delete;

    // A new controller for `algorithm` when this factory recognises it, else null.
    virtual std::unique_ptr<AlgorithmController> create(Algorithm* algorithm) const = 0;

    // Controller-only menu paths, in registration order.
    std::vector<std::string> menuEntries() const;

protected:
    // Adds a controller-only menu path; a path already present is ignored.
    void registerMenuEntry(const std::string& menuPath);

private:
    mutable std::mutex mutex_;
    // guarded by mutex_
    std::vector<std::string> menuEntries_;
};

}  // namespace Corvexis
