#include "Stream/IGTL/Connection.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include <igtlClientSocket.h>
#include <igtlServerSocket.h>
#include <igtlTimeStamp.h>

#include "Host/Core/Log.h"
#include "Host/Core/StoppableThread.h"
#include "Stream/IGTL/LibraryAdapter.h"
#include "Stream/IGTL/MessageReader.h"
#include "Stream/IGTL/SupportedTypes.h"

namespace Corvexis::IGTL {

namespace {

constexpr const char* kCategory = "IGTL.Connection";
// How long the receiver waits for the first byte of a header before it looks at its stop request.
constexpr int kReceiveTimeoutMs = 100;
// A client knocking while the previous link is still being torn down is given this long (ms) before it is
// refused: its predecessor's close may simply not have been read yet.
constexpr int kHandOverGraceMs = 250;

void log(Log::Level level, const std::string& text)
{
    Log::log(level, kCategory, text);
}

std::string statusText(ConnectionStatus status)
{
    switch (status) {
        case ConnectionStatus::Connected:
            return "connected";
        case ConnectionStatus::WaitingForClient:
            return "waiting for a client";
        case ConnectionStatus::Disconnected:
            break;
    }
    return "disconnected";
}

}  // namespace

Connection::Connection(const std::string& name, const std::string& host, int port, bool isServer,
                       bool crcCheck, bool reconnect)
    : Stream(name), host_(host), port_(port), isServer_(isServer), crcCheck_(crcCheck), reconnect_(reconnect)
{
}

Connection::~Connection()
{
    signalDeleted.emitSignal();
    close();
    closeConnection();
}

bool Connection::openImpl()
{
    openConnection();
    return true;
}

bool Connection::closeImpl()
{
    closeConnection();
    return true;
}

bool Connection::isConnected() const
{
    return status_.load() == ConnectionStatus::Connected;
}

bool Connection::isCompatible(Data::Kind kind) const
{
    switch (kind) {
        case Data::Kind::Image:
        case Data::Kind::Volume:
        case Data::Kind::ImageStream:
        case Data::Kind::TrackingStream:
        case Data::Kind::PolyDataStream:
            return true;
        default:
            return false;
    }
}

std::string Connection::describe() const
{
    std::string where = (isServer_ ? "server on port " : "client of " + host_ + ":") +
                        std::to_string(isServer_ && listeningPort() != 0 ? listeningPort() : port_);
    return statusText(status()) + " | " + where + " | " + Stream::describe();
}

void Connection::setStatus(ConnectionStatus status)
{
    if (status_.exchange(status) != status)
        signalStatusChanged.emitSignal();
}

bool Connection::openConnection()
{
    if (status_.load() == ConnectionStatus::Connected) {
        log(Log::Level::Error, name() + " is already connected.");
        return true;
    }
    closing_.store(false);
    if (isServer_) {
        std::unique_ptr<Threading::StoppableThread> finished;
        {
            std::lock_guard lock(threadMutex_);
            if (waitingThread_ && waitingThread_->isRunning()) {
                log(Log::Level::Error,
                    "Cannot run a new server. A server is already waiting for connection!");
                return false;
            }
            finished = std::move(waitingThread_);
        }
        finished.reset();
        {
            std::lock_guard lock(threadMutex_);
            waitingThread_ = std::make_unique<Threading::StoppableThread>(
                "IGTL wait", [this](Threading::StoppableThread& thread) { waitForClient(thread, 0.0); });
        }
        log(Log::Level::Info, "Set up server on: " + host_ + ":" + std::to_string(port_));
        return true;
    }
    if (!connectToServer()) {
        log(Log::Level::Error, name() + " could not connect to the server!");
        return false;
    }
    log(Log::Level::Info, name() + " is connected to the server on: " + host_ + ":" + std::to_string(port_));
    igtl::Socket::Pointer socket;
    {
        std::lock_guard lock(socketMutex_);
        socket = socket_;
    }
    startReceiver(socket);
    return true;
}

bool Connection::connectToServer()
{
    if (isServer_) {
        log(Log::Level::Error, "OpenIGTLinkConnection::connectToServer() cannot be used for a server!");
        return false;
    }
    igtl::ClientSocket::Pointer client = igtl::ClientSocket::New();
    if (client->ConnectToServer(host_.c_str(), port_) != 0) {
        LibraryAdapter::closeSocket(*client);
        return false;
    }
    {
        std::lock_guard lock(socketMutex_);
        socket_ = igtl::Socket::Pointer(client.GetPointer());
    }
    return true;
}

void Connection::startReceiver(igtl::Socket::Pointer socket)
{
    std::unique_ptr<Threading::StoppableThread> previous;
    {
        std::lock_guard lock(threadMutex_);
        previous = std::move(receiverThread_);
    }
    // The previous link's receiver has left its loop (the status said so); this only joins it.
    previous.reset();
    {
        std::lock_guard lock(socketMutex_);
        socket_ = socket;
    }
    setStatus(ConnectionStatus::Connected);
    std::lock_guard lock(threadMutex_);
    receiverThread_ = std::make_unique<Threading::StoppableThread>(
        "IGTL receive", [this, socket](Threading::StoppableThread& thread) { receiverLoop(thread, socket); });
}

void Connection::waitForClient(Threading::StoppableThread& thread, double timeoutSeconds)
{
    if (status_.load() != ConnectionStatus::Disconnected) {
        log(Log::Level::Error, "Server cannot be created, connection is busy.");
        return;
    }
    igtl::ServerSocket::Pointer server = igtl::ServerSocket::New();
    if (server->CreateServer(port_) < 0) {
        log(Log::Level::Error, "Cannot create a server socket!");
        return;
    }
    listeningPort_.store(server->GetServerPort());
    log(Log::Level::Info, "Waiting for connection on port: " + std::to_string(listeningPort_.load()));
    setStatus(ConnectionStatus::WaitingForClient);
    double remaining = timeoutSeconds;
    while (!thread.isStopRequested() && !closing_.load()) {
        // A link that ended without reconnect ends the server too.
        if (status_.load() == ConnectionStatus::Disconnected)
            break;
        igtl::ClientSocket::Pointer client = server->WaitForConnection(100);
        if (thread.isStopRequested() || closing_.load()) {
            if (client.IsNotNull())
                LibraryAdapter::closeSocket(*client);
            break;
        }
        if (client.IsNull()) {
            if (status_.load() == ConnectionStatus::WaitingForClient && timeoutSeconds > 0.0) {
                remaining -= 0.1;
                if (remaining <= 0.0) {
                    log(Log::Level::Error, name() + " could not connect to a client.");
                    break;
                }
            }
            continue;
        }
        for (int waited = 0; status_.load() == ConnectionStatus::Connected && waited < kHandOverGraceMs;
             waited += 10)
            thread.waitForStop(std::chrono::milliseconds(10));
        if (status_.load() == ConnectionStatus::Connected) {
            log(Log::Level::Warning,
                name() +
                    ": a connection request was ignored. Disconnect the socket from previous "
                    "device before connecting to a new device.");
            LibraryAdapter::closeSocket(*client);
            continue;
        }
        if (status_.load() == ConnectionStatus::Disconnected || thread.isStopRequested()) {
            LibraryAdapter::closeSocket(*client);
            break;
        }
        log(Log::Level::Info, name() + " is connected now.");
        startReceiver(igtl::Socket::Pointer(client.GetPointer()));
    }
    LibraryAdapter::closeSocket(*server);
    listeningPort_.store(0);
    ConnectionStatus expected = ConnectionStatus::WaitingForClient;
    if (status_.compare_exchange_strong(expected, ConnectionStatus::Disconnected))
        signalStatusChanged.emitSignal();
}

void Connection::receiverLoop(Threading::StoppableThread& thread, igtl::Socket::Pointer socket)
{
    if (status_.load() != ConnectionStatus::Connected || socket.IsNull()) {
        log(Log::Level::Error, name() + ": Cannot receive messages, sockets are not connected!");
        return;
    }
    log(Log::Level::Info, "Receiver thread initialize");
    const int fd = LibraryAdapter::descriptor(*socket);
    bool ended = false;  // by the peer, a failure, or a dropped link
    std::uint8_t header[LibraryAdapter::kHeaderSize];
    while (!thread.isStopRequested() && !closing_.load() && !ended) {
        std::size_t got = 0;
        const auto result =
            LibraryAdapter::receive(fd, header, sizeof header, kReceiveTimeoutMs, closing_, &got);
        if (result == LibraryAdapter::ReadResult::TimedOut)
            continue;
        if (result == LibraryAdapter::ReadResult::Stopped)
            break;
        if (result == LibraryAdapter::ReadResult::Failed) {
            log(Log::Level::Debug, name() + ": connection error: " + std::to_string(errno));
            ended = true;
            break;
        }
        if (result == LibraryAdapter::ReadResult::Closed) {
            if (got != 0)
                log(Log::Level::Info, "Corrupted data on socket");
            log(Log::Level::Warning, name() + ": Connection is terminated.");
            ended = true;
            break;
        }
        const auto now = std::chrono::system_clock::now();
        const std::optional<MessageReader::Header> parsed = MessageReader::unpackHeader(header);
        if (!parsed) {
            log(Log::Level::Info, "Corrupted data on socket");
            continue;
        }
        if (parsed->bodySize > maxBodySize_.load()) {
            log(Log::Level::Error, name() + ": a " + parsed->type + " message from '" + parsed->deviceName +
                                       "' announces a body of " + std::to_string(parsed->bodySize) +
                                       " bytes, over the limit of " + std::to_string(maxBodySize_.load()) +
                                       " bytes; the link is dropped.");
            ended = true;
            break;
        }
        const BodyOutcome outcome = parseData(header, fd, now, closing_);
        if (outcome == BodyOutcome::LinkBroken) {
            ended = true;
            break;
        }
        if (outcome == BodyOutcome::NotHandled) {
            std::size_t skipped = 0;
            const auto skip = LibraryAdapter::skip(fd, parsed->bodySize, closing_, &skipped);
            if (skip == LibraryAdapter::ReadResult::Stopped)
                break;
            if (skip != LibraryAdapter::ReadResult::Complete) {
                log(Log::Level::Warning,
                    "Number of read bytes is not equal to what is mentioned in the messages header.");
                log(Log::Level::Warning, name() + ": Connection is terminated.");
                ended = true;
            }
        }
    }
    log(Log::Level::Info, "Thread closing");
    {
        std::lock_guard lock(socketMutex_);
        LibraryAdapter::closeSocket(*socket);
        if (socket_ == socket)
            socket_ = nullptr;
    }
    if (ended && isServer_ && reconnect_ && !closing_.load() && !thread.isStopRequested()) {
        log(Log::Level::Info, "Client Disconnected on: " + host_ + ":" + std::to_string(listeningPort()) +
                                  " Reconnection attempt");
        setStatus(ConnectionStatus::WaitingForClient);
    } else {
        setStatus(ConnectionStatus::Disconnected);
    }
    if (ended)
        signalPeerClosed.emitSignal();
}

Connection::BodyOutcome Connection::parseData(const std::uint8_t* headerBytes, int fd,
                                              std::chrono::system_clock::time_point now,
                                              const std::atomic<bool>& stop)
{
    const std::optional<MessageReader::Header> header = MessageReader::unpackHeader(headerBytes);
    if (!header)
        return BodyOutcome::NotHandled;
    ParsedMessage parsed;
    parsed.type = header->type;
    parsed.fullDeviceName = header->deviceName;
    const std::size_t colon = header->deviceName.find(':');
    parsed.deviceName = header->deviceName.substr(0, colon);
    parsed.secondName = colon == std::string::npos ? parsed.deviceName : header->deviceName.substr(colon + 1);
    {
        std::lock_guard lock(devicesMutex_);
        connectedDevices_.emplace(parsed.type, parsed.deviceName);
    }
    if (!SupportedTypes::instance().isSupported(parsed.type))
        return BodyOutcome::NotHandled;

    const auto receiveError = [this](const std::string& why) {
        log(Log::Level::Error,
            name() + "::receiveMsg: Error in receiving message." + (why.empty() ? "" : " " + why));
        Log::log(Log::Level::Error, "OpenIGTLinkImageStream", "receiveMsg: could not receive message body!");
    };
    igtl::MessageBase::Pointer message = MessageReader::prepareBody(*header);
    if (message.IsNull()) {
        receiveError("The announced body does not fit the message type.");
        return BodyOutcome::NotHandled;
    }
    std::size_t got = 0;
    const auto result =
        LibraryAdapter::receive(fd, LibraryAdapter::bodyPointer(*message), header->bodySize, -1, stop, &got);
    if (result != LibraryAdapter::ReadResult::Complete) {
        if (result == LibraryAdapter::ReadResult::Stopped)
            return BodyOutcome::LinkBroken;
        receiveError("");
        log(Log::Level::Warning,
            "Number of read bytes is not equal to what is mentioned in the messages header.");
        log(Log::Level::Warning, name() + ": Connection is terminated.");
        return BodyOutcome::LinkBroken;
    }
    std::string why;
    if (!MessageReader::unpackBody(*message, parsed.type, crcCheck_, &why)) {
        receiveError("A " + parsed.type + " message from '" + parsed.fullDeviceName +
                     "' was dropped: " + why);
        return BodyOutcome::Consumed;
    }
    igtl::TimeStamp::Pointer stamp = igtl::TimeStamp::New();
    message->GetTimeStamp(stamp);
    const double seconds = stamp->GetTimeStamp();
    // Rounded: the wire's 32-bit fraction of a second does not hold every millisecond exactly.
    parsed.timestampMs = seconds > 0.0 ? static_cast<std::uint64_t>(seconds * 1000.0 + 0.5) : 0;
    parsed.receiveTime = now;
    parsed.message = message;
    try {
        signalMessageReceived.emitSignal(parsed);
    } catch (const std::exception& e) {
        log(Log::Level::Error, name() + ": a device failed on a " + parsed.type + " message: " + e.what());
    }
    return BodyOutcome::Consumed;
}

bool Connection::closeConnection()
{
    try {
        const bool wasConnected = status_.load() == ConnectionStatus::Connected;
        closing_.store(true);
        std::unique_ptr<Threading::StoppableThread> waiting;
        {
            std::lock_guard lock(threadMutex_);
            waiting = std::move(waitingThread_);
        }
        waiting.reset();
        std::unique_ptr<Threading::StoppableThread> receiver;
        {
            std::lock_guard lock(threadMutex_);
            receiver = std::move(receiverThread_);
        }
        receiver.reset();
        {
            std::lock_guard lock(socketMutex_);
            if (socket_.IsNotNull()) {
                LibraryAdapter::closeSocket(*socket_);
                socket_ = nullptr;
            }
        }
        setStatus(ConnectionStatus::Disconnected);
        if (wasConnected)
            log(Log::Level::Info, name() + " is disconnected!");
        else
            log(Log::Level::Debug, name() + " was already disconnected!");
    } catch (const std::exception& e) {
        log(Log::Level::Debug, "An exception was caught in " + name() + "::closeConnection() " + e.what());
    }
    return true;
}

bool Connection::sendMessage(igtl::MessageBase& message)
{
    return sendBytes(LibraryAdapter::bufferPointer(message), LibraryAdapter::bufferSize(message));
}

bool Connection::sendBytes(const void* data, std::size_t size)
{
    if (data == nullptr || size == 0)
        return false;
    std::lock_guard lock(socketMutex_);
    if (socket_.IsNull() || status_.load() != ConnectionStatus::Connected)
        return false;
    return LibraryAdapter::send(LibraryAdapter::descriptor(*socket_), data, size);
}

void Connection::addFilter(const std::string& deviceName, const std::string& type)
{
    std::lock_guard lock(filterMutex_);
    filters_.emplace_back(deviceName, type);
}

void Connection::removeFilter(const std::string& deviceName, const std::string& type)
{
    std::lock_guard lock(filterMutex_);
    const auto it = std::find(filters_.begin(), filters_.end(), std::make_pair(deviceName, type));
    if (it != filters_.end())
        filters_.erase(it);
}

std::vector<std::pair<std::string, std::string>> Connection::filters() const
{
    std::lock_guard lock(filterMutex_);
    return filters_;
}

std::set<std::pair<std::string, std::string>> Connection::getConnectedDevices() const
{
    std::lock_guard lock(devicesMutex_);
    return connectedDevices_;
}

}  // namespace Corvexis::IGTL
