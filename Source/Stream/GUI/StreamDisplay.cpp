#include "Stream/GUI/StreamDisplay.h"

#include <ctime>

#include <fmt/format.h>

#include "Stream/Framework/Stream.h"
#include "Stream/Framework/StreamData.h"

namespace Corvexis {

StreamDisplay::StreamDisplay(Stream& stream) : stream_(stream) {}

StreamDisplay::~StreamDisplay()
{
    disconnectAll();
}

Data& StreamDisplay::data() const
{
    return stream_;
}

void StreamDisplay::startWatching()
{
    stream_.signalStreamData.connect(this, [this](std::shared_ptr<const StreamData> record) {
        if (!record)
            return;
        recordArrived(*record);
        const std::uint64_t arrival = record->timestampArrival();
        std::lock_guard lock(mutex_);
        if (records_ == 0)
            firstArrivalMs_ = arrival;
        else if (arrival > lastArrivalMs_)
            longestGapMs_ = std::max(longestGapMs_, arrival - lastArrivalMs_);
        lastArrivalMs_ = arrival;
        ++records_;
        latest_ = std::move(record);
    });
}

void StreamDisplay::stopWatching()
{
    disconnectAll();
}

std::string StreamDisplay::statusLine() const
{
    return fmt::format("{}  {}  {}{}", stream_.name(), Stream::stateToString(stream_.currentState()),
                       stream_.describe(), detail());
}

bool StreamDisplay::isActive() const
{
    switch (stream_.currentState()) {
        case Stream::State::Starting:
        case Stream::State::Running:
        case Stream::State::Pausing:
        case Stream::State::Paused:
        case Stream::State::Resuming:
            return true;
        default:
            return false;
    }
}

std::vector<std::string> StreamDisplay::summary() const
{
    std::vector<std::string> lines{fmt::format(
        "Summary {}: {} records, {:.1f} Hz measured, first arrival {}, last arrival {}, longest gap "
        "{} ms",
        stream_.name(), records(), measuredRate(), formatTimestamp(firstArrivalMs()),
        formatTimestamp(lastArrivalMs()), longestGapMs())};
    for (auto& line : summaryDetail())
        lines.push_back(std::move(line));
    return lines;
}

bool StreamDisplay::snapshot(const std::string&, std::vector<std::string>*, std::string*)
{
    return true;
}

std::vector<std::string> StreamDisplay::requests() const
{
    return {"open", "start", "pause", "resume", "stop", "close"};
}

bool StreamDisplay::request(const std::string& name)
{
    if (name == "open")
        return stream_.open();
    if (name == "start")
        return stream_.start();
    if (name == "pause")
        return stream_.pause();
    if (name == "resume")
        return stream_.resume();
    if (name == "stop")
        return stream_.stop();
    if (name == "close")
        return stream_.close();
    return false;
}

std::uint64_t StreamDisplay::records() const
{
    std::lock_guard lock(mutex_);
    return records_;
}

std::uint64_t StreamDisplay::firstArrivalMs() const
{
    std::lock_guard lock(mutex_);
    return firstArrivalMs_;
}

std::uint64_t StreamDisplay::lastArrivalMs() const
{
    std::lock_guard lock(mutex_);
    return lastArrivalMs_;
}

std::uint64_t StreamDisplay::longestGapMs() const
{
    std::lock_guard lock(mutex_);
    return longestGapMs_;
}

double StreamDisplay::measuredRate() const
{
    std::lock_guard lock(mutex_);
    if (records_ < 2 || lastArrivalMs_ <= firstArrivalMs_)
        return 0.0;
    return static_cast<double>(records_ - 1) * 1000.0 / static_cast<double>(lastArrivalMs_ - firstArrivalMs_);
}

std::shared_ptr<const StreamData> StreamDisplay::latest() const
{
    std::lock_guard lock(mutex_);
    return latest_;
}

std::string StreamDisplay::detail() const
{
    return {};
}

std::vector<std::string> StreamDisplay::summaryDetail() const
{
    return {};
}

void StreamDisplay::recordArrived(const StreamData&) {}

std::string StreamDisplay::formatTimestamp(std::uint64_t ms)
{
    if (ms == 0)
        return "-";
    const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    return fmt::format("{:04}-{:02}-{:02} {:02}:{:02}:{:02}.{:03} UTC", utc.tm_year + 1900, utc.tm_mon + 1,
                       utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, ms % 1000);
}

std::string StreamDisplay::fileNameOf(const std::string& name)
{
    std::string result;
    for (char c : name) {
        const bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                          c == '-' || c == '.' || c == '_';
        result += keep ? c : '_';
    }
    return result.empty() || result.front() == '.' ? "_" + result : result;
}

}  // namespace Corvexis
