#include "Stream/Network/TCPSocketServer.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <thread>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/strand.hpp>
#include <boost/asio/write.hpp>

#include "Host/Core/ByteBuffer.h"
#include "Host/Core/Log.h"
#include "Stream/Network/ConnectionErrorLog.h"
#include "Stream/Network/ListeningPool.h"
#include "Stream/Network/OutgoingQueue.h"
#include "Stream/Network/StreamReceiveBuffer.h"
#include "Stream/Network/TransferRest.h"

namespace Corvexis::Network {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;
using boost::system::error_code;

namespace {

constexpr const char* kCategory = "TCPSocketServer";
constexpr auto kSessionCloseWait = std::chrono::milliseconds(500);

void fail(const error_code& ec, const char* what)
{
    if (ec == asio::error::operation_aborted) {
        Log::log(Log::Level::Warning, kCategory, "Igonre error (client already closed)");
        return;
    }
    logConnectionError(kCategory, ec, what);
}

std::string endpointText(const tcp::endpoint& endpoint)
{
    return endpoint.address().to_string() + ":" + std::to_string(endpoint.port());
}

}  // namespace

// One accepted client. Its handlers run on its socket's strand; pending operations keep it alive
// through shared_from_this, and the server's list holds it while it is connected.
template <typename T>
class TCPSocketServer<T>::ServerSession : public std::enable_shared_from_this<ServerSession>
{
public:
    ServerSession(TCPSocketServer& server, tcp::socket socket, std::string peer)
        : socket_(std::move(socket)), peer_(std::move(peer)), server_(server)
    {
    }

    void setMaxQueuedBytes(std::size_t bytes) { queue_.setMaxBytes(bytes); }

    void start()
    {
        asio::post(socket_.get_executor(), [self = this->shared_from_this()] { self->do_read(); });
    }

    // Caller holds the session list's lock (list before queue).
    void send(MessagePtr&& message)
    {
        if (closeRequested.load())
            return;
        switch (queue_.push(std::move(message))) {
            case OutgoingQueue<MessagePtr>::Push::StartWrite:
                asio::post(socket_.get_executor(), [self = this->shared_from_this()] { self->do_write(); });
                break;
            case OutgoingQueue<MessagePtr>::Push::Queued:
                break;
            case OutgoingQueue<MessagePtr>::Push::Refused:
                Log::log(Log::Level::Error, kCategory,
                         "Outgoing queue limit exceeded by client " + peer_ +
                             ", which does not read; disconnecting it");
                close();
                break;
        }
    }

    // Ends the session from any thread: the socket is closed on the session's strand, which makes the
    // pending read complete and the session leave the list.
    void close()
    {
        closeRequested.store(true);
        asio::post(socket_.get_executor(), [self = this->shared_from_this()] {
            error_code ignored;
            self->socket_.shutdown(tcp::socket::shutdown_both, ignored);
            self->socket_.close(ignored);
        });
    }

    std::size_t queuedBytes() const { return queue_.queuedBytes(); }

    std::atomic<bool> closeRequested{false};

private:
    void do_read()
    {
        socket_.async_read_some(
            receive_.prepare(),
            [self = this->shared_from_this()](const error_code& ec, std::size_t n) { self->on_read(ec, n); });
    }

    void on_read(const error_code& ec, std::size_t bytes)
    {
        if (ec) {
            if (ec == asio::error::eof || ec == asio::error::connection_reset)
                Log::log(Log::Level::Info, kCategory, "Connection closed from client " + peer_);
            else
                fail(ec, "read");
            return end();
        }
        receive_.deliver(bytes, [this](std::shared_ptr<const T> message) {
            server_.signalMessageReceived.emitSignal(std::move(message));
        });
        if (closeRequested.load())
            return end();
        do_read();
    }

    void do_write()
    {
        if (!socket_.is_open())
            return;
        const T& message = *queue_.front();
        asio::async_write(
            socket_, asio::buffer(MessageBytes::data(message), MessageBytes::size(message)),
            TransferRest(MessageBytes::size(message)),
            [self = this->shared_from_this()](const error_code& ec, std::size_t) { self->on_write(ec); });
    }

    void on_write(const error_code& ec)
    {
        if (ec)
            return fail(ec, "write");
        bool more = false;
        MessagePtr written = queue_.popFront(more);
        if (more)
            do_write();
        if (server_.signalMessageSent.connectionCount() > 0)
            server_.signalMessageSent.emitSignal(std::move(written));
    }

    // The client is gone (or we dropped it): tell the receivers while the server runs, and leave the
    // list. Pending writes finish with errors and release the session.
    void end()
    {
        error_code ignored;
        socket_.close(ignored);
        if (server_.isRunning())
            server_.signalClientConnection.emitSignal(false);
        server_.removeSession(this);
    }

