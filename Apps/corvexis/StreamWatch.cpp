#include "Apps/corvexis/StreamWatch.h"

#include <ctime>

#include <fmt/format.h>

#include "Stream/Stream.h"
#include "Stream/StreamData.h"

namespace Corvexis {

StreamWatch::StreamWatch(Stream& stream) : stream_(stream)
{
    stream_.signalStreamData.connect(this, [this](std::shared_ptr<const StreamData> record) {
        if (!record)
            return;
        const std::uint64_t arrival = record->timestampArrival();
        std::lock_guard lock(mutex_);
        if (records_ == 0)
            firstArrivalMs_ = arrival;
        lastArrivalMs_ = arrival;
        ++records_;
    });
}

StreamWatch::~StreamWatch()
{
    disconnectAll();
}

std::uint64_t StreamWatch::records() const
{
    std::lock_guard lock(mutex_);
    return records_;
}

std::uint64_t StreamWatch::firstArrivalMs() const
{
    std::lock_guard lock(mutex_);
    return firstArrivalMs_;
}

std::uint64_t StreamWatch::lastArrivalMs() const
{
    std::lock_guard lock(mutex_);
    return lastArrivalMs_;
}

double StreamWatch::measuredRate() const
{
    std::lock_guard lock(mutex_);
    if (records_ < 2 || lastArrivalMs_ <= firstArrivalMs_)
        return 0.0;
    return static_cast<double>(records_ - 1) * 1000.0 / static_cast<double>(lastArrivalMs_ - firstArrivalMs_);
}

std::string StreamWatch::formatTimestamp(std::uint64_t ms)
{
    if (ms == 0)
        return "-";
    const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    return fmt::format("{:04}-{:02}-{:02} {:02}:{:02}:{:02}.{:03} UTC", utc.tm_year + 1900, utc.tm_mon + 1,
                       utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, ms % 1000);
}

}  // namespace Corvexis
