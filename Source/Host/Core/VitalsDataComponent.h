#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "Host/Core/DataComponent.h"

namespace Corvexis {

// Physiological signals that accompany a frame or record (for example the ECG trace of an ultrasound
// frame): one or more time series, each a kind and its samples in time order. Caller synchronises.
class VitalsDataComponent : public DataComponent<VitalsDataComponent>
{
public:
    // Persistent values: stored in files.
    enum class VitalsKind : int
    {
        Ecg = 0,            // millivolts
        PulseOximetry = 1,  // oxygen saturation, percent
        Respiration = 2,    // relative amplitude
        BloodPressure = 3,  // mmHg
        HeartRate = 4,      // beats per minute
    };

    // 100-ns ticks since 1970-01-01 UTC on the system clock.
    using Ticks = std::chrono::duration<std::int64_t, std::ratio<1, 10'000'000>>;
    using TimePoint = std::chrono::time_point<std::chrono::system_clock, Ticks>;

    struct Sample
    {
        TimePoint time;
        double value = 0.0;
        bool operator==(const Sample&) const = default;
    };

    struct TimeSeries
    {
        VitalsKind kind = VitalsKind::Ecg;
        std::vector<Sample> samples;
        bool operator==(const TimeSeries&) const = default;
    };

    std::string id() const override { return "VitalsDataComponent"; }

    // Appends a series (an empty one is kept: it says that no sample fell into this record).
    void addTimeSeries(VitalsKind kind, std::vector<Sample> samples);
    const std::vector<TimeSeries>& timeSeries() const { return series_; }
    // The first series of `kind`, or null.
    const TimeSeries* timeSeries(VitalsKind kind) const;
    // Samples over all series.
    std::size_t sampleCount() const;
    void clear() { series_.clear(); }

    // One sub-block "TimeSeries" per series with "kind" (int), "times" (ticks) and "values". configure
    // replaces the series; a block whose lists are missing, malformed or of different lengths is
    // skipped with a warning under "VitalsDataComponent".
    void configure(const Properties* p) override;
    void configuration(Properties* p) const override;

    bool operator==(const VitalsDataComponent& other) const { return series_ == other.series_; }

    // "ECG", "SpO2", "Respiration", "Blood Pressure", "Heart Rate"; "Unknown" otherwise.
    static std::string kindName(VitalsKind kind);
    // "mV", "%", "", "mmHg", "bpm"; "" otherwise.
    static std::string unit(VitalsKind kind);

private:
    std::vector<TimeSeries> series_;
};

}  // namespace Corvexis
