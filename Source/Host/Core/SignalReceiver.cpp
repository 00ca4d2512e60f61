#include "Host/Core/SignalReceiver.h"

#include <algorithm>

namespace Corvexis {

SignalReceiver::~SignalReceiver()
{
    disconnectAll();
}

void SignalReceiver::disconnectAll()
{
    // Disconnect outside mutex_: disconnect() may wait for a callable that itself connects through
    // this receiver. Repeat until no callable added one meanwhile.
    for (;;) {
        std::vector<SignalConnection> connections;
        {
            std::lock_guard lock(mutex_);
            connections.swap(connections_);
            pruneAt_ = kMinimumPruneSize;
        }
        if (connections.empty())
            return;
        for (const auto& connection : connections)
            connection.disconnect();
    }
}

size_t SignalReceiver::tiedConnectionCount() const
{
    std::lock_guard lock(mutex_);
    return static_cast<size_t>(std::count_if(connections_.begin(), connections_.end(),
                                             [](const auto& c) { return c.isConnected(); }));
}

void SignalReceiver::tie(const SignalConnection& connection)
{
    std::lock_guard lock(mutex_);
    // Receivers that connect and disconnect often (one-shot connections) would otherwise grow the list
    // without bound; dropping ended handles when it doubles keeps tie() amortised constant.
    if (connections_.size() >= pruneAt_) {
        std::erase_if(connections_, [](const auto& c) { return !c.isConnected(); });
        pruneAt_ = std::max(kMinimumPruneSize, connections_.size() * 2);
    }
    connections_.push_back(connection);
}

}  // namespace Corvexis
