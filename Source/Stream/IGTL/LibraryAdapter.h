#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include <igtlMessageBase.h>
#include <igtlSocket.h>

namespace Corvexis::IGTL {

// The one place that knows which OpenIGTLink release is installed (Debian's 1.11, protocol 2). Our code
// speaks of a message's buffer, its type and the body still to read; this class maps those words to the
// library's names (GetPackPointer, GetDeviceType, GetBodySizeToRead, ...).
//
// Socket traffic does not go through igtl::Socket::Receive/Send: that release cannot tell a time-out
// from a closed peer, drops bytes already read when a time-out strikes in the middle of a message, and
// writes without suppressing SIGPIPE. The library's sockets still connect, accept and close; reading
// and writing use their descriptor with poll(2), so that a time-out is reported as such and a message
// split into any number of pieces is read whole.
//
// Threading: every operation is thread-safe as far as the adapter goes; callers serialise the use of
// one socket (one reader, one writer at a time).
class LibraryAdapter
{
public:
    // Size of the fixed message header (bytes).
    static constexpr std::size_t kHeaderSize = 58;

    // Outcome of a socket read.
    enum class ReadResult
    {
        Complete,  // every byte asked for arrived
        TimedOut,  // nothing arrived within the first-byte time-out (nothing was consumed)
        Closed,    // the peer closed the link (possibly after part of the bytes)
        Failed,    // a socket error
        Stopped,   // the stop flag was raised while waiting
    };

    static void* bufferPointer(igtl::MessageBase& message) { return message.GetPackPointer(); }
    static std::size_t bufferSize(igtl::MessageBase& message);
    static void* bodyPointer(igtl::MessageBase& message) { return message.GetPackBodyPointer(); }
    static std::size_t bodySize(igtl::MessageBase& message);
    static void initBuffer(igtl::MessageBase& message) { message.InitPack(); }
    static void allocateBuffer(igtl::MessageBase& message) { message.AllocatePack(); }
    // The message type text ("TRANSFORM"), as in the header.
    static std::string messageType(igtl::MessageBase& message);
    static std::size_t bodySizeToRead(igtl::MessageBase& message);

    // Big-endian body size from a raw header (offset 42), before the library reads it into an int.
    static std::uint64_t rawBodySize(const std::uint8_t* header);

    // The descriptor of an igtl socket, or -1 when it is closed.
    static int descriptor(igtl::Socket& socket);
    // Closes the socket for good. The installed release's CloseSocket() shuts the link down but leaves
    // the descriptor open (one leaked per connection); this releases it too. Caller serialises users of
    // the socket.
    static void closeSocket(igtl::Socket& socket);

    // Reads exactly `length` bytes. Waits at most `firstByteTimeoutMs` for the first byte (TimedOut when
    // none came); once a byte arrived it keeps reading until the rest is there, the peer closes, an error
    // strikes or `stop` is raised (polled every 100 ms). `received` gets the count read. Reading thread.
    static ReadResult receive(int fd, void* data, std::size_t length, int firstByteTimeoutMs,
                              const std::atomic<bool>& stop, std::size_t* received = nullptr);
    // Reads and discards `length` bytes, in chunks, with the rules of receive() after the first byte.
    static ReadResult skip(int fd, std::size_t length, const std::atomic<bool>& stop,
                           std::size_t* received = nullptr);
    // Writes all bytes, without SIGPIPE. Gives up (false) on an error, a closed peer or when the peer
    // has accepted nothing for `stallTimeoutMs`. Caller serialises writers of one socket.
    static bool send(int fd, const void* data, std::size_t length, int stallTimeoutMs = 5000);
};

}  // namespace Corvexis::IGTL
