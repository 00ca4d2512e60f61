#include "Stream/StreamPlugin.h"

#include <new>

#include "Host/Lib/FactoryRegistry.h"
#include "Host/Lib/PluginAutoRegistrationGuard.h"
#include "Host/Lib/SelectionWidget.h"
#include "Stream/Network/NetworkAlgorithmFactory.h"
#include "Stream/StreamAlgorithmControllerFactory.h"
#include "Stream/StreamAlgorithmFactory.h"
#include "Stream/StreamDataAnnotationFactory.h"
#include "Stream/IGTL/DeviceKinds.h"
#include "Stream/Video/CameraBackends.h"
#include "Stream/Video/VideoFileStreamPlaybackWrapper.h"

namespace Corvexis {

StreamPlugin::StreamPlugin() = default;

StreamPlugin::~StreamPlugin()
{
    // The wrapper's code lives in this library, which may be unloaded after this object is gone.
    if (playbackWrapper_ != nullptr)
        SelectionWidget::unregisterPlaybackWrapper(playbackWrapper_);
    if (networkAlgorithmFactory_)
        FactoryRegistry::get().unregisterAlgorithmFactory(networkAlgorithmFactory_.get());
    CameraBackends::unregisterAll();
}

std::string StreamPlugin::author() const
{
    return "Corvexis Streaming Team";
}

std::string StreamPlugin::description() const
{
    return "Plugin for real-time streaming of image, tracking, or custom data and network communication";
}

PluginBase::Status StreamPlugin::init()
{
    // Each factory is owned by a unique_ptr from its creation, so an exception thrown by a later one
    // releases the earlier ones before it reaches the host.
    auto annotationFactory = std::make_unique<StreamDataAnnotationFactory>();
    auto controllerFactory = std::make_unique<StreamAlgorithmControllerFactory>();
    auto algorithmFactory = std::make_unique<StreamAlgorithmFactory>();
    registerFactories(std::move(annotationFactory), std::move(controllerFactory), std::move(algorithmFactory));
    auto networkFactory = std::make_unique<Network::NetworkAlgorithmFactory>();
    if (networkAlgorithmFactory_)
        FactoryRegistry::get().unregisterAlgorithmFactory(networkAlgorithmFactory_.get());
    networkAlgorithmFactory_ = std::move(networkFactory);
    FactoryRegistry::get().registerAlgorithmFactory(networkAlgorithmFactory_.get());
    if (playbackWrapper_ == nullptr)
        playbackWrapper_ =
            SelectionWidget::registerPlaybackWrapper(std::make_unique<VideoFileStreamPlaybackWrapper>());
    IGTL::DeviceKinds::registerAll();
    CameraBackends::registerAll();
    return Status::Success;
}

const char* StreamPlugin::id()
{
    return "Corvexis.Stream";
}

namespace {
const PluginAutoRegistrationGuard kRegistrationGuard(&StreamPlugin::id);
}

}  // namespace Corvexis

extern "C" {

__attribute__((visibility("default"))) Corvexis::PluginDescriptor corvexisPluginDescriptor{
    CORVEXIS_PLUGIN_MAGIC_TEXT, "UNKNOWN"};

__attribute__((visibility("default"))) Corvexis::PluginBase* corvexisCreatePlugin()
{
    return new (std::nothrow) Corvexis::StreamPlugin();
}

__attribute__((visibility("default"))) const char* corvexisPluginId()
{
    return Corvexis::StreamPlugin::id();
}
}
