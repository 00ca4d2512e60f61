#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "Host/Core/Signal.h"
#include "Host/Core/SignalReceiver.h"

namespace Corvexis {

class Stream;
class StreamData;

// Record rate over the last N records of a stream, from the records' own timestamps (not wall-clock).
// Every Stream owns one connected to itself; user-interface code may make more with other settings.
// Thread-safe: records arrive on the emitting thread, readers are anywhere; mutex_ guards every field.
class StreamFps : public SignalReceiver
{
public:
    StreamFps();
    ~StreamFps() override;

    // Connects to the stream's records and state changes (a state change clears the measurement).
    // Thread-safe.
    void connect(Stream* stream);
    void disconnect(Stream* stream);

    // Records per second; clears changed(). Thread-safe.
    double fps();
    // Whether the rate changed since the last fps(). Thread-safe.
    bool changed() const;

    // Values below 1 become 1; a changed value clears the measurement. Thread-safe.
    void setNumberOfFrames(int n);
    // Measure device time instead of arrival time; a changed value clears the measurement. Thread-safe.
    void setUseDeviceTimestamp(bool useDevice);
    // Decimal digits kept; 11 or more: no rounding. Thread-safe.
    void setRounding(int digits);
    // Recompute at most once per interval (0: on every record). Thread-safe.
    void setUpdateInterval(double seconds);

    // Feeds one record, as the stream connection does. Thread-safe.
    void addRecord(const StreamData& data);
    // Empties the measurement (rate 0). Thread-safe.
    void clear();

private:
    void clearLocked();
    void recomputeLocked();

    mutable std::mutex mutex_;
    // guarded by mutex_
    std::vector<std::uint64_t> timestamps_;  // ring of at most numberOfFrames_ + 1 timestamps, in ms
    int writeIndex_ = 0;
    bool useDeviceTimestamp_ = false;
    bool changed_ = false;
    int numberOfFrames_ = 10;
    int rounding_ = 0;
    double fps_ = 0.0;
    double updateIntervalMs_ = 0.0;
    std::uint64_t lastUpdate_ = 0;
    struct Connections
    {
        Stream* stream;
        SignalConnection data;
        SignalConnection state;
    };
    std::vector<Connections> connections_;
};

}  // namespace Corvexis
