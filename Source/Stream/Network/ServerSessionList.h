#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace Corvexis::Network {

// The live sessions of a server: what the TCP and WebSocket servers keep of their clients, with the
// broadcast of outgoing messages and the wait for every session to end when the server stops.
//
// `Session` provides send(T&&) and queuedBytes(). Thread-safe: one mutex guards the list. The list
// lock is taken before any session's own (queue) lock, never after: send() runs under it.
template <typename Session, typename T>
class ServerSessionList
{
public:
    void add(std::shared_ptr<Session> session)
    {
        std::lock_guard lock(mutex_);
        sessions_.push_back(std::move(session));
    }

    // Removes `session` (when still listed) and wakes a waiting closeAll().
    void remove(const Session* session)
    {
        {
            std::lock_guard lock(mutex_);
            std::erase_if(sessions_, [session](const auto& s) { return s.get() == session; });
        }
        changed_.notify_all();
    }

    std::size_t size() const
    {
        std::lock_guard lock(mutex_);
        return sessions_.size();
    }

    // `message` to each session; with shared messages (std::shared_ptr<const M>) every session holds
    // the same bytes and nothing is copied. Dropped with none.
    void broadcast(const T& message)
    {
        std::lock_guard lock(mutex_);
        for (const auto& session : sessions_) {
            T forSession = message;
            session->send(std::move(forSession));
        }
    }

    // Sum over sessions of the bytes queued and not yet written.
    std::size_t queuedBytes() const
    {
        std::lock_guard lock(mutex_);
        std::size_t total = 0;
        for (const auto& session : sessions_)
            total += session->queuedBytes();
        return total;
    }

    // Calls `close` on every session, then waits up to `wait` for all of them to leave the list. When
    // some are still there, calls `late` on each of those and returns false. Both run under the list
    // lock, so they must only post work to the sessions.
    template <typename Close, typename Late>
    bool closeAll(std::chrono::milliseconds wait, Close&& close, Late&& late)
    {
        std::unique_lock lock(mutex_);
        for (const auto& session : sessions_)
            close(*session);
        if (changed_.wait_for(lock, wait, [this] { return sessions_.empty(); }))
            return true;
        for (const auto& session : sessions_)
            late(*session);
        return false;
    }

    // Empties the list; the sessions are released outside the lock.
    void clear()
    {
        std::vector<std::shared_ptr<Session>> leftovers;
        {
            std::lock_guard lock(mutex_);
            leftovers.swap(sessions_);
        }
    }

private:
    mutable std::mutex mutex_;
    // guarded by mutex_
    std::vector<std::shared_ptr<Session>> sessions_;
    std::condition_variable changed_;
};

}  // namespace Corvexis::Network
