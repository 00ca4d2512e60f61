#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

#include "Host/Core/Log.h"
#include "Stream/Network/OutgoingQueue.h"

namespace Corvexis::Network {

// The current session of a client connection (TCP or WebSocket) and what the client does with it
// regardless of the transport: replace it on connect, wait for it to connect, release it on
// disconnect, hand it messages while it is connected. The session (shared ownership) does the
// transport's work.
//
// `Session` provides `std::atomic<bool> connected`, shutdown() (ends it and joins its thread),
// send(T&&) and queuedBytes().
//
// Thread-safe. Locks: the connect lock (held by the client through the whole of connect and
// disconnect, which take time and join threads) before the slot's own.
template <typename Session>
class ClientSessionSlot
{
public:
    // Serialises connect and disconnect of one client.
    [[nodiscard]] std::unique_lock<std::mutex> lockConnect() { return std::unique_lock(connectMutex_); }

    // Makes the new session with make(maxQueuedBytes), makes it current and shuts the previous one
    // down. Caller holds lockConnect().
    template <typename Make>
    std::shared_ptr<Session> replace(Make&& make)
    {
        std::shared_ptr<Session> previous;
        std::shared_ptr<Session> session;
        {
            std::lock_guard lock(mutex_);
            session = make(maxQueuedBytes_);
            previous = std::exchange(session_, session);
        }
        if (previous)
            previous->shutdown();
        return session;
    }

    // Takes the current session out and shuts it down; null when there was none. Caller holds
    // lockConnect().
    std::shared_ptr<Session> release()
    {
        std::shared_ptr<Session> session;
        {
            std::lock_guard lock(mutex_);
            session = std::exchange(session_, nullptr);
        }
        if (session)
            session->shutdown();
        return session;
    }

    std::shared_ptr<Session> current() const
    {
        std::lock_guard lock(mutex_);
        return session_;
    }

    bool isConnected() const
    {
        const auto session = current();
        return session && session->connected.load();
    }

    // Hands `message` to the current session; dropped silently when there is none or it is not
    // connected.
    template <typename T>
    void send(T&& message)
    {
        const auto session = current();
        if (!session || !session->connected.load())
            return;
        session->send(std::forward<T>(message));
    }

    std::size_t queuedBytes() const
    {
        const auto session = current();
        return session ? session->queuedBytes() : 0;
    }

    // The bound of the outgoing queue for sessions made later.
    void setMaxQueuedBytes(std::size_t bytes)
    {
        std::lock_guard lock(mutex_);
        maxQueuedBytes_ = bytes;
    }

    // Polls `session` every 50 ms until it is connected or `timeoutMs` passed; logs the time taken
    // ("Connection time : <ms> ms", debug) under `category`. True when connected.
    static bool waitForConnection(const Session& session, int timeoutMs, const char* category)
    {
        const auto begin = std::chrono::steady_clock::now();
        const auto elapsedMs = [&] {
            return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                         begin)
                .count();
        };
        while (!session.connected.load() && elapsedMs() <= timeoutMs)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        Log::log(Log::Level::Debug, category, "Connection time : " + std::to_string(elapsedMs()) + " ms");
        return session.connected.load();
    }

private:
    std::mutex connectMutex_;
    mutable std::mutex mutex_;
    // guarded by mutex_
    std::shared_ptr<Session> session_;
    std::size_t maxQueuedBytes_ = OutgoingQueue<std::string>::kDefaultMaxBytes;
};

}  // namespace Corvexis::Network
