#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>

#include "Stream/Network/ConnectionBlueprint.h"
#include "Stream/Network/IPAddress.h"
#include "Stream/Network/ServerConnectionBase.h"
#include "Stream/Network/ServerSessionList.h"

namespace Corvexis::Network {

class ListeningPool;

// Accepts any number of TCP clients on the IPv4 any-address and the given port (the address is only
// reported by address()) and broadcasts every sendMessage to all of them. As with the client, received
// bytes are delivered in order as messages of at most 8192 bytes. A pool of `threads` threads runs all
// sessions; each session's handlers are serialised on a strand of its own, so handlers of different
// sessions run in parallel. Instantiated for std::string and ByteBuffer. Log category "TCPSocketServer".
//
// Each session's outgoing queue is bounded in bytes (setMaxQueuedBytes, 256 MiB by default). A client
// whose queue would grow beyond the bound is disconnected (error line, signalClientConnection(false));
// the other clients are not held back by it.
//
// Signals: signalMessageReceived (from any client), signalMessageSent (after a message was written to
// one client, once per client) and signalClientConnection(false) when a client leaves, all on a pool
// thread.
//
// Locks: the session list's lock before any session's queue lock.
template <typename T>
class TCPSocketServer : public ServerConnectionBase<T>
{
public:
    // Opens, binds and listens at once (failures are logged; the object still exists). Thread-safe.
    TCPSocketServer(const std::string& address, int port, int threads);
    // stop(), then releases sessions and listener. Caller synchronises.
    ~TCPSocketServer() override;

    // Starts accepting and the thread pool; false when the listening socket could not be set up.
    // After stop() a new listening socket is opened. Thread-safe.
    bool run() override;
    // Closes the listening socket and every session, waits up to 500 ms for them to end and joins the
    // pool. Always true. Thread-safe.
    bool stop() override;
    bool isRunning() const override;                // thread-safe
    std::size_t connectedClients() const override;  // thread-safe
    std::string address() const override;           // thread-safe
    using MessagePtr = std::shared_ptr<const T>;
    // Broadcast: every connected client gets the same queued message (no copy per client); dropped
    // when none is connected. Thread-safe.
    void sendMessage(T message) override;
    void sendMessage(MessagePtr message) override;  // the pointer is queued: no copy

    // True: the listening socket opens at construction. Thread-safe.
    bool isReadyToRun() const { return true; }
    // The port actually listened on (differs from the configured one when that is 0); 0 when not
    // listening. Thread-safe.
    int localPort() const;
    // Sum over sessions of bytes queued and not yet written. Thread-safe.
    std::size_t queuedBytes() const;
    // Bound of each session's outgoing queue, for sessions accepted later. Thread-safe.
    void setMaxQueuedBytes(std::size_t bytes);

    // Protocol "TCP Socket Server": "hostIp" (empty), "hostPort" (0), "threads" (1); does not run.
    static ConnectionBlueprint<T> blueprint();

private:
    class ServerSession;

    std::unique_ptr<ListeningPool> makeListener();

    void removeSession(const ServerSession* session);

    const IPAddress address_;
    const int port_;
    const int threads_;
    std::atomic<bool> running_{false};
    std::atomic<int> localPort_{0};
    std::atomic<std::size_t> maxQueuedBytes_;

    ServerSessionList<ServerSession, MessagePtr> sessions_;

    // Serialises run, stop and destruction, which replace and join the listener.
    mutable std::mutex listenerMutex_;
    // guarded by listenerMutex_
    std::unique_ptr<ListeningPool> listener_;
};

}  // namespace Corvexis::Network
