#pragma once

#include <cstdint>
#include <mutex>
#include <set>
#include <vector>

#include "Stream/Framework/OutputConnection.h"
#include "Stream/Framework/StreamData.h"

namespace Corvexis::Test {

// Accepts the kinds it is told and counts what reaches it.
class RecordingConnection : public OutputConnection
{
public:
    explicit RecordingConnection(std::set<Data::Kind> kinds) : kinds_(std::move(kinds)) {}

    bool openConnection() override { return true; }
    bool closeConnection() override { return true; }
    bool isConnected() const override { return true; }
    bool isCompatible(Data::Kind kind) const override { return kinds_.count(kind) > 0; }
    void sendStreamData(const StreamData& data) override
    {
        std::lock_guard lock(mutex_);
        sent_.push_back(data.timestampArrival());
    }
    std::vector<std::uint64_t> sent() const
    {
        std::lock_guard lock(mutex_);
        return sent_;
    }

private:
    const std::set<Data::Kind> kinds_;
    mutable std::mutex mutex_;
    std::vector<std::uint64_t> sent_;
};

}  // namespace Corvexis::Test
