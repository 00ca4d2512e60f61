#include "Host/Lib/CorvexisLibPlugin.h"

#include "Host/Lib/AlgorithmControllerFactory.h"
#include "Host/Lib/AlgorithmFactory.h"
#include "Host/Lib/DataAnnotationFactory.h"
#include "Host/Lib/FactoryRegistry.h"

namespace Corvexis {

CorvexisLibPlugin::CorvexisLibPlugin() = default;

CorvexisLibPlugin::~CorvexisLibPlugin()
{
    releaseFactories();
}

void CorvexisLibPlugin::setApplicationController(ApplicationController* controller)
{
    applicationController_ = controller;
}

void CorvexisLibPlugin::registerFactories(std::unique_ptr<DataAnnotationFactory> annotationFactory,
                                          std::unique_ptr<AlgorithmControllerFactory> controllerFactory,
                                          std::unique_ptr<AlgorithmFactory> algorithmFactory)
{
    releaseFactories();
    annotationFactory_ = std::move(annotationFactory);
    controllerFactory_ = std::move(controllerFactory);
    algorithmFactory_ = std::move(algorithmFactory);
    auto& registry = FactoryRegistry::get();
    registry.registerAnnotationFactory(annotationFactory_.get());
    registry.registerControllerFactory(controllerFactory_.get());
    registry.registerAlgorithmFactory(algorithmFactory_.get());
}

void CorvexisLibPlugin::releaseFactories()
{
    // Unregister before destroying, so no other thread reaches a factory being destroyed.
    auto& registry = FactoryRegistry::get();
    registry.unregisterAlgorithmFactory(algorithmFactory_.get());
    registry.unregisterControllerFactory(controllerFactory_.get());
    registry.unregisterAnnotationFactory(annotationFactory_.get());
    algorithmFactory_.reset();
    controllerFactory_.reset();
    annotationFactory_.reset();
}

}  // namespace Corvexis
