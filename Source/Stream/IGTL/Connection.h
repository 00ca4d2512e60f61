#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <igtlMessageBase.h>
#include <igtlSocket.h>

#include "Host/Core/Signal.h"
#include "Stream/Framework/OutputConnection.h"
#include "Stream/Framework/Stream.h"
#include "Stream/IGTL/ConnectionStatus.h"
#include "Stream/IGTL/ParsedMessage.h"

namespace Corvexis::Threading {
class StoppableThread;
}

namespace Corvexis::IGTL {

// One OpenIGTLink link to a peer: a client that connects to a server, or a server that waits for one
// client at a time. It owns the socket, a receiver thread that reads every message and emits it as a
// ParsedMessage, and (as a server) a waiting thread that accepts clients. Devices bound to it (Device,
// the IGTL streams) pick their messages from signalMessageReceived and send through sendMessage().
// As a Stream it has the usual lifecycle: open connects (or starts waiting), close disconnects; start
// and stop do not touch the link.
//
// Bytes from the peer are untrusted: a header that announces a body larger than maxBodySize() (256 MiB
// unless set) is refused before anything is allocated for it, logged, and the link is dropped, since the
// byte stream can no longer be followed. Bodies are checked against their type's layout before the
// protocol library unpacks them (MessageValidator).
//
// Status: Disconnected -> Connected (client) or WaitingForClient -> Connected (server); Connected ->
// Disconnected when the peer closes, the link fails or is dropped, or on closeConnection(). A server with
// reconnect set goes back to WaitingForClient instead and accepts the next client. The transitions are
// carried out in receiverLoop (end of a link), waitingLoop (arrival) and closeConnection; setStatus is
// the single writer.
//
// Threads: the receiver thread (one per link) emits signalMessageReceived; the waiting thread (server)
// accepts clients and starts the receiver. Both are owned and joined here.
// Locks: threadMutex_ guards the two thread objects; socketMutex_ guards socket_ and is held for a whole
// send (so writers do not interleave and the descriptor stays open while written); filterMutex_ and
// devicesMutex_ guard their sets. Order: threadMutex_ before socketMutex_; the others are leaves. No
// signal is emitted while one is held.
class Connection : public Stream, public OutputConnection
{
public:
    static constexpr std::uint64_t kDefaultMaxBodySize = std::uint64_t{256} << 20;

    // No network activity. Port 0 for a server asks the system for a free port (see listeningPort()).
    Connection(const std::string& name, const std::string& host, int port, bool isServer, bool crcCheck,
               bool reconnect);
    // Emits signalDeleted (bound devices let go), then closes.
    ~Connection() override;

    // Client: connects at once and starts the receiver. Server: starts the waiting thread. True when the
    // link is up (client) or the server waits. Thread-safe.
    bool openConnection() override;
    // Stops and joins both threads and closes the socket. Always true. Thread-safe (not from the receiver
    // thread, which would join itself; a device callback that needs it posts it elsewhere).
    bool closeConnection() override;
    bool isConnected() const override;                          // thread-safe
    ConnectionStatus status() const { return status_.load(); }  // thread-safe
    const std::string& host() const { return host_; }
    int port() const { return port_; }
    bool isServer() const { return isServer_; }
    bool crcCheck() const { return crcCheck_; }
    bool reconnect() const { return reconnect_; }
    // The port the server listens on (the chosen one for port 0); 0 while it does not listen. Thread-safe.
    int listeningPort() const { return listeningPort_.load(); }

    // Writes the packed message's buffer as it is. False when not connected or the write fails.
    // Thread-safe (writers are serialised).
    bool sendMessage(igtl::MessageBase& message);
    // Writes raw bytes on the link (tests, forwarding of already packed messages). Thread-safe.
    bool sendBytes(const void* data, std::size_t size);

    // The bound devices' (name, type) pairs; documentation only, not consulted when dispatching.
    // Thread-safe.
    void addFilter(const std::string& deviceName, const std::string& type);
    void removeFilter(const std::string& deviceName, const std::string& type);
    std::vector<std::pair<std::string, std::string>> filters() const;
    // Every (type, device name part) seen on this connection. Thread-safe.
    std::set<std::pair<std::string, std::string>> getConnectedDevices() const;

    // Data kinds 1, 2, 5, 9 and 13. Thread-safe.
    bool isCompatible(Data::Kind kind) const override;
    Kind kind() const override { return Kind::Compound; }
    std::string describe() const override;

    // Largest body accepted (bytes). Thread-safe; applies to the next header read.
    std::uint64_t maxBodySize() const { return maxBodySize_.load(); }
    void setMaxBodySize(std::uint64_t bytes) { maxBodySize_.store(bytes); }

    // Every accepted message, on the receiver thread. Receivers pick theirs by name and type and must be
    // quick.
    Signal<const ParsedMessage&> signalMessageReceived;
    // The status changed, on the thread that changed it.
    Signal<> signalStatusChanged;
    // The connection is being destroyed, on the destroying thread, before anything is torn down.
    Signal<> signalDeleted;
    // The peer ended the link (or it broke), on the receiver thread, after the status changed.
    Signal<> signalPeerClosed;

protected:
    bool openImpl() override;
    bool closeImpl() override;
    bool startImpl() override { return true; }
    bool stopImpl() override { return true; }
    std::optional<WorkContinuation> doWork() override { return std::nullopt; }
    ThreadingMode threadingMode() const override { return ThreadingMode::NoWorkerThread; }

private:
    enum class BodyOutcome
    {
        Consumed,    // read (emitted, or dropped after a failed unpack)
        NotHandled,  // no class for the type: the body is still on the socket
        LinkBroken,  // the peer closed or the link failed inside the body
    };

    bool connectToServer();
    void waitForClient(Threading::StoppableThread& thread, double timeoutSeconds);
    void receiverLoop(Threading::StoppableThread& thread, igtl::Socket::Pointer socket);
    BodyOutcome parseData(const std::uint8_t* headerBytes, int fd, std::chrono::system_clock::time_point now,
                          const std::atomic<bool>& stop);
    void startReceiver(igtl::Socket::Pointer socket);
    void setStatus(ConnectionStatus status);

    const std::string host_;
    const int port_;
    const bool isServer_;
    const bool crcCheck_;
    const bool reconnect_;
    std::atomic<ConnectionStatus> status_{ConnectionStatus::Disconnected};
    std::atomic<std::uint64_t> maxBodySize_{kDefaultMaxBodySize};
    std::atomic<int> listeningPort_{0};
    // Raised by closeConnection for the threads' blocking reads.
    std::atomic<bool> closing_{false};

    std::mutex threadMutex_;
    // guarded by threadMutex_
    std::unique_ptr<Threading::StoppableThread> receiverThread_;
    std::unique_ptr<Threading::StoppableThread> waitingThread_;

    mutable std::mutex socketMutex_;
    // guarded by socketMutex_
    igtl::Socket::Pointer socket_;

    mutable std::mutex filterMutex_;
    // guarded by filterMutex_
    std::vector<std::pair<std::string, std::string>> filters_;

    mutable std::mutex devicesMutex_;
    // guarded by devicesMutex_
    std::set<std::pair<std::string, std::string>> connectedDevices_;
};

}  // namespace Corvexis::IGTL
