#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace Corvexis {

// The capture thread of a camera stream: runs a loop that paces itself with sleepUntil(), and is
// stopped by waking that sleep and joining. The loop must not take the lock its owner holds around
// start() and stop() (the wait here uses a mutex of its own), so joining under the owner's lock is safe.
//
// Threading: start, stop and running: caller synchronises (the owner's session lock); sleepUntil and
// stopRequested: capture thread.
class CaptureThread
{
public:
    CaptureThread() = default;
    ~CaptureThread();
    CaptureThread(const CaptureThread&) = delete;
    CaptureThread& operator=(const CaptureThread&) = delete;

    // Starts `loop` on a new thread. Must not be running.
    void start(std::function<void()> loop);
    // Asks the loop to end, wakes its sleep and joins it; nothing when not running.
    void stop();
    bool running() const { return thread_ != nullptr; }

    // Waits until `deadline` (coarsely on a condition variable, the last bit precisely); false when a
    // stop was requested meanwhile.
    bool sleepUntil(std::chrono::steady_clock::time_point deadline);

private:
    std::unique_ptr<std::thread> thread_;
    std::mutex wakeMutex_;
    std::condition_variable wake_;
    std::atomic<bool> stop_{false};
};

}  // namespace Corvexis
