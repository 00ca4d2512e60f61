#include "Stream/Network/WebsocketServer.h"

#include <algorithm>
#include <thread>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>

#include "Host/Core/ByteBuffer.h"
#include "Host/Core/Log.h"
#include "Stream/Network/ConnectionErrorLog.h"
#include "Stream/Network/ListeningPool.h"
#include "Stream/Network/OutgoingQueue.h"
#include "Stream/Network/WebsocketReceiveBuffer.h"

namespace Corvexis::Network {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;
using boost::system::error_code;

namespace {

constexpr const char* kCategory = "WebsocketServer";
constexpr auto kSessionCloseWait = std::chrono::milliseconds(500);
// Longest wait for a client to answer our close frame.
constexpr auto kCloseTimeout = std::chrono::seconds(1);
constexpr auto kDefaultHandshakeTimeout = std::chrono::seconds(5);
constexpr auto kIdleTimeout = std::chrono::seconds(30);

void fail(const error_code& ec, const char* what)
{
    if (ec == asio::error::operation_aborted || ec == websocket::error::closed) {
        Log::log(Log::Level::Debug, kCategory, "Igonre error (connection closed already)");
        return;
    }
    logConnectionError(kCategory, ec, what);
}

}  // namespace

// One accepted client: opening handshake (with a deadline), then one read outstanding and one write in
// flight at a time, all on the session's strand. Pending operations keep it alive through
// shared_from_this; the server's list holds it until it ends.
template <typename T>
class WebsocketServer<T>::ServerSession : public std::enable_shared_from_this<ServerSession>
{
public:
    ServerSession(WebsocketServer& server, tcp::socket socket, std::string peerAddress, int peerPort,
                  const SessionSettings& settings)
        : ws_(std::move(socket)),
          peerAddress_(std::move(peerAddress)),
          peerPort_(peerPort),
          settings_(settings),
          server_(server)
    {
        queue_.setMaxBytes(settings.maxQueuedBytes);
    }

    void start()
    {
        asio::dispatch(ws_.get_executor(), [self = this->shared_from_this()] { self->do_handshake(); });
    }

    // Caller holds the session list's lock (list before queue). Messages queued before the
    // handshake completed are written after it.
    void send(MessagePtr&& message)
    {
        if (ending_.load())
            return;
        switch (queue_.push(std::move(message))) {
            case OutgoingQueue<MessagePtr>::Push::StartWrite:
                asio::post(ws_.get_executor(), [self = this->shared_from_this()] { self->do_write(); });
                break;
            case OutgoingQueue<MessagePtr>::Push::Queued:
                break;
            case OutgoingQueue<MessagePtr>::Push::Refused:
                Log::log(Log::Level::Error, kCategory,
                         "Outgoing queue limit exceeded by client " + peerAddress_ + ":" +
                             std::to_string(peerPort_) + ", which does not read; disconnecting it");
                ending_.store(true);
                asio::post(ws_.get_executor(), [self = this->shared_from_this()] { self->closeSocket(); });
                break;
        }
    }

    // A close frame when the handshake is done, else the socket is closed. Any thread.
    void close()
    {
        asio::post(ws_.get_executor(), [self = this->shared_from_this()] { self->do_close(); });
    }
    // Drops the connection at once. Any thread.
    void abort()
    {
        asio::post(ws_.get_executor(), [self = this->shared_from_this()] { self->closeSocket(); });
    }

    std::size_t queuedBytes() const { return queue_.queuedBytes(); }

private:
    void do_handshake()
    {
        // The deadline covers reading the whole upgrade request and writing the answer.
        beast::get_lowest_layer(ws_).expires_after(settings_.handshakeTimeout);
        ws_.read_message_max(settings_.maxMessageSize);
        ws_.binary(!MessageBytes::kIsText<T>);
        ws_.async_accept([self = this->shared_from_this()](const error_code& ec) { self->on_handshake(ec); });
    }

    void on_handshake(const error_code& ec)
    {
        if (ec) {
            fail(ec, "handshake");
            return end();
        }
        // From here on the WebSocket layer keeps its own limit (for the close handshake); the TCP layer's
        // deadline must be off then.
        beast::get_lowest_layer(ws_).expires_never();
        websocket::stream_base::timeout timeouts{};
        timeouts.handshake_timeout = kCloseTimeout;
        // A quiet client is pinged and dropped when it stays silent; this also bounds the wait for a
        // client that broke the protocol and never closes its end of the connection.
        timeouts.idle_timeout = kIdleTimeout;
        timeouts.keep_alive_pings = true;
        ws_.set_option(timeouts);
        handshakeDone_ = true;
        if (closeWanted_)
            return do_close();
        do_read();
        if (queue_.size() > 0)
            do_write();
    }

