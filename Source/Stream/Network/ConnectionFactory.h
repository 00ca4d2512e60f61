#pragma once

#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "Host/Core/Properties.h"
#include "Stream/Network/ConnectionBlueprint.h"

namespace Corvexis::Network {

// The table of connection kinds for one message type, by protocol name. The process-wide instance holds
// the five built-in kinds ("Websocket Client", "Websocket Server", "TCP Socket Client", "TCP Socket
// Server", "UDP Socket") from its creation.
//
// Threading: the map has no lock. Register on the thread that first used instance() (plug-in start-up);
// afterwards lookups are thread-safe as long as nobody registers.
template <typename T>
class ConnectionFactory
{
public:
    // Created on first use (thread-safe), destroyed at unload.
    static ConnectionFactory& instance();

    ConnectionFactory(const ConnectionFactory&) = default;
    ConnectionFactory& operator=(const ConnectionFactory&) = default;
    ConnectionFactory(ConnectionFactory&&) noexcept = default;
    ConnectionFactory& operator=(ConnectionFactory&&) noexcept = default;
    ~ConnectionFactory();

    // Stores `blueprint` under its protocol; an existing entry is replaced with a warning. Always true.
    // Caller synchronises.
    bool registerBlueprint(ConnectionBlueprint<T>&& blueprint);
    // A new connection of the kind `protocol`, or null when it is not registered.
    std::unique_ptr<TypedConnectionBase<T>> createConnection(const std::string& protocol,
                                                             const Properties& properties) const;
    // The construction parameters of `protocol` with their defaults; empty when it is not registered.
    std::optional<Properties> connectionProperties(const std::string& protocol) const;
    // Every registered protocol, in the map's iteration order.
    std::vector<std::string> supportedConnections() const;

private:
    ConnectionFactory();

    std::unordered_map<std::string, ConnectionBlueprint<T>> blueprints_;
};

}  // namespace Corvexis::Network
