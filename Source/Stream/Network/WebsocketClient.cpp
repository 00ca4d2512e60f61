#include "Stream/Network/WebsocketClient.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>

#include "Host/Core/ByteBuffer.h"
#include "Host/Core/Log.h"
#include "Stream/Network/ConnectionErrorLog.h"
#include "Stream/Network/IoContextRunner.h"
#include "Stream/Network/OutgoingQueue.h"
#include "Stream/Network/WebsocketReceiveBuffer.h"

namespace Corvexis::Network {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;
using boost::system::error_code;

namespace {

constexpr const char* kCategory = "WebsocketClient";
// Longest wait for the peer to answer our close frame before the connection is dropped.
constexpr auto kCloseTimeout = std::chrono::seconds(1);
// Masked client frames are assembled (copied and masked) in a buffer of this size, one piece per
// socket write. The default of a few KiB costs one system call per few KiB; with 64 KiB a 1 MiB message
// still took about a third more CPU time than with 512 KiB on loopback.
constexpr std::size_t kWriteBufferBytes = 512 * 1024;

void fail(const error_code& ec, const char* what)
{
    if (ec == asio::error::operation_aborted || ec == websocket::error::closed) {
        Log::log(Log::Level::Debug, kCategory, "Ignore error (connection closed already)");
        return;
    }
    logConnectionError(kCategory, ec, what);
}

}  // namespace

// One connection: its io_context, thread and WebSocket stream. Pending operations hold the session
// through shared_from_this; the owner shuts it down (joins the thread) before letting it go.
template <typename T>
class WebsocketClient<T>::ClientSession : public std::enable_shared_from_this<ClientSession>
{
public:
    ClientSession(WebsocketClient& owner, std::string host, int port, std::size_t maxQueuedBytes)
        : resolver_(context_), ws_(context_), host_(std::move(host)), port_(port), owner_(owner)
    {
        queue_.setMaxBytes(maxQueuedBytes);
    }

    // Queues resolve, connect and handshake, then starts the thread; false for a closed session.
    bool run(int timeoutMs)
    {
        if (closed_.load()) {
            Log::log(Log::Level::Error, kCategory, "Cannot rerun an already closed session");
            return false;
        }
        connectTimeout_ = std::chrono::milliseconds(std::max(timeoutMs, 1000));
        do_resolve();
        thread_ = std::thread([this] {
            runIoContext(context_, kCategory, "WebsocketClient");
            {
                std::lock_guard lock(finishedMutex_);
                finished_ = true;
            }
            finishedChanged_.notify_all();
        });
        return true;
    }

    // Normal close, a bounded wait for it, then the thread is joined. Afterwards no handler runs.
    void shutdown()
    {
        connected.store(false);
        const bool wasClosed = closed_.exchange(true);
        if (thread_.joinable()) {
            // Raw `this`: the caller holds the session until after the join below.
            asio::post(context_, [this] { do_close(); });
            std::unique_lock lock(finishedMutex_);
            if (!finishedChanged_.wait_for(lock, kCloseTimeout + std::chrono::milliseconds(500),
                                           [this] { return finished_; }))
                context_.stop();
            lock.unlock();
            thread_.join();
        }
        error_code ignored;
        beast::get_lowest_layer(ws_).socket().close(ignored);
        context_.restart();
        context_.poll();
        if (!wasClosed)
            Log::log(Log::Level::Info, kCategory, "ClientSession closed");
    }

    void send(MessagePtr&& message)
    {
        if (closed_.load())
            return;
        switch (queue_.push(std::move(message))) {
            case OutgoingQueue<MessagePtr>::Push::StartWrite:
                asio::post(context_, [self = this->shared_from_this()] { self->do_write(); });
                break;
            case OutgoingQueue<MessagePtr>::Push::Queued:
                break;
            case OutgoingQueue<MessagePtr>::Push::Refused:
                Log::log(
                    Log::Level::Error, kCategory,
                    "Outgoing queue limit exceeded by a peer that does not read; closing the connection");
                connected.store(false);
                closed_.store(true);
                asio::post(context_, [self = this->shared_from_this()] {
                    error_code ignored;
                    beast::get_lowest_layer(self->ws_).socket().close(ignored);
                });
                break;
        }
    }

    std::size_t queuedBytes() const { return queue_.queuedBytes(); }

    std::atomic<bool> connected{false};

private:
    void do_resolve()
    {
        resolver_.async_resolve(
            host_, std::to_string(port_),
            [self = this->shared_from_this()](const error_code& ec, tcp::resolver::results_type results) {
                self->on_resolve(ec, std::move(results));
            });
    }

    void on_resolve(const error_code& ec, tcp::resolver::results_type results)
    {
        if (ec)
            return fail(ec, "resolve");
        beast::get_lowest_layer(ws_).expires_after(connectTimeout_);
        beast::get_lowest_layer(ws_).async_connect(
            results, [self = this->shared_from_this()](const error_code& e, const tcp::endpoint&) {
                self->on_connect(e);
            });
    }

    void on_connect(const error_code& ec)
    {
        if (ec)
            return fail(ec, "connect");
        error_code ignored;
        beast::get_lowest_layer(ws_).socket().set_option(tcp::no_delay(true), ignored);
        ws_.binary(!MessageBytes::kIsText<T>);
        ws_.write_buffer_bytes(kWriteBufferBytes);
        ws_.async_handshake(
            host_ + ":" + std::to_string(port_), "/",
            [self = this->shared_from_this()](const error_code& e) { self->on_handshake(e); });
    }

