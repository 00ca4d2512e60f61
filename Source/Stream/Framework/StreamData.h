#pragma once

#include <chrono>
#include <cstdint>
#include <memory>

#include "Host/Core/DataComponentList.h"

namespace Corvexis {

class Stream;

// One immutable record of a stream: what a source emits on Stream::signalStreamData. Built by one thread,
// then shared read-only (as std::shared_ptr<const StreamData>) between threads; consumers that need to
// change it take a clone(). Caller synchronises while building; read-only access is thread-safe.
//
// Timestamps are milliseconds since 1970-01-01 UTC: the arrival time (when this machine made the record)
// and the device time (the source's own clock, or the arrival time when it has none; 0 = not set).
class StreamData
{
public:
    virtual ~StreamData() = default;

    virtual std::unique_ptr<StreamData> clone() const = 0;
    // The producing stream; not owned, may be null for records built outside a stream.
    virtual Stream* stream() const { return stream_; }
    virtual std::uint64_t timestampDevice() const { return timestampDevice_; }
    virtual void setTimestampDevice(std::uint64_t ms) { timestampDevice_ = ms; }
    virtual std::uint64_t timestampArrival() const { return timestampArrival_; }
    virtual void setTimestampArrival(std::uint64_t ms) { timestampArrival_ = ms; }
    // Stores the time point's 100-ns tick count divided by 10000, truncated toward zero.
    virtual void setTimestampArrival(std::chrono::system_clock::time_point time);

    DataComponentList& components() { return components_; }
    const DataComponentList& components() const { return components_; }

protected:
    explicit StreamData(Stream* stream) : stream_(stream) {}
    StreamData(Stream* stream, DataComponentList&& components)
        : stream_(stream), components_(std::move(components))
    {
    }
    StreamData(const StreamData& other) = default;
    StreamData& operator=(const StreamData&) = delete;

private:
    Stream* stream_ = nullptr;
    std::uint64_t timestampDevice_ = 0;
    std::uint64_t timestampArrival_ = 0;
    DataComponentList components_;
};

}  // namespace Corvexis
