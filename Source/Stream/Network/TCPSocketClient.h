#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "Host/Core/SignalReceiver.h"
#include "Stream/Network/ClientConnectionBase.h"
#include "Stream/Network/ClientSessionSlot.h"
#include "Stream/Network/ConnectionBlueprint.h"
#include "Stream/Network/IPAddress.h"

namespace Corvexis::Network {

// One outgoing TCP connection. Messages go out as their bytes, without framing; received bytes are
// delivered in order as messages of at most 8192 bytes (see StreamReceiveBuffer), so message boundaries
// are not kept (users frame inside the payload). Each connect() makes a new session with a thread of its own;
// there is no automatic reconnection. Instantiated for std::string and ByteBuffer. Log category
// "TCPSocketClient".
//
// Outgoing messages wait in a queue bounded in bytes (setMaxQueuedBytes, 256 MiB by default). A message
// that would take the queue beyond the bound is dropped and the session is closed with an error line:
// a peer that stopped reading would otherwise make us hold ever more memory, and dropping bytes silently
// from the middle of a stream would corrupt what the peer reads.
//
// Signals (of the bases): signalMessageReceived and signalMessageSent (after each written message, for
// both message types) on the session thread.
template <typename T>
class TCPSocketClient : public ClientConnectionBase<T>, public SignalReceiver
{
public:
    // No network activity. Thread-safe.
    TCPSocketClient(const std::string& address, int port);
    // Ends the session and joins its thread. Caller synchronises.
    ~TCPSocketClient() override;

    // Resolves and connects on a new session, waiting up to `timeoutMs` ms (polling every 50 ms); a
    // failed attempt waits the whole time-out. Thread-safe.
    bool connect(int timeoutMs) override;
    // True while a session exists and it connected (not cleared when the peer leaves). Thread-safe.
    bool isConnected() const override;
    // Closes the socket, joins the session thread and releases the session. Thread-safe.
    void disconnect() override;
    using MessagePtr = std::shared_ptr<const T>;
    // Queues for sending; dropped silently while not connected. Thread-safe.
    void sendMessage(T message) override;
    void sendMessage(MessagePtr message) override;  // the pointer is queued: no copy

    // Bytes queued and not yet written. Thread-safe.
    std::size_t queuedBytes() const;
    // Bound of the outgoing queue for this and later sessions. Thread-safe.
    void setMaxQueuedBytes(std::size_t bytes);

    // Protocol "TCP Socket Client": "hostIp" (empty), "hostPort" (0); does not connect.
    static ConnectionBlueprint<T> blueprint();

private:
    class ClientSession;

    const IPAddress address_;
    const int port_;
    ClientSessionSlot<ClientSession> session_;
};

}  // namespace Corvexis::Network
