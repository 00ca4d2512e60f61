#include "Stream/Network/TCPSocketClient.h"

#include <array>
#include <atomic>
#include <chrono>
#include <thread>

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/write.hpp>

#include "Host/Core/ByteBuffer.h"
#include "Host/Core/Log.h"
#include "Stream/Network/ConnectionErrorLog.h"
#include "Stream/Network/IoContextRunner.h"
#include "Stream/Network/OutgoingQueue.h"
#include "Stream/Network/StreamReceiveBuffer.h"
#include "Stream/Network/TransferRest.h"

namespace Corvexis::Network {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;
using boost::system::error_code;

namespace {
constexpr const char* kCategory = "TCPSocketClient";
}  // namespace

// One connection attempt and, if it succeeds, the connection. Runs its own io_context on its own thread;
// every handler runs there. Pending operations hold the session through shared_from_this; the owner
// joins the thread (shutdown) before it lets the session go, so `owner_` outlives every handler.
template <typename T>
class TCPSocketClient<T>::ClientSession : public std::enable_shared_from_this<ClientSession>
{
public:
    ClientSession(TCPSocketClient& owner, std::string host, int port, std::size_t maxQueuedBytes)
        : resolver_(context_), socket_(context_), host_(std::move(host)), port_(port), owner_(owner)
    {
        target_ = host_ + ":" + std::to_string(port_);
        queue_.setMaxBytes(maxQueuedBytes);
    }

    // Queues the resolve and connect, then starts the thread. Caller: the owner, once.
    void start()
    {
        do_resolve();
        thread_ = std::thread([this] { runIoContext(context_, kCategory, "TCPClient"); });
    }

    // Closes the socket on the session thread and joins it. Afterwards no handler runs any more.
    void shutdown()
    {
        connected.store(false);
        closed_.store(true);
        if (thread_.joinable()) {
            // Raw `this`: the caller holds the session until after the join below.
            asio::post(context_, [this] { closeSocket(); });
            thread_.join();
        }
        closeSocket();
        // Handlers posted after the thread ended would keep the session alive through their captured
        // pointer; running them now (they see the closed socket) releases them.
        context_.restart();
        context_.poll();
    }

    bool socketOpen() const { return socket_.is_open(); }

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
                    "Outgoing queue limit exceeded by a peer that does not read; closing the connection to " +
                        target_);
                connected.store(false);
                closed_.store(true);
                asio::post(context_, [self = this->shared_from_this()] { self->closeSocket(); });
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
        asio::async_connect(socket_, results,
                            [self = this->shared_from_this()](const error_code& e, const tcp::endpoint&) {
                                self->on_connect(e);
                            });
    }

    void on_connect(const error_code& ec)
    {
        if (ec)
            return fail(ec, "connect");
        if (closed_.load())
            return;
        error_code ignored;
        socket_.set_option(tcp::no_delay(true), ignored);
        Log::log(Log::Level::Info, kCategory, "Connection established to " + target_);
        connected.store(true);
        do_read();
    }

    void do_read()
    {
        socket_.async_read_some(
            receive_.prepare(),
            [self = this->shared_from_this()](const error_code& ec, std::size_t n) { self->on_read(ec, n); });
    }

    void on_read(const error_code& ec, std::size_t bytes)
    {
        if (ec)
            return fail(ec, "read");
        const bool debug = Log::isAccepted(Log::Level::Debug, kCategory);
        receive_.deliver(bytes, [&](std::shared_ptr<const T> message) {
            if (debug) {
                Log::log(Log::Level::Debug, kCategory, "Message received");
                Log::log(Log::Level::Debug, kCategory,
                         "Bytes Transferred: " + std::to_string(MessageBytes::size(*message)));
            }
            owner_.signalMessageReceived.emitSignal(std::move(message));
        });
        do_read();
    }

    void do_write()
    {
        if (closed_.load())
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
        // Receivers get the queued message itself (the producer's, when it was sent shared).
        if (owner_.signalMessageSent.connectionCount() > 0)
            owner_.signalMessageSent.emitSignal(std::move(written));
    }

    void fail(const error_code& ec, const char* what)
    {
        if (ec == asio::error::eof || ec == asio::error::operation_aborted) {
            Log::log(Log::Level::Debug, kCategory, "Ignore error (connection closed already)");
            return;
        }
        logConnectionError(kCategory, ec, what);
    }

    void closeSocket()
    {
        resolver_.cancel();
        error_code ignored;
        if (socket_.is_open()) {
            socket_.shutdown(tcp::socket::shutdown_both, ignored);
            socket_.close(ignored);
        }
    }

    asio::io_context context_{1};
    tcp::resolver resolver_;
    tcp::socket socket_;
    StreamReceiveBuffer<T> receive_;
    std::thread thread_;
    const std::string host_;
    const int port_;
    std::string target_;
    std::atomic<bool> closed_{false};
    OutgoingQueue<MessagePtr> queue_;
    TCPSocketClient& owner_;
};