    void on_handshake(const error_code& ec)
    {
        if (ec)
            return fail(ec, "handshake");
        // From here the WebSocket layer keeps its own time limit (for the close handshake); the TCP
        // layer's deadline must be off then.
        beast::get_lowest_layer(ws_).expires_never();
        websocket::stream_base::timeout timeouts{};
        timeouts.handshake_timeout = kCloseTimeout;
        timeouts.idle_timeout = websocket::stream_base::none();
        timeouts.keep_alive_pings = false;
        ws_.set_option(timeouts);
        if (closed_.load())
            return;
        Log::log(Log::Level::Info, kCategory,
                 "Connection established to " + host_ + ":" + std::to_string(port_));
        connected.store(true);
        handshakeDone_ = true;
        do_read();
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
            connected.store(false);
            return fail(ec, "read");
        }
        owner_.signalMessageReceived.emitSignal(receive_.take());
        do_read();
    }

    void do_write()
    {
        if (!handshakeDone_ || closing_)
            return;
        const T& message = *queue_.front();
        ws_.async_write(
            asio::buffer(MessageBytes::data(message), MessageBytes::size(message)),
            [self = this->shared_from_this()](const error_code& ec, std::size_t) { self->on_write(ec); });
    }

    void on_write(const error_code& ec)
    {
        if (ec)
            return fail(ec, "write");
        bool more = false;
        queue_.popFront(more);
        if (more)
            do_write();
    }

    void do_close()
    {
        if (closing_)
            return;
        closing_ = true;
        if (!handshakeDone_ || !ws_.is_open()) {
            resolver_.cancel();
            error_code ignored;
            beast::get_lowest_layer(ws_).socket().close(ignored);
            return;
        }
        ws_.async_close(websocket::close_code::normal,
                        [self = this->shared_from_this()](const error_code& ec) {
                            if (ec)
                                return fail(ec, "close");
                            Log::log(Log::Level::Info, kCategory, "Connection closed");
                        });
    }

    asio::io_context context_{1};
    tcp::resolver resolver_;
    websocket::stream<beast::tcp_stream> ws_;
    WebsocketReceiveBuffer<T> receive_;
    std::thread thread_;
    // Set by the thread when its io_context returned, so that shutdown can bound its wait.
    std::mutex finishedMutex_;
    std::condition_variable finishedChanged_;
    bool finished_ = false;  // guarded by finishedMutex_
    std::chrono::milliseconds connectTimeout_{1000};
    const std::string host_;
    const int port_;
    std::atomic<bool> closed_{false};
    // Session thread only.
    bool handshakeDone_ = false;
    bool closing_ = false;
    OutgoingQueue<MessagePtr> queue_;
    WebsocketClient& owner_;
};

template <typename T>
WebsocketClient<T>::WebsocketClient(const std::string& address, int port) : address_(address), port_(port)
{
}

template <typename T>
WebsocketClient<T>::~WebsocketClient()
{
    disconnect();
}

template <typename T>
bool WebsocketClient<T>::connect(int timeoutMs)
{
    const auto connectLock = session_.lockConnect();
    const auto session = session_.replace([this](std::size_t maxQueuedBytes) {
        return std::make_shared<ClientSession>(*this, address_.get(), port_, maxQueuedBytes);
    });
    if (!session->run(timeoutMs))
        return false;
    return ClientSessionSlot<ClientSession>::waitForConnection(*session, timeoutMs, kCategory);
}

template <typename T>
bool WebsocketClient<T>::isConnected() const
{
    return session_.isConnected();
}

template <typename T>
void WebsocketClient<T>::disconnect()
{
    const auto connectLock = session_.lockConnect();
    session_.release();
}

template <typename T>
void WebsocketClient<T>::sendMessage(T message)
{
    session_.send(std::make_shared<const T>(std::move(message)));
}

template <typename T>
void WebsocketClient<T>::sendMessage(MessagePtr message)
{
    if (message)
        session_.send(std::move(message));
}

template <typename T>
std::size_t WebsocketClient<T>::queuedBytes() const
{
    return session_.queuedBytes();
}

template <typename T>
void WebsocketClient<T>::setMaxQueuedBytes(std::size_t bytes)
{
    session_.setMaxQueuedBytes(bytes);
}

template <typename T>
ConnectionBlueprint<T> WebsocketClient<T>::blueprint()
{
    ConnectionBlueprint<T> blueprint;
    blueprint.protocol = "Websocket Client";
    blueprint.makeProperties = [] {
        Properties properties;
        properties.setParam("hostIp", std::string());
        properties.setParam("hostPort", 0);
        properties.setParam("connectionTimeout", 50);
        return properties;
    };
    blueprint.makeConnection = [](const Properties& properties) -> std::unique_ptr<TypedConnectionBase<T>> {
        auto client = std::make_unique<WebsocketClient<T>>(properties.param<std::string>("hostIp", ""),
                                                           properties.param<int>("hostPort", 0));
        // The value may be stored as a fraction; whole milliseconds are meant.
        client->connect(static_cast<int>(properties.param<double>("connectionTimeout", 50.0)));
        return client;
    };
    return blueprint;
}

template class WebsocketClient<std::string>;
template class WebsocketClient<ByteBuffer>;

}  // namespace Corvexis::Network
