#include "Host/Core/VitalsDataComponent.h"

#include <fmt/format.h>

#include "Host/Core/Log.h"
#include "Host/Core/Properties.h"

namespace Corvexis {

namespace {

constexpr const char* kCategory = "VitalsDataComponent";
constexpr int kLastKind = static_cast<int>(VitalsDataComponent::VitalsKind::HeartRate);

}  // namespace

void VitalsDataComponent::addTimeSeries(VitalsKind kind, std::vector<Sample> samples)
{
    series_.push_back({kind, std::move(samples)});
}

const VitalsDataComponent::TimeSeries* VitalsDataComponent::timeSeries(VitalsKind kind) const
{
    for (const auto& s : series_) {
        if (s.kind == kind)
            return &s;
    }
    return nullptr;
}

std::size_t VitalsDataComponent::sampleCount() const
{
    std::size_t n = 0;
    for (const auto& s : series_)
        n += s.samples.size();
    return n;
}

void VitalsDataComponent::configuration(Properties* p) const
{
    if (!p)
        return;
    for (const auto& s : series_) {
        Properties* block = p->addSubProperties("TimeSeries");
        std::vector<std::int64_t> times;
        std::vector<double> values;
        times.reserve(s.samples.size());
        values.reserve(s.samples.size());
        for (const auto& sample : s.samples) {
            times.push_back(sample.time.time_since_epoch().count());
            values.push_back(sample.value);
        }
        block->setParam("kind", static_cast<int>(s.kind));
        block->setParam("times", times);
        block->setParam("values", values);
    }
}

void VitalsDataComponent::configure(const Properties* p)
{
    if (!p)
        return;
    std::vector<TimeSeries> loaded;
    for (const Properties* block : p->subPropertiesList("TimeSeries")) {
        int kind = 0;
        std::vector<std::int64_t> times;
        std::vector<double> values;
        if (!block->getParam("kind", kind) || kind < 0 || kind > kLastKind ||
            !block->getParam("times", times) || !block->getParam("values", values) ||
            times.size() != values.size()) {
            Log::log(Log::Level::Warning, kCategory,
                     fmt::format("Skipping malformed time series {} of vitals data", loaded.size()));
            continue;
        }
        TimeSeries s{static_cast<VitalsKind>(kind), {}};
        s.samples.reserve(times.size());
        for (std::size_t i = 0; i < times.size(); ++i)
            s.samples.push_back({TimePoint(Ticks(times[i])), values[i]});
        loaded.push_back(std::move(s));
    }
    series_ = std::move(loaded);
}

std::string VitalsDataComponent::kindName(VitalsKind kind)
{
    switch (kind) {
        case VitalsKind::Ecg:
            return "ECG";
        case VitalsKind::PulseOximetry:
            return "SpO2";
        case VitalsKind::Respiration:
            return "Respiration";
        case VitalsKind::BloodPressure:
            return "Blood Pressure";
        case VitalsKind::HeartRate:
            return "Heart Rate";
    }
    return "Unknown";
}

std::string VitalsDataComponent::unit(VitalsKind kind)
{
    switch (kind) {
        case VitalsKind::Ecg:
            return "mV";
        case VitalsKind::PulseOximetry:
            return "%";
        case VitalsKind::Respiration:
            return "";
        case VitalsKind::BloodPressure:
            return "mmHg";
        case VitalsKind::HeartRate:
            return "bpm";
    }
    return "";
}

}  // namespace Corvexis
