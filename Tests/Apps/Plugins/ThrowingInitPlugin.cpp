// A plug-in whose initialisation throws after registering a factory: the loader must skip it and
// the factory must be gone again.

#include <stdexcept>

#include "Host/Lib/AlgorithmFactory.h"
#include "Host/Lib/CorvexisLibPlugin.h"
#include "Host/Lib/PluginDescriptor.h"

namespace Corvexis::Test {

class NeverAlgorithm : public Algorithm
{
public:
    void compute() override { setStatus(Status::Success); }
};

class ThrowingInitPlugin : public CorvexisLibPlugin
{
public:
    std::string author() const override { return "Tests"; }
    std::string description() const override { return "Throws in init"; }
    Status init() override
    {
        auto factory = std::make_unique<AlgorithmFactory>("Throwing");
        factory->registerAlgorithm("Never", "Testing;Never",
                                   [](const DataList&) { return std::make_unique<NeverAlgorithm>(); });
        registerFactories(nullptr, nullptr, std::move(factory));
        throw std::runtime_error("init failed on purpose");
    }
};

}  // namespace Corvexis::Test

extern "C" {
__attribute__((visibility("default"))) Corvexis::PluginDescriptor corvexisPluginDescriptor{
    CORVEXIS_PLUGIN_MAGIC_TEXT, "0.1"};
__attribute__((visibility("default"))) Corvexis::PluginBase* corvexisCreatePlugin()
{
    return new Corvexis::Test::ThrowingInitPlugin();
}
__attribute__((visibility("default"))) const char* corvexisPluginId()
{
    return "Corvexis.ThrowingInit";
}
}
