#pragma once

#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>
#include <utility>

#include "Stream/Network/MessageBytes.h"

namespace Corvexis::Network {

// The outgoing messages of one session, written one at a time in push order: the front message is the
// one being written, so a push onto an empty queue is what starts a write.
//
// The queue is bounded in bytes so that a peer that stops reading cannot make us hold an unbounded
// amount of memory. A push that would take the queued bytes beyond the bound is refused, unless the
// queue is empty (a single message larger than the bound can always be sent). The session that owns the
// queue decides what a refusal means (the transports close the stalled session).
//
// Thread-safe: one mutex guards everything. References to the front stay valid until popFront(),
// because a deque keeps its elements in place when others are added at the back.
template <typename T>
class OutgoingQueue
{
public:
    static constexpr std::size_t kDefaultMaxBytes = std::size_t{256} << 20;

    enum class Push
    {
        StartWrite,  // the queue was empty: the caller must start writing the front
        Queued,      // a write is in flight; the message follows it
        Refused,     // the bound would be exceeded; the message was not queued
    };

    Push push(T&& message)
    {
        std::lock_guard lock(mutex_);
        const std::size_t bytes = MessageBytes::size(message);
        if (!messages_.empty() && queuedBytes_ + bytes > maxBytes_)
            return Push::Refused;
        messages_.push_back(std::move(message));
        queuedBytes_ += bytes;
        return messages_.size() == 1 ? Push::StartWrite : Push::Queued;
    }

    // The message being written. The queue must not be empty.
    const T& front() const
    {
        std::lock_guard lock(mutex_);
        return messages_.front();
    }

    // Removes the written front message and returns it; `more` tells whether another one waits.
    T popFront(bool& more)
    {
        std::lock_guard lock(mutex_);
        T written = std::move(messages_.front());
        messages_.pop_front();
        queuedBytes_ -= MessageBytes::size(written);
        more = !messages_.empty();
        return written;
    }

    std::size_t queuedBytes() const
    {
        std::lock_guard lock(mutex_);
        return queuedBytes_;
    }
    std::size_t size() const
    {
        std::lock_guard lock(mutex_);
        return messages_.size();
    }
    void setMaxBytes(std::size_t maxBytes)
    {
        std::lock_guard lock(mutex_);
        maxBytes_ = maxBytes;
    }

private:
    mutable std::mutex mutex_;
    // guarded by mutex_
    std::deque<T> messages_;
    std::size_t queuedBytes_ = 0;
    std::size_t maxBytes_ = kDefaultMaxBytes;
};

}  // namespace Corvexis::Network
