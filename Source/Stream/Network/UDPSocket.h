#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <utility>

#include "Stream/Network/ConnectionBlueprint.h"
#include "Stream/Network/TypedConnectionBase.h"

namespace Corvexis::Network {

// One UDP socket talking to one peer: every sendMessage is one datagram to the peer, every received
// datagram (from anyone, up to 65536 bytes) one message. Modes, chosen by the addresses:
// - own address an IPv4 multicast group (224.x to 239.x): bound to the any-address and the own port,
//   joined to the group (receiver);
// - peer address an IPv4 multicast group: datagrams go to the group with time-to-live 1, out of the
//   interface of the own (IPv4) address, and loop back to local listeners;
// - otherwise plain unicast, bound to the own address and port.
// The socket is set up by the constructor; receiving starts with run(). Any send or receive error stops
// the socket until run() is called again. Instantiated for std::string and ByteBuffer. Log categories
// "UDPSession" and "UDPSocket".
//
// Outgoing datagrams wait in a queue bounded in bytes (setMaxQueuedBytes, 256 MiB by default); a
// datagram that would exceed it is dropped with an error line (datagrams may be lost anyway).
//
// Signals: signalMessageReceived, then signalMessageReceivedFrom with the sender's address text, on the
// socket's thread. signalMessageSent is not emitted.
template <typename T>
class UDPSocket : public TypedConnectionBase<T>
{
public:
    using SenderAndMessage = std::pair<std::string, std::shared_ptr<const T>>;

    // Sets the socket up. Raises boost::system::system_error when the own address does not parse or
    // cannot be bound (located at "bind"), and when a multicast peer is paired with an own address
    // that is not IPv4. Thread-safe.
    UDPSocket(const std::string& ownAddress, unsigned short ownPort, const std::string& peerAddress,
              unsigned short peerPort);
    // stop(), then closes the socket. Caller synchronises.
    ~UDPSocket() override;

    // Starts the socket's thread and receiving; true. A second call while running does nothing.
    // Thread-safe.
    bool run();
    // Cancels receiving and sending and joins the thread; true. Thread-safe.
    bool stop();
    bool isRunning() const;  // thread-safe
    // Queues one datagram to the peer; sent while running. Thread-safe.
    using TypedConnectionBase<T>::sendMessage;  // the shared one copies into this one
    void sendMessage(T message) override;

    // The port the socket is bound to (useful when the own port was 0). Thread-safe.
    unsigned short localPort() const;
    void setMaxQueuedBytes(std::size_t bytes);  // thread-safe

    // Protocol "UDP Socket": "ownIp", "ownPort", "peerIp", "peerPort" (empty and 0).
    static ConnectionBlueprint<T> blueprint();

    // With the sender's address (IPv4 or IPv6 text, no port), on the socket's thread.
    Signal<SenderAndMessage> signalMessageReceivedFrom;

private:
    class UDPSession;

    void onReceived(std::string sender, std::shared_ptr<const T> message);

    std::unique_ptr<UDPSession> session_;
};

}  // namespace Corvexis::Network
