// A working plug-in for the loader's and the host application's tests: a stream that emits a record
// every periodMs, its input algorithm, and an algorithm whose compute fails.

#include <chrono>

#include "Host/Core/Parameter.h"
#include "Host/Lib/AlgorithmFactory.h"
#include "Host/Lib/CorvexisLibPlugin.h"
#include "Host/Lib/PluginAutoRegistrationGuard.h"
#include "Host/Lib/PluginDescriptor.h"
#include "Stream/Framework/CreateStreamIoAlgorithm.h"
#include "Stream/Framework/TestStreams.h"

namespace Corvexis::Test {

class TicksStream : public Stream
{
public:
    TicksStream() : Stream("Ticks") {}
    ~TicksStream() override { close(); }

    Kind kind() const override { return Kind::ImageStream; }

    Parameter<int> periodMs{"periodMs", 10, this};
    Parameter<bool> failStart{"failStart", false, this};

protected:
    bool openImpl() override { return true; }
    bool closeImpl() override { return true; }
    bool startImpl() override { return !failStart.value(); }
    bool stopImpl() override { return true; }
    std::optional<WorkContinuation> doWork() override
    {
        const auto now = std::chrono::system_clock::now();
        auto record = std::make_shared<PlainRecord>(this);
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
        record->setTimestampArrival(static_cast<std::uint64_t>(ms));
        signalStreamData.emitSignal(record);
        return WorkContinuation{std::chrono::time_point_cast<Ticks>(now + std::chrono::milliseconds(periodMs.value()))};
    }
};

class FailingAlgorithm : public Algorithm
{
public:
    static bool createCompatible(const DataList& inputs, std::unique_ptr<Algorithm>* algorithm)
    {
        if (!inputs.empty())
            return false;
        if (algorithm != nullptr)
            *algorithm = std::make_unique<FailingAlgorithm>();
        return true;
    }
    void compute() override { setStatus(Status::Error); }
};

class TestStreamsFactory : public AlgorithmFactory
{
public:
    TestStreamsFactory() : AlgorithmFactory("Test")
    {
        registerAlgorithm<CreateStreamIoAlgorithm<TicksStream, true, true>>("CreateTicks", "Testing;Ticks Stream");
        registerAlgorithm<FailingAlgorithm>("Failing", "Testing;Failing Algorithm");
    }
};

class TestStreamsPlugin : public CorvexisLibPlugin
{
public:
    std::string author() const override { return "Tests"; }
    std::string description() const override { return "Streams for tests"; }
    Status init() override
    {
        registerFactories(nullptr, nullptr, std::make_unique<TestStreamsFactory>());
        return Status::Success;
    }
    static const char* id() { return "Corvexis.TestStreams"; }
};

namespace {
const PluginAutoRegistrationGuard kGuard(&TestStreamsPlugin::id);
}

}  // namespace Corvexis::Test

extern "C" {
__attribute__((visibility("default"))) Corvexis::PluginDescriptor corvexisPluginDescriptor{
    CORVEXIS_PLUGIN_MAGIC_TEXT, "1.0"};
__attribute__((visibility("default"))) Corvexis::PluginBase* corvexisCreatePlugin()
{
    return new Corvexis::Test::TestStreamsPlugin();
}
__attribute__((visibility("default"))) const char* corvexisPluginId()
{
    return Corvexis::Test::TestStreamsPlugin::id();
}
}
