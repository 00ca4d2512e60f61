#pragma once

#include <cstddef>
#include <string>

#include "Stream/Network/TypedConnectionBase.h"

namespace Corvexis::Network {

// A connection that accepts any number of clients; sendMessage broadcasts to every connected client.
template <typename T>
class ServerConnectionBase : public TypedConnectionBase<T>
{
public:
    ~ServerConnectionBase() override = default;

    // Starts accepting and the network threads; true when running. Thread-safe.
    virtual bool run() = 0;
    // Closes every client session and joins the network threads. Thread-safe (not from a signal
    // receiver of this server).
    virtual bool stop() = 0;
    // Thread-safe.
    virtual bool isRunning() const = 0;
    // Number of live client sessions. Thread-safe.
    virtual std::size_t connectedClients() const = 0;
    // The configured address, a colon and the configured port ("10.0.0.5:5000"). Thread-safe.
    virtual std::string address() const = 0;

    // Emitted with false when a client's connection ends, on the network thread that noticed it.
    Signal<bool> signalClientConnection;
};

}  // namespace Corvexis::Network
