#pragma once

#include <memory>

#include "Host/Lib/AlgorithmControllerFactory.h"
#include "Host/Lib/AlgorithmFactory.h"
#include "Host/Lib/DataAnnotationFactory.h"
#include "Host/Lib/PluginBase.h"

namespace Corvexis {

class ApplicationController;

// A plug-in that offers algorithms, controllers and data annotations. It owns the factories handed to
// registerFactories and keeps them registered with FactoryRegistry until it is destroyed, so they live
// exactly as long as the plug-in object. Threading: caller synchronises (the host's main thread).
class CorvexisLibPlugin : public PluginBase
{
public:
    CorvexisLibPlugin();
    // Unregisters the factories, then destroys them (algorithm, controller, annotation).
    ~CorvexisLibPlugin() override;

    // The host's application object, when it has one (headless hosts pass none). Borrowed.
    virtual void setApplicationController(ApplicationController* controller);
    ApplicationController* applicationController() const { return applicationController_; }

protected:
    // Takes ownership of the three factories (any may be null) and registers them with FactoryRegistry.
    // Calling it again replaces (unregisters and destroys) the factories given before.
    void registerFactories(std::unique_ptr<DataAnnotationFactory> annotationFactory,
                           std::unique_ptr<AlgorithmControllerFactory> controllerFactory,
                           std::unique_ptr<AlgorithmFactory> algorithmFactory);

private:
    void releaseFactories();

    ApplicationController* applicationController_ = nullptr;
    std::unique_ptr<DataAnnotationFactory> annotationFactory_;
    std::unique_ptr<AlgorithmControllerFactory> controllerFactory_;
    std::unique_ptr<AlgorithmFactory> algorithmFactory_;
};

}  // namespace Corvexis
