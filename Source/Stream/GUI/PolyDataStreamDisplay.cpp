#include "Stream/GUI/PolyDataStreamDisplay.h"

#include <algorithm>

#include <fmt/format.h>

#include "Stream/Framework/PolyDataStreamData.h"

namespace Corvexis {

std::string PolyDataStreamDisplay::detail() const
{
    const auto record = latest();
    const auto* poly = dynamic_cast<const PolyDataStreamData*>(record.get());
    if (poly == nullptr)
        return "  | no poly data yet";
    return fmt::format("  | meshes {}, point clouds {}", poly->meshes().size(), poly->pointClouds().size());
}

void PolyDataStreamDisplay::recordArrived(const StreamData& record)
{
    const auto* poly = dynamic_cast<const PolyDataStreamData*>(&record);
    if (poly == nullptr)
        return;
    const std::size_t meshes = poly->meshes().size();
    const std::size_t clouds = poly->pointClouds().size();
    std::lock_guard lock(countsMutex_);
    const bool first = polyRecords_++ == 0;
    minMeshes_ = first ? meshes : std::min(minMeshes_, meshes);
    maxMeshes_ = first ? meshes : std::max(maxMeshes_, meshes);
    minClouds_ = first ? clouds : std::min(minClouds_, clouds);
    maxClouds_ = first ? clouds : std::max(maxClouds_, clouds);
}

std::vector<std::string> PolyDataStreamDisplay::summaryDetail() const
{
    std::lock_guard lock(countsMutex_);
    if (polyRecords_ == 0)
        return {};
    const auto range = [](std::size_t low, std::size_t high) {
        return low == high ? fmt::format("{}", low) : fmt::format("{} to {}", low, high);
    };
    return {"  per record: meshes " + range(minMeshes_, maxMeshes_) + ", point clouds " +
            range(minClouds_, maxClouds_)};
}

}  // namespace Corvexis
