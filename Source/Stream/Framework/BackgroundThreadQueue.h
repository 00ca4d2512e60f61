#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace Corvexis {

namespace GL {
class Context;
}

// A bounded hand-off from one producer thread to one processing thread that drops the oldest waiting
// entry when full, so that the producer never waits and a slow processor stays at most `capacity` + 1
// entries behind. Entries are type-erased work items; BackgroundThreadConsumer<T> wraps its payloads.
//
// Drop rule, applied by push under the mutex: the limit is `capacity` while the thread is busy (the
// entry being processed then stays at the front) and `capacity` - 1 while it is idle; the front entry
// is removed while the queue exceeds the limit, then the new entry is appended. After processing, the
// thread removes the front entry; if an overflow removed the processed entry meanwhile, that front is
// the oldest waiting entry, which is thereby dropped unprocessed. Every entry's completion promise is
// fulfilled exactly once: after it was processed, or when it was dropped.
//
// The processing thread starts with the first accepted entry. If asked, it creates a graphics context,
// keeps it current until it ends, and flushes it after every entry.
class BackgroundThreadQueue
{
public:
    struct Entry
    {
        std::function<void()> work;                      // empty: the entry is refused
        std::shared_ptr<std::promise<void>> completion;  // optional
    };

    // `capacity` is clamped to at least 1. Thread-safe.
    explicit BackgroundThreadQueue(std::string threadName = "BackgroundThreadQueue", std::size_t capacity = 5,
                                   bool needsOpenGl = false);
    // stop(). Caller synchronises; not from the processing thread.
    ~BackgroundThreadQueue();
    BackgroundThreadQueue(const BackgroundThreadQueue&) = delete;
    BackgroundThreadQueue& operator=(const BackgroundThreadQueue&) = delete;

    // Queues `entry` by the drop rule and wakes the processing thread. False, dropping the entry
    // (its completion is fulfilled), when a stop was requested or the entry has no work. Producer
    // thread; thread-safe.
    bool push(Entry entry);

    // Returns once the queue is empty (every entry processed or dropped) or a stop was requested.
    // From the processing thread itself it logs an error and returns at once. Thread-safe.
    void waitUntilCompleted();

    // Requests a stop, joins the processing thread (after the entry in progress) and drops the entries
    // still queued. Further pushes are refused. Concurrent callers all return only once the thread has
    // ended. From the processing thread itself it only requests the stop. Thread-safe.
    void stop();

    // Takes effect with the next push. Clamped to at least 1. Thread-safe.
    void setCapacity(std::size_t capacity);
    std::size_t capacity() const;  // thread-safe
    // Entries held, the one in progress included. Thread-safe.
    std::size_t size() const;
    // The largest size() seen right after a push. Thread-safe.
    std::size_t highWaterMark() const;
    // Number of entries dropped unprocessed. Thread-safe.
    std::uint64_t droppedCount() const;
    // True while the processing thread runs an entry. Thread-safe.
    bool isBusy() const;

private:
    struct Item
    {
        Entry entry;
        std::uint64_t serial = 0;
    };

    void run();
    // Sets the value of each promise (outside the mutex: a waiter may run at once).
    static void fulfil(std::vector<std::shared_ptr<std::promise<void>>>& promises);

    const std::string threadName_;
    const bool needsOpenGl_;

    mutable std::mutex mutex_;
    std::condition_variable wake_;     // an entry arrived or a stop was requested
    std::condition_variable drained_;  // the queue became empty or a stop was requested
    // guarded by mutex_
    std::deque<Item> queue_;
    std::size_t capacity_;
    bool busy_ = false;
    bool stopRequested_ = false;
    std::uint64_t nextSerial_ = 0;
    std::uint64_t inProgressSerial_ = 0;  // meaningful while busy_
    std::size_t highWaterMark_ = 0;
    std::uint64_t dropped_ = 0;
    std::thread thread_;
    std::thread::id threadId_;  // kept after the thread ended, to recognise calls from it

    // Serialises joins: taken by stop() before mutex_, never while holding it.
    std::mutex joinMutex_;

    // Processing thread only: the context it created, released when it ends.
    std::unique_ptr<GL::Context> context_;
};

}  // namespace Corvexis
