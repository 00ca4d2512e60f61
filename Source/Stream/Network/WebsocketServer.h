#pragma once

#include <atomic>
#include <chrono>
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

// Accepts WebSocket clients on the IPv4 any-address and the given port and broadcasts every
// sendMessage to all of them, one WebSocket message each (text for std::string, binary for ByteBuffer).
// Every received message, whole however it was fragmented, is one emission of signalMessageReceived.
// Protocol violations of a client (reserved bits, unknown opcodes, fragmented control frames, unmasked
// frames, invalid UTF-8 in text, messages above maxMessageSize()) close that client's connection with
// the matching close code; the other clients are not affected. Log category "WebsocketServer".
//
// Robustness beyond the plain protocol:
// - a client that has not completed its opening handshake within handshakeTimeout() (5 s by default)
//   is dropped, so connections that open and stall cannot pile up;
// - a client silent for 15 s is pinged and dropped when it stays silent for 30 s (also after a
//   protocol violation, when the server waits for the client to close its end);
// - each session's outgoing queue is bounded in bytes (setMaxQueuedBytes, 256 MiB by default); a
//   client whose queue would grow beyond it is disconnected with an error line, so a client that stops
//   reading cannot exhaust memory or hold the others back.
//
// A pool of `threads` threads runs all sessions; each session's handlers are serialised on its own
// strand. Signals (on a pool thread): signalMessageReceived; signalClientStateChanged when a client is
// accepted (true, with a refuse flag that a receiver may set synchronously to drop it) and when its
// session ends (false, null flag). signalMessageSent and signalClientConnection are not emitted.
//
// Locks: the session list's lock before any session's queue lock.
template <typename T>
class WebsocketServer : public ServerConnectionBase<T>
{
public:
    static constexpr std::size_t kDefaultMaxMessageSize = std::size_t{1} << 30;

    // Opens, binds and listens at once (failures logged; the object still exists). Thread-safe.
    WebsocketServer(const std::string& address, int port, int threads);
    // stop(); logs "Webserver deconstructed". Caller synchronises.
    ~WebsocketServer() override;

    // Starts accepting and the pool; false when the listening socket could not be set up. After stop()
    // a new listening socket is opened. Thread-safe.
    bool run() override;
    // Closes the listening socket, sends every client a close frame, waits up to 500 ms for the
    // sessions to end (false and a warning when some did not; they are then dropped) and joins the
    // pool. Thread-safe.
    bool stop() override;
    bool isRunning() const override;                // thread-safe
    std::size_t connectedClients() const override;  // thread-safe; handshaking clients included
    std::string address() const override;           // thread-safe
    using MessagePtr = std::shared_ptr<const T>;
    // Broadcast to every session; one still in its handshake gets the message right after it. Thread-safe.
    void sendMessage(T message) override;
    void sendMessage(MessagePtr message) override;  // the pointer is queued: no copy

    bool isReadyToRun() const;  // thread-safe: the listening socket is open
    // The port actually listened on; 0 when not listening. Thread-safe.
    int localPort() const;
    // Sum over sessions of bytes queued and not yet written. Thread-safe.
    std::size_t queuedBytes() const;

    // Settings for sessions accepted afterwards. Thread-safe.
    void setMaxQueuedBytes(std::size_t bytes);
    void setMaxMessageSize(std::size_t bytes);
    std::size_t maxMessageSize() const;
    void setHandshakeTimeout(std::chrono::milliseconds timeout);
    std::chrono::milliseconds handshakeTimeout() const;

    // Protocol "Websocket Server": "hostIp" (empty), "hostPort" (0), "threads" (1); does not run.
    static ConnectionBlueprint<T> blueprint();

    // (connected, client address, client port, refuse flag or null), on a pool thread.
    Signal<bool, std::string, int, bool*> signalClientStateChanged;

private:
    class ServerSession;

    struct SessionSettings
    {
        std::size_t maxQueuedBytes;
        std::size_t maxMessageSize;
        std::chrono::milliseconds handshakeTimeout;
    };

    std::unique_ptr<ListeningPool> makeListener();
    SessionSettings sessionSettings() const;
    void removeSession(const ServerSession* session);

    const IPAddress address_;
    const int port_;
    const int threads_;
    std::atomic<bool> running_{false};
    std::atomic<int> localPort_{0};

    ServerSessionList<ServerSession, MessagePtr> sessions_;

    mutable std::mutex settingsMutex_;
    // guarded by settingsMutex_
    SessionSettings settings_;

    // Serialises run, stop and destruction.
    mutable std::mutex listenerMutex_;
    // guarded by listenerMutex_
    std::unique_ptr<ListeningPool> listener_;
};

}  // namespace Corvexis::Network
