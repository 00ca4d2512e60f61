#include "Stream/Network/UDPSocket.h"

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/multicast.hpp>
#include <boost/asio/ip/udp.hpp>
#include <boost/asio/post.hpp>

#include "Host/Core/ByteBuffer.h"
#include "Host/Core/Log.h"
#include "Stream/Network/IoContextRunner.h"
#include "Stream/Network/OutgoingQueue.h"

namespace Corvexis::Network {

namespace asio = boost::asio;
using udp = asio::ip::udp;
using boost::system::error_code;

namespace {

constexpr const char* kSessionCategory = "UDPSession";
constexpr const char* kSocketCategory = "UDPSocket";
constexpr std::size_t kReceiveSize = 65536;

// IPv6 text first, then IPv4; raises on text that is neither.
asio::ip::address parseAddress(const std::string& text)
{
    error_code ec;
    const auto v6 = asio::ip::make_address_v6(text, ec);
    if (!ec)
        return v6;
    return asio::ip::make_address_v4(text);
}

bool isIPv4Multicast(const asio::ip::address& address)
{
    return address.is_v4() && address.to_v4().is_multicast();
}

}  // namespace

// The socket, its io_context and the thread that runs it. Handlers capture `this`: the session is owned
// by the UDPSocket, which joins the thread before destroying it.
template <typename T>
class UDPSocket<T>::UDPSession
{
public:
    using Deliver = std::function<void(std::string, std::shared_ptr<const T>)>;

    UDPSession(const std::string& ownAddress, unsigned short ownPort, const std::string& peerAddress,
               unsigned short peerPort, Deliver deliver)
        : socket_(context_), deliver_(std::move(deliver))
    {
        // No own address: every local interface.
        const auto own = parseAddress(ownAddress.empty() ? std::string("0.0.0.0") : ownAddress);
        ownEndpoint_ = udp::endpoint(own, ownPort);
        ownText_ = ownAddress + ":" + std::to_string(ownPort);
        if (isIPv4Multicast(own)) {
            Log::log(Log::Level::Debug, kSessionCategory,
                     "Running in multicast mode: Join multicast group as a receiver");
            socket_.open(udp::v4());
            socket_.set_option(asio::socket_base::reuse_address(true));
            bindOrRaise(udp::endpoint(asio::ip::address_v4::any(), ownPort));
            socket_.set_option(asio::ip::multicast::join_group(own));
        } else {
            socket_.open(ownEndpoint_.protocol());
            socket_.set_option(asio::socket_base::reuse_address(true));
            bindOrRaise(ownEndpoint_);
        }
        if (!peerAddress.empty())
            formPeer(peerAddress, peerPort, own);
        Log::log(Log::Level::Info, kSessionCategory, "Setup UDP communication to  " + peerText_);
        Log::log(Log::Level::Info, kSessionCategory, "Listen on endpoint " + ownText_);
    }

    ~UDPSession()
    {
        stop();
        error_code ignored;
        socket_.close(ignored);
    }

    bool run()
    {
        std::lock_guard lock(runMutex_);
        if (running.load())
            return true;
        if (context_.stopped())
            context_.restart();
        running.store(true);
        asio::post(context_, [this] { do_receive(); });
        // Datagrams left queued by a send error go out now.
        if (queue_.size() > 0)
            asio::post(context_, [this] { do_send(); });
        thread_ = std::thread([this] { runIoContext(context_, kSessionCategory, "UDPSocket"); });
        Log::log(Log::Level::Info, kSessionCategory, "Started");
        return true;
    }

    bool stop()
    {
        std::lock_guard lock(runMutex_);
        if (!running.load() && !thread_.joinable())
            return true;
        running.store(false);
        asio::post(context_, [this] {
            error_code ignored;
            socket_.cancel(ignored);
        });
        // Handlers after the cancel see operation_aborted and do not re-arm.
        context_.stop();
        if (thread_.joinable())
            thread_.join();
        error_code ignored;
        socket_.cancel(ignored);
        context_.restart();
        context_.poll();
        Log::log(Log::Level::Info, kSessionCategory, "Stopped");
        return true;
    }

