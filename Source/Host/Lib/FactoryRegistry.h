#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "Host/Core/DataList.h"
#include "Host/Lib/AlgorithmController.h"
#include "Host/Lib/AlgorithmFactory.h"
#include "Host/Lib/DataAnnotationFactory.h"

namespace Corvexis {

class AlgorithmControllerFactory;

// The process-wide registry of the factories that loaded plug-ins offer: what the host lists in its
// menus, creates algorithms and controllers from, and annotates its data tree with. It lives in
// CorvexisLib so that the host and every plug-in see the same one.
//
// The registry borrows the factories: their owner (CorvexisLibPlugin) registers them and unregisters
// them before destroying them. Descriptors and algorithms obtained from a factory must not outlive the
// plug-in that registered it. All operations are thread-safe; factory code runs without the lock.
class FactoryRegistry
{
public:
    struct AlgorithmDescriptor
    {
        std::string id;        // full identifier, "Stream.Playback"
        std::string menuPath;  // "Streaming;Playback"
        int flags = 0;
        std::string factoryName;
        AlgorithmFactory::Creator creator;

        // The algorithm for `inputs`, or null when they do not suit it.
        std::unique_ptr<Algorithm> create(const DataList& inputs) const;
    };

    static FactoryRegistry& get();

    // Null pointers and repeated registrations are ignored.
    void registerAlgorithmFactory(AlgorithmFactory* factory);
    void registerControllerFactory(AlgorithmControllerFactory* factory);
    void registerAnnotationFactory(DataAnnotationFactory* factory);
    void unregisterAlgorithmFactory(const AlgorithmFactory* factory);
    void unregisterControllerFactory(const AlgorithmControllerFactory* factory);
    void unregisterAnnotationFactory(const DataAnnotationFactory* factory);

    // Every registered algorithm, sorted by identifier.
    std::vector<AlgorithmDescriptor> algorithmDescriptors() const;
    // The algorithm registered under the full identifier `name`, if any (first factory wins).
    std::optional<AlgorithmDescriptor> algorithmDescriptor(const std::string& name) const;
    // Controller-only menu entries of every controller factory, sorted.
    std::vector<std::string> controllerMenuEntries() const;

    // The first controller a factory offers for `algorithm` (factories asked in registration order), or
    // a DefaultAlgorithmController when none does; null for a null algorithm.
    std::unique_ptr<AlgorithmController> createController(Algorithm* algorithm) const;
    // The first annotation a factory offers for `data`.
    std::optional<DataAnnotation> annotate(const Data& data) const;

private:
    FactoryRegistry() = default;

    mutable std::mutex mutex_;
    // guarded by mutex_
    std::vector<AlgorithmFactory*> algorithmFactories_;
    std::vector<AlgorithmControllerFactory*> controllerFactories_;
    std::vector<DataAnnotationFactory*> annotationFactories_;
};

}  // namespace Corvexis
