#pragma once

#include <cstddef>
#include <cstdint>
#include <future>
#include <memory>
#include <string>
#include <utility>

#include "Stream/Framework/BackgroundThreadQueue.h"

namespace Corvexis {

// A payload handed to a background consumer, with the timestamps (milliseconds since 1970) of the
// record it came from and an optional promise fulfilled once the payload was processed or dropped.
template <typename T>
struct TimestampedPayload
{
    T payload{};
    std::uint64_t timestampArrival = 0;
    std::uint64_t timestampDevice = 0;
    std::shared_ptr<std::promise<void>> completion;
};

// Hands payloads from a producer (typically a stream's emitting thread) to one processing thread that
// calls process() for each, through a BackgroundThreadQueue that drops the oldest waiting payload when
// full. The producer never waits for processing.
//
// Rule for subclasses: call stopProcessing() first thing in the destructor, so that no process() call
// runs while the subclass's members are being destroyed; this base destructor runs too late for that.
template <typename T>
class BackgroundThreadConsumer
{
public:
    // `capacity`: the queue limit (at least 1). `needsOpenGl`: the processing thread creates a graphics
    // context, keeps it current and flushes it after each payload. Thread-safe.
    explicit BackgroundThreadConsumer(std::string threadName = "BackgroundThreadConsumer",
                                      std::size_t capacity = 5, bool needsOpenGl = false)
        : queue_(std::move(threadName), capacity, needsOpenGl)
    {
    }
    // Stops the processing thread; queued payloads are dropped. Caller synchronises.
    virtual ~BackgroundThreadConsumer() { stopProcessing(); }
    BackgroundThreadConsumer(const BackgroundThreadConsumer&) = delete;
    BackgroundThreadConsumer& operator=(const BackgroundThreadConsumer&) = delete;

    // Queues `payload` for process() on the processing thread and wakes it; false when refused (stop
    // requested). Thread-safe (meant for one producer).
    bool pushPayload(TimestampedPayload<T> payload)
    {
        auto completion = payload.completion;
        return queue_.push({[this, p = std::move(payload)]() mutable { process(p); }, std::move(completion)});
    }

    // Returns once every queued payload was processed or dropped. Thread-safe (not from process()).
    void waitUntilCompleted() { queue_.waitUntilCompleted(); }
    // Joins the processing thread after the payload in progress; later pushes are refused. Thread-safe.
    void stopProcessing() { queue_.stop(); }

    // Takes effect with the next push. Thread-safe.
    void setQueueCapacity(std::size_t capacity) { queue_.setCapacity(capacity); }
    std::size_t queueCapacity() const { return queue_.capacity(); }  // thread-safe
    // Payloads held, the one in progress included; and the most ever held. Thread-safe.
    std::size_t queueSize() const { return queue_.size(); }
    std::size_t queueHighWaterMark() const { return queue_.highWaterMark(); }
    // Payloads dropped unprocessed. Thread-safe.
    std::uint64_t droppedCount() const { return queue_.droppedCount(); }

protected:
    // Processes one payload. Processing thread (or the producer, when a subclass calls it directly to
    // force blocking). Exceptions are caught and logged by the queue.
    virtual void process(TimestampedPayload<T> payload) = 0;

private:
    BackgroundThreadQueue queue_;
};

}  // namespace Corvexis
