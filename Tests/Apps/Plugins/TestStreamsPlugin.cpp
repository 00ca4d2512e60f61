// A working plug-in for the loader's and the host application's tests: a stream that emits a record
// every periodMs, its input algorithm, an algorithm whose compute fails, a probe that prints every call
// the host makes (so tests observe their order), and an image stream of a known pattern.

#include <chrono>
#include <cstdint>
#include <iostream>

#include "Host/Core/MemImage.h"
#include "Host/Core/Parameter.h"
#include "Host/Lib/AlgorithmFactory.h"
#include "Host/Lib/CorvexisLibPlugin.h"
#include "Host/Lib/PluginAutoRegistrationGuard.h"
#include "Host/Lib/PluginDescriptor.h"
#include "Host/Lib/SharedImage.h"
#include "Stream/Framework/CreateStreamIoAlgorithm.h"
#include "Stream/Framework/ImageStreamData.h"
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
        return WorkContinuation{
            std::chrono::time_point_cast<Ticks>(now + std::chrono::milliseconds(periodMs.value()))};
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

// Takes any inputs and prints "probe <label>: ..." for configure, compute and its action "poke".
class ProbeAlgorithm : public Algorithm
{
public:
    explicit ProbeAlgorithm(const DataList& inputs) : inputs_(inputs)
    {
        count.setAttribute("min", "0");
        count.setAttribute("max", "10");
        registerAction("poke", "Poke", [this] {
            say("poke");
            return true;
        });
    }
    static bool createCompatible(const DataList& inputs, std::unique_ptr<Algorithm>* algorithm)
    {
        if (algorithm != nullptr)
            *algorithm = std::make_unique<ProbeAlgorithm>(inputs);
        return true;
    }
    void configure(const Properties* p) override
    {
        Algorithm::configure(p);
        say("configure count=" + std::to_string(count.value()));
    }
    void compute() override
    {
        std::string names;
        for (std::size_t i = 0; i < inputs_.size(); ++i)
            names += (i == 0 ? "" : ",") + inputs_[i]->name();
        say("compute with inputs [" + names + "]");
        setStatus(Status::Success);
    }

    Parameter<std::string> label{"label", "probe", this};
    Parameter<int> count{"count", 1, this};

private:
    void say(const std::string& what) const
    {
        std::cout << "probe " << label.value() << ": " << what << std::endl;
    }
    DataList inputs_;
};

// Emits a width x height image of a known pattern every 20 ms: channel c of pixel (x, y) holds
// (37 x + 11 y + 80 c) mod 256 for unsigned bytes, and (37 x + 11 y + 80 c) x 100 + 1000 for unsigned
// shorts (pixelType 5123).
class PatternStream : public Stream
{
public:
    PatternStream() : Stream("Pattern") {}
    ~PatternStream() override { close(); }

    Kind kind() const override { return Kind::ImageStream; }

    Parameter<int> width{"width", 7, this};
    Parameter<int> height{"height", 5, this};
    Parameter<int> channels{"channels", 1, this};
    Parameter<int> pixelType{"pixelType", 5121, this};

protected:
    bool openImpl() override { return true; }
    bool closeImpl() override { return true; }
    bool startImpl() override { return true; }
    bool stopImpl() override { return true; }
    std::optional<WorkContinuation> doWork() override
    {
        const auto now = std::chrono::system_clock::now();
        const bool shorts = pixelType.value() == ImageDescriptor::kUShort;
        auto image =
            MemImage::create(ImageDescriptor(shorts ? ImageDescriptor::kUShort : ImageDescriptor::kUByte,
                                             width.value(), height.value(), 1, channels.value()));
        for (int y = 0; y < height.value(); ++y) {
            for (int x = 0; x < width.value(); ++x) {
                for (int c = 0; c < channels.value(); ++c) {
                    const int base = 37 * x + 11 * y + 80 * c;
                    const std::size_t at =
                        (static_cast<std::size_t>(y) * width.value() + x) * channels.value() + c;
                    if (shorts)
                        static_cast<std::uint16_t*>(image->data())[at] =
                            static_cast<std::uint16_t>(base * 100 + 1000);
                    else
                        static_cast<std::uint8_t*>(image->data())[at] = static_cast<std::uint8_t>(base % 256);
                }
            }
        }
        auto record =
            std::make_shared<ImageStreamData>(this, std::make_unique<SharedImage>(std::move(image)));
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
        record->setTimestampArrival(static_cast<std::uint64_t>(ms));
        signalStreamData.emitSignal(record);
        return WorkContinuation{std::chrono::time_point_cast<Ticks>(now + std::chrono::milliseconds(20))};
    }
};

class TestStreamsFactory : public AlgorithmFactory
{
public:
    TestStreamsFactory() : AlgorithmFactory("Test")
    {
        registerAlgorithm<CreateStreamIoAlgorithm<TicksStream, true, true>>("CreateTicks",
                                                                            "Testing;Ticks Stream");
        registerAlgorithm<FailingAlgorithm>("Failing", "Testing;Failing Algorithm");
        registerAlgorithm<ProbeAlgorithm>("Probe", "Testing;Probe");
        registerAlgorithm<CreateStreamIoAlgorithm<PatternStream, true, true>>("CreatePattern",
                                                                              "Testing;Pattern Stream");
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
__attribute__((visibility("default")))
Corvexis::PluginDescriptor corvexisPluginDescriptor{CORVEXIS_PLUGIN_MAGIC_TEXT, "1.0"};
__attribute__((visibility("default"))) Corvexis::PluginBase* corvexisCreatePlugin()
{
    return new Corvexis::Test::TestStreamsPlugin();
}
__attribute__((visibility("default"))) const char* corvexisPluginId()
{
    return Corvexis::Test::TestStreamsPlugin::id();
}
}
