#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>

#include "Host/Core/Signal.h"

namespace Corvexis {

class Stream;
class StreamData;

// Lets one or more threads wait for the next record of a stream. Records arrive on the emitting thread;
// only the newest one not yet handed out is kept, so a waiter sees the latest record, never a backlog.
//
// The stream is borrowed. When it is destroyed first the consumer disconnects itself (on the stream's
// signalAboutToBeDestroyed, before its signals go), waking every waiter with Disconnected, and cannot
// connect again; connect() may race the stream's destruction.
class SynchronousConsumer : public SignalReceiver
{
public:
    struct WaitResult
    {
        enum Status : int
        {
            Received = 0,
            TimedOut = 1,
            Disconnected = 2,  // not connected, or disconnected while waiting
        };
        int status = Disconnected;
        std::shared_ptr<const StreamData> data;  // set for Received only
    };

    // Does not connect yet. Thread-safe.
    explicit SynchronousConsumer(Stream& stream);
    // Disconnects first, releasing every waiter with Disconnected. Caller synchronises.
    ~SynchronousConsumer() override;
    SynchronousConsumer(const SynchronousConsumer&) = delete;
    SynchronousConsumer& operator=(const SynchronousConsumer&) = delete;

    // Connects to the stream's signalStreamData unless already connected; a record kept from before is
    // discarded. Thread-safe.
    void connect();
    // Drops the connection and wakes every waiter with Disconnected. Thread-safe.
    void disconnect();
    // Thread-safe.
    bool isConnected() const;

    // Waits for a record that arrives after this call. Without a time-out waits until one arrives or the
    // consumer is disconnected; with one (seconds, non-positive meaning "now") returns TimedOut when it
    // expires. Thread-safe (any number of waiting threads).
    WaitResult waitForData(std::optional<std::chrono::duration<double>> timeout = std::nullopt);

private:
    // Emitting thread.
    void onStreamData(const std::shared_ptr<const StreamData>& data);

    mutable std::mutex mutex_;
    std::condition_variable arrived_;  // latest_ set, or connected_ cleared
    // guarded by mutex_
    Stream* stream_;  // null once the stream was destroyed
    bool connected_ = false;
    SignalConnection connection_;
    std::shared_ptr<const StreamData> latest_;

    // To the stream's signalAboutToBeDestroyed; tied to this receiver.
    SignalConnection teardownConnection_;
};

}  // namespace Corvexis