template <typename T>
TCPSocketClient<T>::TCPSocketClient(const std::string& address, int port) : address_(address), port_(port)
{
}

template <typename T>
TCPSocketClient<T>::~TCPSocketClient()
{
    disconnectAll();
    disconnect();
}

template <typename T>
bool TCPSocketClient<T>::connect(int timeoutMs)
{
    const auto connectLock = session_.lockConnect();
    const auto session = session_.replace([this](std::size_t maxQueuedBytes) {
        return std::make_shared<ClientSession>(*this, address_.get(), port_, maxQueuedBytes);
    });
    session->start();

    const std::string where = address_.get() + ":" + std::to_string(port_);
    if (ClientSessionSlot<ClientSession>::waitForConnection(*session, timeoutMs, kCategory)) {
        Log::log(Log::Level::Info, kCategory, "Succesfully connected to Server at: " + where);
        return true;
    }
    Log::log(Log::Level::Error, kCategory, "Failed to connect to Server at: " + where);
    return false;
}

template <typename T>
bool TCPSocketClient<T>::isConnected() const
{
    return session_.isConnected();
}

template <typename T>
void TCPSocketClient<T>::disconnect()
{
    const auto connectLock = session_.lockConnect();
    const auto session = session_.release();
    if (!session)
        return;
    if (session->socketOpen())
        Log::log(Log::Level::Error, kCategory, "Client socket is not successfully closed");
    else
        Log::log(Log::Level::Info, kCategory, "Client socket is successfully closed");
}

template <typename T>
void TCPSocketClient<T>::sendMessage(T message)
{
    session_.send(std::make_shared<const T>(std::move(message)));
}

template <typename T>
void TCPSocketClient<T>::sendMessage(MessagePtr message)
{
    if (message)
        session_.send(std::move(message));
}

template <typename T>
std::size_t TCPSocketClient<T>::queuedBytes() const
{
    return session_.queuedBytes();
}

template <typename T>
void TCPSocketClient<T>::setMaxQueuedBytes(std::size_t bytes)
{
    session_.setMaxQueuedBytes(bytes);
}

template <typename T>
ConnectionBlueprint<T> TCPSocketClient<T>::blueprint()
{
    ConnectionBlueprint<T> blueprint;
    blueprint.protocol = "TCP Socket Client";
    blueprint.makeProperties = [] {
        Properties properties;
        properties.setParam("hostIp", std::string());
        properties.setParam("hostPort", 0);
        return properties;
    };
    blueprint.makeConnection = [](const Properties& properties) -> std::unique_ptr<TypedConnectionBase<T>> {
        return std::make_unique<TCPSocketClient<T>>(properties.param<std::string>("hostIp", ""),
                                                    properties.param<int>("hostPort", 0));
    };
    return blueprint;
}

template class TCPSocketClient<std::string>;
template class TCPSocketClient<ByteBuffer>;

}  // namespace Corvexis::Network
