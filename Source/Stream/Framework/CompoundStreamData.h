#pragma once

#include <memory>
#include <vector>

#include "Stream/Framework/StreamData.h"

namespace Corvexis {

// The records of one emission of a stream group: the group's own (proxy) record and one record per
// substream, in the group's order. A plain value; caller synchronises.
class CompoundStreamData
{
public:
    CompoundStreamData(std::shared_ptr<const StreamData> proxy,
                       std::vector<std::shared_ptr<const StreamData>> substreams)
        : proxy_(std::move(proxy)), substreams_(std::move(substreams))
    {
    }

    std::shared_ptr<const StreamData> proxyStreamData() const { return proxy_; }
    std::vector<std::shared_ptr<const StreamData>> substreamsStreamData() const { return substreams_; }

private:
    std::shared_ptr<const StreamData> proxy_;
    std::vector<std::shared_ptr<const StreamData>> substreams_;
};

}  // namespace Corvexis
