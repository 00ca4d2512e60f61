#include "Stream/Network/ConnectionFactory.h"

#include "Host/Core/ByteBuffer.h"
#include "Host/Core/Log.h"
#include "Stream/Network/TCPSocketClient.h"
#include "Stream/Network/TCPSocketServer.h"
#include "Stream/Network/UDPSocket.h"
#include "Stream/Network/WebsocketClient.h"
#include "Stream/Network/WebsocketServer.h"

namespace Corvexis::Network {

template <typename T>
ConnectionFactory<T>& ConnectionFactory<T>::instance()
{
    static ConnectionFactory factory;
    return factory;
}

template <typename T>
ConnectionFactory<T>::ConnectionFactory()
{
    registerBlueprint(WebsocketClient<T>::blueprint());
    registerBlueprint(WebsocketServer<T>::blueprint());
    registerBlueprint(TCPSocketClient<T>::blueprint());
    registerBlueprint(TCPSocketServer<T>::blueprint());
    registerBlueprint(UDPSocket<T>::blueprint());
}

template <typename T>
ConnectionFactory<T>::~ConnectionFactory() = default;

template <typename T>
bool ConnectionFactory<T>::registerBlueprint(ConnectionBlueprint<T>&& blueprint)
{
    auto existing = blueprints_.find(blueprint.protocol);
    if (existing != blueprints_.end()) {
        Log::log(Log::Level::Warning, "ConnectionFactory",
                 "The connection protocol was already registered, overwriting the previous entry");
        existing->second = std::move(blueprint);
        return true;
    }
    std::string protocol = blueprint.protocol;
    blueprints_.emplace(std::move(protocol), std::move(blueprint));
    return true;
}

template <typename T>
std::unique_ptr<TypedConnectionBase<T>> ConnectionFactory<T>::createConnection(
    const std::string& protocol, const Properties& properties) const
{
    const auto entry = blueprints_.find(protocol);
    if (entry == blueprints_.end() || !entry->second.makeConnection)
        return nullptr;
    // Every parameter starts from its default; what `properties` holds overrides it.
    Properties merged = entry->second.makeProperties ? entry->second.makeProperties() : Properties();
    for (const auto& key : properties.paramNames())
        merged.setParamText(key, *properties.paramText(key));
    return entry->second.makeConnection(merged);
}

template <typename T>
std::optional<Properties> ConnectionFactory<T>::connectionProperties(const std::string& protocol) const
{
    const auto entry = blueprints_.find(protocol);
    if (entry == blueprints_.end() || !entry->second.makeProperties)
        return std::nullopt;
    return entry->second.makeProperties();
}

template <typename T>
std::vector<std::string> ConnectionFactory<T>::supportedConnections() const
{
    std::vector<std::string> names;
    names.reserve(blueprints_.size());
    for (const auto& [name, blueprint] : blueprints_)
        names.push_back(name);
    return names;
}

template class ConnectionFactory<std::string>;
template class ConnectionFactory<ByteBuffer>;

}  // namespace Corvexis::Network
