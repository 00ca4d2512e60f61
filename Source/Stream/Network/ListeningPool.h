#pragma once

#include <algorithm>
#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/strand.hpp>

#include "Stream/Network/IoContextRunner.h"

namespace Corvexis::Network {

// The listening half of a server: an acceptor on the IPv4 any-address and a port, and the pool of
// threads that runs every handler of the server (the sessions' too). The acceptor's handlers run on a
// strand of their own, so that closing it from another thread never races an accept; every accepted
// socket gets a strand of its own for its session.
//
// Threading: construction, start and join by the owning server (caller synchronises); closeAcceptor
// thread-safe. The accept callback runs on a pool thread.
class ListeningPool
{
public:
    using Fail = std::function<void(const boost::system::error_code&, const char* what)>;
    using Accepted = std::function<void(boost::asio::ip::tcp::socket)>;

    // Opens, sets address reuse, binds and listens; the first failing step goes to `fail` with its name
    // ("open", `reuseOptionName`, "bind", "listen") and leaves the acceptor closed.
    ListeningPool(int port, int threads, const char* reuseOptionName, const std::string& category, Fail fail)
        : threadCount_(std::max(threads, 1)),
          context_(threadCount_),
          acceptor_(boost::asio::make_strand(context_)),
          category_(category),
          fail_(std::move(fail))
    {
        using boost::asio::ip::tcp;
        const tcp::endpoint endpoint(tcp::v4(), static_cast<unsigned short>(port));
        boost::system::error_code ec;
        acceptor_.open(endpoint.protocol(), ec);
        if (ec) {
            fail_(ec, "open");
            return;
        }
        acceptor_.set_option(boost::asio::socket_base::reuse_address(true), ec);
        if (ec) {
            failAndClose(ec, reuseOptionName);
            return;
        }
        acceptor_.bind(endpoint, ec);
        if (ec) {
            failAndClose(ec, "bind");
            return;
        }
        acceptor_.listen(boost::asio::socket_base::max_listen_connections, ec);
        if (ec) {
            failAndClose(ec, "listen");
            return;
        }
        localPort_ = acceptor_.local_endpoint(ec).port();
    }

    ~ListeningPool() { join(); }
    ListeningPool(const ListeningPool&) = delete;
    ListeningPool& operator=(const ListeningPool&) = delete;

    bool ready() const { return localPort_ != 0; }
    int localPort() const { return localPort_; }
    boost::asio::io_context& context() { return context_; }

    // One accept outstanding at a time, re-armed after each completion until closeAcceptor(); then the
    // threads. `accepted` gets each new socket (already on its own strand).
    void start(Accepted accepted)
    {
        accepted_ = std::move(accepted);
        accepting_.store(true);
        do_accept();
        for (int i = 0; i < threadCount_; ++i)
            threads_.emplace_back([this] { runIoContext(context_, category_, category_); });
    }

    void closeAcceptor()
    {
        accepting_.store(false);
        boost::asio::post(acceptor_.get_executor(), [this] {
            boost::system::error_code ignored;
            acceptor_.close(ignored);
        });
    }

    // Waits until the pool ran out of work (the owner closed the acceptor and every session), or was
    // stopped. Anything posted after the threads ended is run here, so that it lets go of what it holds.
    void join()
    {
        for (auto& thread : threads_) {
            if (thread.joinable())
                thread.join();
        }
        threads_.clear();
        context_.restart();
        context_.poll();
    }

    // Makes the pool's threads return even though work is pending (sessions that would not close).
    void stopContext() { context_.stop(); }

private:
    void failAndClose(const boost::system::error_code& ec, const char* what)
    {
        fail_(ec, what);
        boost::system::error_code ignored;
        acceptor_.close(ignored);
    }

    void do_accept()
    {
        acceptor_.async_accept(
            boost::asio::make_strand(context_),
            [this](const boost::system::error_code& ec, boost::asio::ip::tcp::socket socket) {
                on_accept(ec, std::move(socket));
            });
    }

    void on_accept(const boost::system::error_code& ec, boost::asio::ip::tcp::socket socket)
    {
        if (ec)
            fail_(ec, "accept");
        else
            accepted_(std::move(socket));
        if (accepting_.load() && acceptor_.is_open())
            do_accept();
    }

    const int threadCount_;
    boost::asio::io_context context_;
    boost::asio::ip::tcp::acceptor acceptor_;
    const std::string category_;
    const Fail fail_;
    Accepted accepted_;
    std::atomic<bool> accepting_{false};
    std::vector<std::thread> threads_;
    int localPort_ = 0;
};

}  // namespace Corvexis::Network