    void send(T&& message)
    {
        if (!peerValid_) {
            Log::log(Log::Level::Warning, kSessionCategory, "No peer endpoint; datagram dropped");
            return;
        }
        switch (queue_.push(std::move(message))) {
            case OutgoingQueue<T>::Push::StartWrite:
                asio::post(context_, [this] { do_send(); });
                break;
            case OutgoingQueue<T>::Push::Queued:
                break;
            case OutgoingQueue<T>::Push::Refused:
                Log::log(Log::Level::Error, kSessionCategory,
                         "Outgoing queue limit exceeded; datagram dropped");
                break;
        }
    }

    unsigned short localPort() const
    {
        error_code ec;
        const auto endpoint = socket_.local_endpoint(ec);
        return ec ? 0 : endpoint.port();
    }

    void setMaxQueuedBytes(std::size_t bytes) { queue_.setMaxBytes(bytes); }

    std::atomic<bool> running{false};

private:
    void bindOrRaise(const udp::endpoint& endpoint)
    {
        error_code ec;
        socket_.bind(endpoint, ec);
        if (ec)
            throw boost::system::system_error(ec, "bind");
    }

    void formPeer(const std::string& peerAddress, unsigned short peerPort, const asio::ip::address& own)
    {
        error_code ec;
        asio::ip::address peer = asio::ip::make_address(peerAddress, ec);
        if (ec) {
            udp::resolver resolver(context_);
            const auto results = resolver.resolve(peerAddress, std::to_string(peerPort), ec);
            if (ec || results.empty()) {
                Log::log(Log::Level::Error, kSessionCategory,
                         "Failed to resolve remote endpoint " + peerAddress);
                return;
            }
            peer = results.begin()->endpoint().address();
        }
        peerEndpoint_ = udp::endpoint(peer, peerPort);
        peerValid_ = true;
        peerText_ = peer.to_string() + ":" + std::to_string(peerPort);
        if (isIPv4Multicast(peer)) {
            Log::log(Log::Level::Debug, kSessionCategory,
                     "Running in multicast mode: Multicast outgoing messages");
            socket_.set_option(asio::ip::multicast::hops(1));
            socket_.set_option(asio::ip::multicast::enable_loopback(true));
            // to_v4() raises bad_address_cast for an IPv6 own address.
            socket_.set_option(asio::ip::multicast::outbound_interface(own.to_v4()));
        }
    }

    void do_receive()
    {
        if (!running.load())
            return;
        if (Log::isAccepted(Log::Level::Debug, kSessionCategory))
            Log::log(Log::Level::Debug, kSessionCategory, "Waiting for message");
        socket_.async_receive_from(asio::buffer(buffer_), sender_,
                                   [this](const error_code& ec, std::size_t n) { on_receive(ec, n); });
    }

    void on_receive(const error_code& ec, std::size_t bytes)
    {
        if (ec) {
            if (ec != asio::error::operation_aborted)
                Log::log(Log::Level::Error, kSessionCategory, "UDPClient:Connection error " + ec.message());
            running.store(false);
            return;
        }
        auto message = MessageBytes::make<T>(buffer_.data(), bytes);
        if (Log::isAccepted(Log::Level::Debug, kSessionCategory)) {
            Log::log(Log::Level::Debug, kSessionCategory, "Message received");
            Log::log(Log::Level::Debug, kSessionCategory,
                     "message received: " + MessageBytes::preview(*message));
        }
        deliver_(sender_.address().to_string(), std::move(message));
        if (running.load())
            do_receive();
    }

    void do_send()
    {
        const T& message = queue_.front();
        socket_.async_send_to(asio::buffer(MessageBytes::data(message), MessageBytes::size(message)),
                              peerEndpoint_, [this](const error_code& ec, std::size_t) { on_send(ec); });
    }

