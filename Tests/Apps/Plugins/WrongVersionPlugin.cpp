// A plug-in built for another host version: the loader must refuse it before creating anything.

#include <stdexcept>

#include "Host/Lib/CorvexisLibPlugin.h"
#include "Host/Lib/PluginDescriptor.h"

namespace Corvexis::Test {

class WrongVersionPlugin : public CorvexisLibPlugin
{
public:
    std::string author() const override { return "Tests"; }
    std::string description() const override { return "Built for host 4.4.0"; }
    Status init() override { throw std::logic_error("a refused plug-in must never be initialised"); }
};

}  // namespace Corvexis::Test

extern "C" {
__attribute__((visibility("default"))) Corvexis::PluginDescriptor corvexisPluginDescriptor{
    "__CORVEXIS_PLUGIN_V2_MAGIC_STRING__|hostversion=4.4.0|buildflags=CXXABI:" CORVEXIS_PLUGIN_STRINGIFY(
        __GXX_ABI_VERSION) ",IDL:" CORVEXIS_PLUGIN_IDL "|pluginversion=",
    "0.9"};
__attribute__((visibility("default"))) Corvexis::PluginBase* corvexisCreatePlugin()
{
    return new Corvexis::Test::WrongVersionPlugin();
}
__attribute__((visibility("default"))) const char* corvexisPluginId()
{
    return "Corvexis.WrongVersion";
}
}
