#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "Stream/Network/ClientConnectionBase.h"
#include "Stream/Network/ClientSessionSlot.h"
#include "Stream/Network/ConnectionBlueprint.h"
#include "Stream/Network/IPAddress.h"

namespace Corvexis::Network {

// One outgoing WebSocket connection (request target "/"). Message boundaries hold: one sendMessage is
// one WebSocket message (text for std::string, binary for ByteBuffer) and one received message, whole
// however it was fragmented, is one emission of signalMessageReceived. Pings are answered. Each
// connect() makes a new session with a thread of its own. Log category "WebsocketClient".
//
// Outgoing messages wait in a queue bounded in bytes (setMaxQueuedBytes, 256 MiB by default); a
// message that would exceed it is dropped and the connection closed with an error line.
//
// Signals: signalMessageReceived on the session thread; signalMessageSent is not emitted.
template <typename T>
class WebsocketClient : public ClientConnectionBase<T>
{
public:
    // No network activity. Thread-safe.
    WebsocketClient(const std::string& address, int port);
    // disconnect(). Caller synchronises.
    ~WebsocketClient() override;

    // Resolves, connects and performs the handshake on a new session, waiting up to `timeoutMs` ms
    // (polling every 50 ms). Thread-safe.
    bool connect(int timeoutMs) override;
    // True from the handshake until the connection ends. Thread-safe.
    bool isConnected() const override;
    // Sends a normal close, waits (bounded) for the peer's answer, joins the thread. Thread-safe.
    void disconnect() override;
    using MessagePtr = std::shared_ptr<const T>;
    // Queues one message; dropped while not connected. Thread-safe.
    void sendMessage(T message) override;
    void sendMessage(MessagePtr message) override;  // the pointer is queued: no copy

    // Bytes queued and not yet written. Thread-safe.
    std::size_t queuedBytes() const;
    // Bound of the outgoing queue for later sessions. Thread-safe.
    void setMaxQueuedBytes(std::size_t bytes);

    // Protocol "Websocket Client": "hostIp" (empty), "hostPort" (0), "connectionTimeout" (50 ms);
    // connects once with the time-out.
    static ConnectionBlueprint<T> blueprint();

private:
    class ClientSession;

    const IPAddress address_;
    const int port_;
    ClientSessionSlot<ClientSession> session_;
};

}  // namespace Corvexis::Network