    void on_send(const error_code& ec)
    {
        if (ec) {
            if (ec != asio::error::operation_aborted)
                Log::log(Log::Level::Error, kSessionCategory, "UDPClient:Connection error " + ec.message());
            running.store(false);
            // The datagram stays queued; the next run() sends it.
            return;
        }
        bool more = false;
        T sent = queue_.popFront(more);
        if (Log::isAccepted(Log::Level::Debug, kSessionCategory))
            Log::log(Log::Level::Debug, kSessionCategory, "Message sent: " + MessageBytes::preview(sent));
        if (more)
            do_send();
    }

    asio::io_context context_{1};
    udp::socket socket_;
    udp::endpoint ownEndpoint_;
    udp::endpoint peerEndpoint_;
    bool peerValid_ = false;
    std::string ownText_;
    std::string peerText_;
    std::vector<char> buffer_ = std::vector<char>(kReceiveSize);
    udp::endpoint sender_;
    OutgoingQueue<T> queue_;
    Deliver deliver_;
    std::mutex runMutex_;  // serialises run and stop
    std::thread thread_;
};

template <typename T>
UDPSocket<T>::UDPSocket(const std::string& ownAddress, unsigned short ownPort, const std::string& peerAddress,
                        unsigned short peerPort)
    : session_(std::make_unique<UDPSession>(ownAddress, ownPort, peerAddress, peerPort,
                                            [this](std::string sender, std::shared_ptr<const T> message) {
                                                onReceived(std::move(sender), std::move(message));
                                            }))
{
}

template <typename T>
UDPSocket<T>::~UDPSocket()
{
    session_.reset();
}

template <typename T>
bool UDPSocket<T>::run()
{
    return session_->run();
}

template <typename T>
bool UDPSocket<T>::stop()
{
    return session_->stop();
}

template <typename T>
bool UDPSocket<T>::isRunning() const
{
    return session_->running.load();
}

template <typename T>
void UDPSocket<T>::sendMessage(T message)
{
    session_->send(std::move(message));
}

template <typename T>
unsigned short UDPSocket<T>::localPort() const
{
    return session_->localPort();
}

template <typename T>
void UDPSocket<T>::setMaxQueuedBytes(std::size_t bytes)
{
    session_->setMaxQueuedBytes(bytes);
}

template <typename T>
void UDPSocket<T>::onReceived(std::string sender, std::shared_ptr<const T> message)
{
    if (Log::isAccepted(Log::Level::Debug, kSocketCategory))
        Log::log(Log::Level::Debug, kSocketCategory, "Message received: " + MessageBytes::preview(*message));
    this->signalMessageReceived.emitSignal(message);
    signalMessageReceivedFrom.emitSignal(SenderAndMessage(std::move(sender), std::move(message)));
}

template <typename T>
ConnectionBlueprint<T> UDPSocket<T>::blueprint()
{
    ConnectionBlueprint<T> blueprint;
    blueprint.protocol = "UDP Socket";
    blueprint.makeProperties = [] {
        Properties properties;
        properties.setParam("ownIp", std::string());
        properties.setParam("ownPort", 0);
        properties.setParam("peerIp", std::string());
        properties.setParam("peerPort", 0);
        return properties;
    };
    blueprint.makeConnection = [](const Properties& properties) -> std::unique_ptr<TypedConnectionBase<T>> {
        return std::make_unique<UDPSocket<T>>(
            properties.param<std::string>("ownIp", ""),
            static_cast<unsigned short>(properties.param<int>("ownPort", 0)),
            properties.param<std::string>("peerIp", ""),
            static_cast<unsigned short>(properties.param<int>("peerPort", 0)));
    };
    return blueprint;
}

template class UDPSocket<std::string>;
template class UDPSocket<ByteBuffer>;

}  // namespace Corvexis::Network
