#include "Apps/corvexis/StreamWatch.h"

#include <algorithm>
#include <ctime>

#include <fmt/format.h>

#include "Stream/Framework/PolyDataStream.h"
#include "Stream/Framework/PolyDataStreamData.h"
#include "Stream/Framework/Stream.h"
#include "Stream/Framework/StreamData.h"
#include "Stream/Framework/TrackingStream.h"
#include "Stream/Framework/TrackingStreamData.h"

namespace Corvexis {

StreamWatch::StreamWatch(Stream& stream) : stream_(stream) {}

void StreamWatch::start()
{
    stream_.signalStreamData.connect(this, [this](std::shared_ptr<const StreamData> record) {
        if (!record)
            return;
        const std::uint64_t arrival = record->timestampArrival();
        const auto* poly = dynamic_cast<const PolyDataStreamData*>(record.get());
        const std::size_t meshes = poly != nullptr ? poly->meshes().size() : 0;
        const std::size_t clouds = poly != nullptr ? poly->pointClouds().size() : 0;
        std::lock_guard lock(mutex_);
        if (records_ == 0)
            firstArrivalMs_ = arrival;
        lastArrivalMs_ = arrival;
        ++records_;
        if (poly != nullptr) {
            const bool first = polyRecords_++ == 0;
            minMeshes_ = first ? meshes : std::min(minMeshes_, meshes);
            maxMeshes_ = first ? meshes : std::max(maxMeshes_, meshes);
            minClouds_ = first ? clouds : std::min(minClouds_, clouds);
            maxClouds_ = first ? clouds : std::max(maxClouds_, clouds);
        }
        latest_ = std::move(record);
    });
}

void StreamWatch::stop()
{
    disconnectAll();
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

std::string StreamWatch::detail() const
{
    std::shared_ptr<const StreamData> latest;
    {
        std::lock_guard lock(mutex_);
        latest = latest_;
    }
    if (dynamic_cast<const PolyDataStream*>(&stream_) != nullptr) {
        const auto* poly = dynamic_cast<const PolyDataStreamData*>(latest.get());
        if (poly == nullptr)
            return "  | no poly data yet";
        return fmt::format("  | meshes {}, point clouds {}", poly->meshes().size(),
                           poly->pointClouds().size());
    }
    const auto* tracking = dynamic_cast<const TrackingStream*>(&stream_);
    if (tracking == nullptr)
        return {};
    const auto* record = dynamic_cast<const TrackingStreamData*>(latest.get());
    if (record == nullptr)
        return "  | no poses yet";
    const std::string mainId = tracking->mainInstrumentId();
    std::optional<TrackingInstrument> main = record->instrument(mainId);
    if (!main)
        return "  | main instrument '" + mainId + "' not in the newest record";
    const Eigen::Vector3d p = main->matrix.block<3, 1>(0, 3);
    return fmt::format("  | main {} at ({:.2f}, {:.2f}, {:.2f}) mm, quality {:.2f}", main->id.name(), p.x(),
                       p.y(), p.z(), main->quality);
}

std::string StreamWatch::summaryDetail() const
{
    std::lock_guard lock(mutex_);
    if (polyRecords_ == 0)
        return {};
    const auto range = [](std::size_t low, std::size_t high) {
        return low == high ? fmt::format("{}", low) : fmt::format("{} to {}", low, high);
    };
    return "  per record: meshes " + range(minMeshes_, maxMeshes_) + ", point clouds " +
           range(minClouds_, maxClouds_);
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