    tcp::socket socket_;
    StreamReceiveBuffer<T> receive_;
    const std::string peer_;
    OutgoingQueue<MessagePtr> queue_;
    TCPSocketServer& server_;
};

template <typename T>
TCPSocketServer<T>::TCPSocketServer(const std::string& address, int port, int threads)
    : address_(address), port_(port), threads_(threads), maxQueuedBytes_(OutgoingQueue<T>::kDefaultMaxBytes)
{
    listener_ = makeListener();
}

template <typename T>
TCPSocketServer<T>::~TCPSocketServer()
{
    stop();
    {
        std::lock_guard lock(listenerMutex_);
        listener_.reset();
    }
    Log::log(Log::Level::Debug, kCategory, "TCPSocketServer deconstructed");
}

template <typename T>
bool TCPSocketServer<T>::run()
{
    std::lock_guard listenerLock(listenerMutex_);
    if (running_.load())
        return true;
    if (!listener_)
        listener_ = makeListener();
    if (!listener_->ready()) {
        Log::log(Log::Level::Error, kCategory, "Cannot run: not listening on port " + std::to_string(port_));
        return false;
    }
    running_.store(true);
    listener_->start([this](tcp::socket socket) {
        error_code ec;
        const auto remote = socket.remote_endpoint(ec);
        if (ec)
            return fail(ec, "remote_endpoint");
        Log::log(Log::Level::Info, kCategory, "Connection established from client " + endpointText(remote));
        socket.set_option(tcp::no_delay(true), ec);
        auto session = std::make_shared<ServerSession>(*this, std::move(socket), endpointText(remote));
        session->setMaxQueuedBytes(maxQueuedBytes_.load());
        sessions_.add(session);
        session->start();
    });
    return true;
}

template <typename T>
bool TCPSocketServer<T>::stop()
{
    std::lock_guard listenerLock(listenerMutex_);
    Log::log(Log::Level::Debug, kCategory, "Stopping");
    running_.store(false);
    if (!listener_)
        return true;
    listener_->closeAcceptor();
    const auto close = [](ServerSession& session) { session.close(); };
    if (!sessions_.closeAll(kSessionCloseWait, close, close))
        Log::log(Log::Level::Warning, kCategory, "Error while closing the sessions");

    // With the acceptor and every socket closed the pool runs out of work and ends.
    listener_->join();
    sessions_.clear();
    // The next run() listens anew; sessions are gone before the context they belonged to.
    listener_.reset();
    localPort_.store(0);
    return true;
}

template <typename T>
std::unique_ptr<ListeningPool> TCPSocketServer<T>::makeListener()
{
    auto listener = std::make_unique<ListeningPool>(port_, threads_, "set_option", kCategory, fail);
    localPort_.store(listener->localPort());
    return listener;
}

template <typename T>
bool TCPSocketServer<T>::isRunning() const
{
    return running_.load();
}

template <typename T>
std::size_t TCPSocketServer<T>::connectedClients() const
{
    return sessions_.size();
}

template <typename T>
std::string TCPSocketServer<T>::address() const
{
    return address_.get() + ":" + std::to_string(port_);
}

template <typename T>
void TCPSocketServer<T>::sendMessage(T message)
{
    sessions_.broadcast(std::make_shared<const T>(std::move(message)));
}

template <typename T>
void TCPSocketServer<T>::sendMessage(MessagePtr message)
{
    if (message)
        sessions_.broadcast(message);
}

template <typename T>
int TCPSocketServer<T>::localPort() const
{
    return localPort_.load();
}

template <typename T>
std::size_t TCPSocketServer<T>::queuedBytes() const
{
    return sessions_.queuedBytes();
}

template <typename T>
void TCPSocketServer<T>::setMaxQueuedBytes(std::size_t bytes)
{
    maxQueuedBytes_.store(bytes);
}

template <typename T>
void TCPSocketServer<T>::removeSession(const ServerSession* session)
{
    sessions_.remove(session);
}

template <typename T>
ConnectionBlueprint<T> TCPSocketServer<T>::blueprint()
{
    ConnectionBlueprint<T> blueprint;
    blueprint.protocol = "TCP Socket Server";
    blueprint.makeProperties = [] {
        Properties properties;
        properties.setParam("hostIp", std::string());
        properties.setParam("hostPort", 0);
        properties.setParam("threads", 1);
        return properties;
    };
    blueprint.makeConnection = [](const Properties& properties) -> std::unique_ptr<TypedConnectionBase<T>> {
        return std::make_unique<TCPSocketServer<T>>(properties.param<std::string>("hostIp", ""),
                                                    properties.param<int>("hostPort", 0),
                                                    properties.param<int>("threads", 1));
    };
    return blueprint;
}

template class TCPSocketServer<std::string>;
template class TCPSocketServer<ByteBuffer>;

}  // namespace Corvexis::Network
