#pragma once

#include <memory>
#include <string>

#include "Host/Lib/CorvexisLibPlugin.h"
#include "Host/Lib/PluginDescriptor.h"
#include "Host/Lib/SelectionWidget.h"

namespace Corvexis {

// The plug-in object of the streaming library. init() registers the algorithm, controller and
// data-annotation factories; they live as long as this object, and the video-file playback wrapper,
// which it unregisters when destroyed.
// Threading: caller synchronises (the host's main thread).
class StreamPlugin : public CorvexisLibPlugin
{
public:
    StreamPlugin();
    ~StreamPlugin() override;

    std::string author() const override;
    std::string description() const override;
    // Registers the factories; exceptions pass to the host after what was made is released.
    Status init() override;

    // "Corvexis.Stream".
    static const char* id();

private:
    // The video-file playback wrapper registered by init(), unregistered by the destructor.
    SelectionWidget::PlaybackWrapper* playbackWrapper_ = nullptr;
    // The "Network" algorithm table, registered beside the plug-in's own three factories.
    std::unique_ptr<AlgorithmFactory> networkAlgorithmFactory_;
};

}  // namespace Corvexis

// The library's exports, the only names it puts in the global namespace.
extern "C" {
// A new plug-in object, owned by the caller; null when it cannot be allocated.
Corvexis::PluginBase* corvexisCreatePlugin();
// The same text as StreamPlugin::id().
const char* corvexisPluginId();
// The host's compatibility text and the plug-in version.
extern Corvexis::PluginDescriptor corvexisPluginDescriptor;
}
