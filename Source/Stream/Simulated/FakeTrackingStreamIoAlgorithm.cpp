#include "Stream/Simulated/FakeTrackingStreamIoAlgorithm.h"

#include <cstdlib>

#include "Host/Core/Log.h"

namespace Corvexis {

namespace {

constexpr const char* kCategory = "FakeTrackingStreamIoAlgorithm";
constexpr std::string_view kIdPrefix = "faketrk-";

// The number after "faketrk-", or -1 for an identifier of another form.
long suffixOf(const std::string& id)
{
    if (id.compare(0, kIdPrefix.size(), kIdPrefix) != 0 || id.size() == kIdPrefix.size())
        return -1;
    char* end = nullptr;
    const long n = std::strtol(id.c_str() + kIdPrefix.size(), &end, 10);
    return *end == '\0' ? n : -1;
}

}  // namespace

FakeTrackingStreamIoAlgorithm::FakeTrackingStreamIoAlgorithm()
{
    using Fake = FakeTrackingStream;
    registerAction("addOscillatingDevice", "Add oscillating device", [this] {
        return addDevice("addOscillatingDevice", std::make_unique<Fake::OscillatingDevice>());
    });
    registerAction("addSweepDevice", "Add sweep device",
                   [this] { return addDevice("addSweepDevice", std::make_unique<Fake::SweepDevice>()); });
    registerAction("addConstantDevice", "Add constant device", [this] {
        return addDevice("addConstantDevice", std::make_unique<Fake::ConstantDevice>());
    });
    registerAction("removeDevice", "Remove device", [this] { return removeLastDevice(); });
}

FakeTrackingStreamIoAlgorithm::~FakeTrackingStreamIoAlgorithm() = default;

bool FakeTrackingStreamIoAlgorithm::createCompatible(const DataList& inputs,
                                                     std::unique_ptr<Algorithm>* algorithm)
{
    if (!inputs.empty())
        return false;
    if (algorithm != nullptr)
        *algorithm = std::make_unique<FakeTrackingStreamIoAlgorithm>();
    return true;
}

FakeTrackingStream* FakeTrackingStreamIoAlgorithm::fakeStream() const
{
    return dynamic_cast<FakeTrackingStream*>(stream());
}

bool FakeTrackingStreamIoAlgorithm::addDevice(const std::string& action,
                                              std::unique_ptr<FakeTrackingStream::Device> device)
{
    FakeTrackingStream* s = fakeStream();
    if (s == nullptr) {
        Log::log(Log::Level::Error, kCategory,
                 "FakeTrackingStreamIoAlgorithm " + action +
                     "(): there is no stream; compute the algorithm first");
        return false;
    }
    const std::string id = s->addDevice(std::move(device));
    Log::log(Log::Level::Info, kCategory,
             "FakeTrackingStreamIoAlgorithm " + action + "(): added " + id +
                 ", number of devices: " + std::to_string(s->numInstruments(false)));
    return !id.empty();
}

bool FakeTrackingStreamIoAlgorithm::removeLastDevice()
{
    FakeTrackingStream* s = fakeStream();
    if (s == nullptr) {
        Log::log(
            Log::Level::Error, kCategory,
            "FakeTrackingStreamIoAlgorithm removeDevice(): there is no stream; compute the algorithm first");
        return false;
    }
    // "The last" is the device with the largest identifier number: the one added last, unless devices
    // were removed in between (addDevice reuses the smallest free number). Compared as numbers, since in
    // identifier order "faketrk-10" comes before "faketrk-2".
    std::string last;
    long lastSuffix = -2;
    for (const TrackingInstrument& instrument : s->instruments()) {
        const long suffix = suffixOf(instrument.id.ID());
        if (suffix >= lastSuffix) {
            lastSuffix = suffix;
            last = instrument.id.ID();
        }
    }
    if (last.empty() || !s->removeDevice(last)) {
        Log::log(Log::Level::Error, kCategory,
                 "FakeTrackingStreamIoAlgorithm removeDevice(): there is no device");
        return false;
    }
    Log::log(Log::Level::Info, kCategory,
             "FakeTrackingStreamIoAlgorithm removeDevice(): removed " + last +
                 ", number of devices: " + std::to_string(s->numInstruments(false)));
    return true;
}

}  // namespace Corvexis
