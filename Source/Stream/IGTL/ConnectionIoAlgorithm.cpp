#include "Stream/IGTL/ConnectionIoAlgorithm.h"

#include "Host/Core/DataList.h"
#include "Host/Core/Log.h"
#include "Stream/IGTL/Connection.h"

namespace Corvexis::IGTL {

ConnectionIoAlgorithm::ConnectionIoAlgorithm() = default;

ConnectionIoAlgorithm::~ConnectionIoAlgorithm()
{
    disconnectAll();
    detachLink();
}

bool ConnectionIoAlgorithm::createCompatible(const DataList& inputs, std::unique_ptr<Algorithm>* algorithm)
{
    if (!inputs.empty())
        return false;
    if (algorithm != nullptr)
        *algorithm = std::make_unique<ConnectionIoAlgorithm>();
    return true;
}

void ConnectionIoAlgorithm::compute()
{
    std::unique_ptr<Connection> previous;
    {
        std::lock_guard lock(mutex_);
        previous = std::move(owned_);
        current_ = nullptr;
    }
    previous.reset();
    clearOutputTaken();
    auto connection = std::make_unique<Connection>(connectionName.value(), hostName.value(), port.value(),
                                                   isServer.value(), crcCheck.value(), reconnect.value());
    connection->setName(connectionName.value());
    const bool opened = connection->open() && connection->start();
    const bool linked = connection->isServer() || connection->isConnected();
    if (!opened || !linked) {
        setStatus(Status::Error);
        return;
    }
    {
        std::lock_guard lock(mutex_);
        current_ = connection.get();
        owned_ = std::move(connection);
    }
    setStatus(Status::Success);
    signalOutputChanged.emitSignal();
}

Stream* ConnectionIoAlgorithm::stream() const
{
    std::lock_guard lock(mutex_);
    return current_;
}

void ConnectionIoAlgorithm::resetStream()
{
    std::lock_guard lock(mutex_);
    current_ = nullptr;
}

std::unique_ptr<Stream> ConnectionIoAlgorithm::releaseStream()
{
    std::lock_guard lock(mutex_);
    return std::move(owned_);
}

}  // namespace Corvexis::IGTL
