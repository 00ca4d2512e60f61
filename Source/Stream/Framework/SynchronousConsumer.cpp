#include "Stream/Framework/SynchronousConsumer.h"

#include <limits>

#include "Stream/Framework/Stream.h"
#include "Stream/Framework/StreamData.h"

namespace Corvexis {

SynchronousConsumer::SynchronousConsumer(Stream& stream) : stream_(&stream)
{
    // The notice comes while the stream's signals still exist. Clearing stream_ under mutex_ orders it
    // with connect(), which connects under the same lock: a connect either finished before (and its
    // connection is dropped here) or finds no stream.
    teardownConnection_ = stream.signalAboutToBeDestroyed.connect(this, [this] {
        SignalConnection connection;
        {
            std::lock_guard lock(mutex_);
            stream_ = nullptr;
            connected_ = false;
            connection = std::exchange(connection_, SignalConnection{});
            latest_.reset();
        }
        arrived_.notify_all();
        connection.disconnect();
    });
}

SynchronousConsumer::~SynchronousConsumer()
{
    disconnectAll();
    disconnect();
}

void SynchronousConsumer::connect()
{
    std::lock_guard lock(mutex_);
    if (!stream_ || connected_)
        return;
    latest_.reset();
    // Connecting calls nothing, so holding our own mutex here cannot deadlock with onStreamData.
    connection_ = stream_->signalStreamData.connect(
        this, [this](std::shared_ptr<const StreamData> data) { onStreamData(data); });
    connected_ = connection_.isConnected();
}

void SynchronousConsumer::disconnect()
{
    SignalConnection connection;
    {
        std::lock_guard lock(mutex_);
        connection = std::exchange(connection_, SignalConnection{});
        connected_ = false;
        latest_.reset();
    }
    arrived_.notify_all();
    // Outside the mutex: disconnect() waits for a running onStreamData, which takes the mutex.
    connection.disconnect();
}

bool SynchronousConsumer::isConnected() const
{
    std::lock_guard lock(mutex_);
    return connected_;
}

void SynchronousConsumer::onStreamData(const std::shared_ptr<const StreamData>& data)
{
    {
        std::lock_guard lock(mutex_);
        // A call that raced with disconnect() must not leave a record behind.
        if (!connected_)
            return;
        latest_ = data;
    }
    arrived_.notify_one();
}

SynchronousConsumer::WaitResult SynchronousConsumer::waitForData(
    std::optional<std::chrono::duration<double>> timeout)
{
    std::unique_lock lock(mutex_);
    latest_.reset();
    if (!connected_)
        return {WaitResult::Disconnected, nullptr};

    const auto ready = [this] { return latest_ || !connected_; };
    if (!timeout) {
        arrived_.wait(lock, ready);
    } else {
        using Clock = std::chrono::steady_clock;
        const auto now = Clock::now();
        const double seconds = timeout->count();
        // Clamp instead of overflowing the clock's range; NaN counts as "now".
        const double maxSeconds = std::chrono::duration<double>(Clock::time_point::max() - now).count() * 0.5;
        Clock::time_point deadline = now;
        if (seconds > maxSeconds)
            deadline = Clock::time_point::max() - (Clock::time_point::max() - now) / 2;
        else if (seconds > 0.0)
            deadline =
                now + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
        if (!arrived_.wait_until(lock, deadline, ready))
            return {WaitResult::TimedOut, nullptr};
    }
    if (!latest_)
        return {WaitResult::Disconnected, nullptr};
    return {WaitResult::Received, std::exchange(latest_, nullptr)};
}

}  // namespace Corvexis
