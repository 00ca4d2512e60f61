#include "Host/Lib/FactoryRegistry.h"

#include <algorithm>

#include "Host/Lib/AlgorithmControllerFactory.h"
#include "Host/Lib/DefaultAlgorithmController.h"

namespace Corvexis {

namespace {

template <typename T>
void addOnce(std::vector<T*>& list, T* item)
{
    if (item != nullptr && std::find(list.begin(), list.end(), item) == list.end())
        list.push_back(item);
}

template <typename T>
void removeItem(std::vector<T*>& list, const T* item)
{
    list.erase(std::remove(list.begin(), list.end(), item), list.end());
}

}  // namespace

std::unique_ptr<Algorithm> FactoryRegistry::AlgorithmDescriptor::create(const DataList& inputs) const
{
    return creator ? creator(inputs) : nullptr;
}

FactoryRegistry& FactoryRegistry::get()
{
    static FactoryRegistry registry;
    return registry;
}

void FactoryRegistry::registerAlgorithmFactory(AlgorithmFactory* factory)
{
    std::lock_guard lock(mutex_);
    addOnce(algorithmFactories_, factory);
}

void FactoryRegistry::registerControllerFactory(AlgorithmControllerFactory* factory)
{
    std::lock_guard lock(mutex_);
    addOnce(controllerFactories_, factory);
}

void FactoryRegistry::registerAnnotationFactory(DataAnnotationFactory* factory)
{
    std::lock_guard lock(mutex_);
    addOnce(annotationFactories_, factory);
}

void FactoryRegistry::unregisterAlgorithmFactory(const AlgorithmFactory* factory)
{
    std::lock_guard lock(mutex_);
    removeItem(algorithmFactories_, factory);
}

void FactoryRegistry::unregisterControllerFactory(const AlgorithmControllerFactory* factory)
{
    std::lock_guard lock(mutex_);
    removeItem(controllerFactories_, factory);
}

void FactoryRegistry::unregisterAnnotationFactory(const DataAnnotationFactory* factory)
{
    std::lock_guard lock(mutex_);
    removeItem(annotationFactories_, factory);
}

std::vector<FactoryRegistry::AlgorithmDescriptor> FactoryRegistry::algorithmDescriptors() const
{
    std::vector<AlgorithmDescriptor> result;
    std::lock_guard lock(mutex_);
    for (const AlgorithmFactory* factory : algorithmFactories_) {
        for (auto& e : factory->entries())
            result.push_back({e.id, e.menuPath, e.flags, factory->name(), std::move(e.creator)});
    }
    std::stable_sort(result.begin(), result.end(),
                     [](const AlgorithmDescriptor& a, const AlgorithmDescriptor& b) { return a.id < b.id; });
    return result;
}

std::optional<FactoryRegistry::AlgorithmDescriptor> FactoryRegistry::algorithmDescriptor(const std::string& name) const
{
    std::lock_guard lock(mutex_);
    for (const AlgorithmFactory* factory : algorithmFactories_) {
        if (auto e = factory->entry(name))
            return AlgorithmDescriptor{e->id, e->menuPath, e->flags, factory->name(), std::move(e->creator)};
    }
    return std::nullopt;
}

std::vector<std::string> FactoryRegistry::controllerMenuEntries() const
{
    std::vector<std::string> result;
    {
        std::lock_guard lock(mutex_);
        for (const AlgorithmControllerFactory* factory : controllerFactories_) {
            for (auto& entry : factory->menuEntries())
                result.push_back(std::move(entry));
        }
    }
    std::sort(result.begin(), result.end());
    return result;
}

std::unique_ptr<AlgorithmController> FactoryRegistry::createController(Algorithm* algorithm) const
{
    if (algorithm == nullptr)
        return nullptr;
    std::vector<AlgorithmControllerFactory*> factories;
    {
        std::lock_guard lock(mutex_);
        factories = controllerFactories_;
    }
    for (const AlgorithmControllerFactory* factory : factories) {
        if (auto controller = factory->create(algorithm))
            return controller;
    }
    return std::make_unique<DefaultAlgorithmController>(algorithm);
}

std::optional<DataAnnotation> FactoryRegistry::annotate(const Data& data) const
{
    std::vector<DataAnnotationFactory*> factories;
    {
        std::lock_guard lock(mutex_);
        factories = annotationFactories_;
    }
    for (const DataAnnotationFactory* factory : factories) {
        if (auto annotation = factory->annotate(data))
            return annotation;
    }
    return std::nullopt;
}

}  // namespace Corvexis
