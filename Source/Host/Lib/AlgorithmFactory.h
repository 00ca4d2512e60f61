#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "Host/Core/DataList.h"
#include "Host/Lib/Algorithm.h"

namespace Corvexis {

// A named table of algorithms that a plug-in offers to the host. Each entry carries its full
// identifier ("<factory name>.<identifier>"), the menu path (levels separated by ';', kept byte for
// byte, blanks included), host flags, and a creator that builds the algorithm for a list of inputs or
// returns null when the inputs do not suit it.
//
// Creators run code of the plug-in that registered them: use them only while that plug-in is loaded.
// Registration normally happens in the subclass's constructor. All operations are thread-safe.
class AlgorithmFactory
{
public:
    using Creator = std::function<std::unique_ptr<Algorithm>(const DataList& inputs)>;

    struct Entry
    {
        std::string id;        // full identifier, "Stream.Playback"
        std::string menuPath;  // "Streaming;Playback"
        int flags = 0;         // the host's per-entry flags; 0 for most
        Creator creator;
    };

    explicit AlgorithmFactory(std::string name);
    virtual ~AlgorithmFactory();
    AlgorithmFactory(const AlgorithmFactory&) = delete;
    AlgorithmFactory& operator=(const AlgorithmFactory&) = delete;

    const std::string& name() const { return name_; }

    // Registers `creator` under name() + "." + `id`. Refused (false, warning under "AlgorithmFactory")
    // for an empty id or creator, or an identifier already registered here.
    bool registerAlgorithm(const std::string& id, const std::string& menuPath, Creator creator, int flags = 0);

    // Registers a class T with `static bool createCompatible(const DataList&, std::unique_ptr<Algorithm>*)`,
    // which says whether T takes these inputs and, given a target, creates it.
    template <typename T>
    bool registerAlgorithm(const std::string& id, const std::string& menuPath, int flags = 0)
    {
        return registerAlgorithm(
            id, menuPath,
            [](const DataList& inputs) -> std::unique_ptr<Algorithm> {
                std::unique_ptr<Algorithm> algorithm;
                if (!T::createCompatible(inputs, &algorithm))
                    return nullptr;
                return algorithm;
            },
            flags);
    }

    // In registration order.
    std::vector<Entry> entries() const;
    // The entry with this full identifier, if any.
    std::optional<Entry> entry(const std::string& fullId) const;
    // The algorithm for `inputs`, or null when the identifier is unknown or the inputs do not suit it.
    // Exceptions of the creator pass to the caller.
    std::unique_ptr<Algorithm> create(const std::string& fullId, const DataList& inputs) const;

private:
    const std::string name_;

    mutable std::mutex mutex_;
    // guarded by mutex_
    std::vector<Entry> entries_;
};

}  // namespace Corvexis
