#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "Stream/GUI/StreamDisplay.h"

namespace Corvexis {

// A poly-data stream on a host view: the status line adds the meshes and point clouds of the newest
// record, the summary the fewest and most of each per record. Threading as StreamDisplay; the counts
// are guarded by countsMutex_.
class PolyDataStreamDisplay : public StreamDisplay
{
public:
    using StreamDisplay::StreamDisplay;

protected:
    std::string detail() const override;
    std::vector<std::string> summaryDetail() const override;
    void recordArrived(const StreamData& record) override;

private:
    mutable std::mutex countsMutex_;
    // guarded by countsMutex_
    std::uint64_t polyRecords_ = 0;
    std::size_t minMeshes_ = 0;
    std::size_t maxMeshes_ = 0;
    std::size_t minClouds_ = 0;
    std::size_t maxClouds_ = 0;
};

}  // namespace Corvexis