    void do_read()
    {
        receive_.asyncRead(ws_, [self = this->shared_from_this()](const error_code& ec, std::size_t n) {
            self->on_read(ec, n);
        });
    }

    void on_read(const error_code& ec, std::size_t)
    {
        if (ec) {
            if (ec == websocket::error::closed)
                Log::log(Log::Level::Debug, kCategory, "Connection closed gracefully");
            else if (ec == websocket::error::message_too_big)
                Log::log(Log::Level::Error, kCategory,
                         "Message size exceeded maximum limit of " +
                             std::to_string(settings_.maxMessageSize) + " bytes");
            else if (ec != asio::error::operation_aborted)
                Log::log(Log::Level::Error, kCategory, "Connection error: " + ec.message());
            return end();
        }
        server_.signalMessageReceived.emitSignal(receive_.take());
        do_read();
    }

    void do_write()
    {
        // Before the handshake the write starts in on_handshake; while closing nothing more goes out.
        if (!handshakeDone_ || closing_ || ending_.load() || writing_)
            return;
        writing_ = true;
        const T& message = *queue_.front();
        ws_.async_write(
            asio::buffer(MessageBytes::data(message), MessageBytes::size(message)),
            [self = this->shared_from_this()](const error_code& ec, std::size_t) { self->on_write(ec); });
    }

    void on_write(const error_code& ec)
    {
        writing_ = false;
        if (ec)
            return fail(ec, "write");
        bool more = false;
        queue_.popFront(more);
        if (more)
            do_write();
    }

    void do_close()
    {
        if (!handshakeDone_) {
            closeWanted_ = true;
            return closeSocket();
        }
        if (closing_ || !ws_.is_open())
            return;
        closing_ = true;
        ws_.async_close(websocket::close_code::going_away,
                        [self = this->shared_from_this()](const error_code& ec) {
                            if (ec)
                                fail(ec, "close");
                        });
    }

    void closeSocket()
    {
        error_code ignored;
        beast::get_lowest_layer(ws_).socket().shutdown(tcp::socket::shutdown_both, ignored);
        beast::get_lowest_layer(ws_).socket().close(ignored);
    }

    // Once per session: the read loop or the handshake ended.
    void end()
    {
        if (ended_)
            return;
        ended_ = true;
        ending_.store(true);
        Log::log(Log::Level::Info, kCategory,
                 "Connection closed from client " + peerAddress_ + ":" + std::to_string(peerPort_));
        server_.signalClientStateChanged.emitSignal(false, peerAddress_, peerPort_, nullptr);
        server_.removeSession(this);
    }

    websocket::stream<beast::tcp_stream> ws_;
    WebsocketReceiveBuffer<T> receive_;
    const std::string peerAddress_;
    const int peerPort_;
    const SessionSettings settings_;
    OutgoingQueue<MessagePtr> queue_;
    std::atomic<bool> ending_{false};
    // Session strand only.
    bool handshakeDone_ = false;
    bool closeWanted_ = false;
    bool closing_ = false;
    bool writing_ = false;
    bool ended_ = false;
    WebsocketServer& server_;
};

template <typename T>
WebsocketServer<T>::WebsocketServer(const std::string& address, int port, int threads)
    : address_(address),
      port_(port),
      threads_(threads),
      settings_{OutgoingQueue<T>::kDefaultMaxBytes, kDefaultMaxMessageSize,
                std::chrono::duration_cast<std::chrono::milliseconds>(kDefaultHandshakeTimeout)}
{
    listener_ = makeListener();
}

template <typename T>
WebsocketServer<T>::~WebsocketServer()
{
    stop();
    Log::log(Log::Level::Debug, kCategory, "Webserver deconstructed");
}

template <typename T>
bool WebsocketServer<T>::run()
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
        if (ec) {
            Log::log(Log::Level::Info, kCategory,
                     "Connection established from client (endpoint could not be retrieved)");
            Log::log(Log::Level::Warning, kCategory, "Failed to get remote endpoint: " + ec.message());
            return;
        }
        const std::string peerAddress = remote.address().to_string();
        const int peerPort = remote.port();
        Log::log(Log::Level::Info, kCategory,
                 "Connection established from client " + peerAddress + ":" + std::to_string(peerPort));
        bool refuse = false;
        signalClientStateChanged.emitSignal(true, peerAddress, peerPort, &refuse);
        if (refuse) {
            Log::log(Log::Level::Info, kCategory,
                     "Client " + peerAddress + ":" + std::to_string(peerPort) + " refused");
            socket.close(ec);
            return;
        }
        socket.set_option(tcp::no_delay(true), ec);
        auto session = std::make_shared<ServerSession>(*this, std::move(socket), peerAddress, peerPort,
                                                       sessionSettings());
        sessions_.add(session);
        session->start();
    });
    return true;
}

