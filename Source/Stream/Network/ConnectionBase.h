#pragma once

namespace Corvexis::Network {

// Root of every network connection, so that owners can hold connections of either message type
// through one pointer. Destroying a connection stops and joins its network threads. Not copyable.
class ConnectionBase
{
public:
    ConnectionBase() = default;
    virtual ~ConnectionBase();
    ConnectionBase(const ConnectionBase&) = delete;
    ConnectionBase& operator=(const ConnectionBase&) = delete;
};

}  // namespace Corvexis::Network