template <typename T>
bool WebsocketServer<T>::stop()
{
    std::lock_guard listenerLock(listenerMutex_);
    running_.store(false);
    if (!listener_)
        return true;
    listener_->closeAcceptor();
    const bool closedInTime = sessions_.closeAll(
        kSessionCloseWait, [](ServerSession& session) { session.close(); },
        [](ServerSession& session) { session.abort(); });
    if (!closedInTime)
        Log::log(Log::Level::Warning, kCategory, "Error while closing the sessions");
    // With the acceptor and every socket closed the pool runs out of work; a session stuck in a close
    // handshake ends by its own time limit.
    listener_->join();
    sessions_.clear();
    listener_.reset();
    localPort_.store(0);
    return closedInTime;
}

template <typename T>
std::unique_ptr<ListeningPool> WebsocketServer<T>::makeListener()
{
    auto listener =
        std::make_unique<ListeningPool>(port_, threads_, "set_option_reuse_address", kCategory, fail);
    localPort_.store(listener->localPort());
    return listener;
}

template <typename T>
bool WebsocketServer<T>::isRunning() const
{
    return running_.load();
}

template <typename T>
std::size_t WebsocketServer<T>::connectedClients() const
{
    return sessions_.size();
}

template <typename T>
std::string WebsocketServer<T>::address() const
{
    return address_.get() + ":" + std::to_string(port_);
}

template <typename T>
void WebsocketServer<T>::sendMessage(T message)
{
    sessions_.broadcast(std::make_shared<const T>(std::move(message)));
}

template <typename T>
void WebsocketServer<T>::sendMessage(MessagePtr message)
{
    if (message)
        sessions_.broadcast(message);
}

template <typename T>
bool WebsocketServer<T>::isReadyToRun() const
{
    return localPort_.load() != 0;
}

template <typename T>
int WebsocketServer<T>::localPort() const
{
    return localPort_.load();
}

template <typename T>
std::size_t WebsocketServer<T>::queuedBytes() const
{
    return sessions_.queuedBytes();
}

template <typename T>
void WebsocketServer<T>::setMaxQueuedBytes(std::size_t bytes)
{
    std::lock_guard lock(settingsMutex_);
    settings_.maxQueuedBytes = bytes;
}

template <typename T>
void WebsocketServer<T>::setMaxMessageSize(std::size_t bytes)
{
    std::lock_guard lock(settingsMutex_);
    settings_.maxMessageSize = bytes;
}

template <typename T>
std::size_t WebsocketServer<T>::maxMessageSize() const
{
    std::lock_guard lock(settingsMutex_);
    return settings_.maxMessageSize;
}

template <typename T>
void WebsocketServer<T>::setHandshakeTimeout(std::chrono::milliseconds timeout)
{
    std::lock_guard lock(settingsMutex_);
    settings_.handshakeTimeout = timeout;
}

template <typename T>
std::chrono::milliseconds WebsocketServer<T>::handshakeTimeout() const
{
    std::lock_guard lock(settingsMutex_);
    return settings_.handshakeTimeout;
}

template <typename T>
typename WebsocketServer<T>::SessionSettings WebsocketServer<T>::sessionSettings() const
{
    std::lock_guard lock(settingsMutex_);
    return settings_;
}

template <typename T>
void WebsocketServer<T>::removeSession(const ServerSession* session)
{
    sessions_.remove(session);
}

template <typename T>
ConnectionBlueprint<T> WebsocketServer<T>::blueprint()
{
    ConnectionBlueprint<T> blueprint;
    blueprint.protocol = "Websocket Server";
    blueprint.makeProperties = [] {
        Properties properties;
        properties.setParam("hostIp", std::string());
        properties.setParam("hostPort", 0);
        properties.setParam("threads", 1);
        return properties;
    };
    blueprint.makeConnection = [](const Properties& properties) -> std::unique_ptr<TypedConnectionBase<T>> {
        return std::make_unique<WebsocketServer<T>>(properties.param<std::string>("hostIp", ""),
                                                    properties.param<int>("hostPort", 0),
                                                    properties.param<int>("threads", 1));
    };
    return blueprint;
}

template class WebsocketServer<std::string>;
template class WebsocketServer<ByteBuffer>;

}  // namespace Corvexis::Network
