#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace Corvexis::Threading {

// Owns one named thread that runs a body until the body returns. The body is expected to poll
// isStopRequested() (or wait in waitForStop()) and return soon after a stop request; the destructor
// requests a stop and joins, so a StoppableThread never outlives its owner.
//
// An exception escaping the body is caught on the thread and logged at error level under the
// category "Threading"; it never reaches the owner.
//
// Destroying the object from its own thread (the body deleting its owner) is tolerated: the thread
// is then detached instead of joined, and it touches nothing of the object after the body returns.
class StoppableThread
{
public:
    using Body = std::function<void(StoppableThread&)>;

    // Starts the thread at once. The thread names itself `name` (setCurrentThreadName) before running
    // `body`. Raises std::system_error when the operating system cannot create a thread.
    // Thread-safe.
    StoppableThread(std::string name, Body body);
    // Requests a stop and joins. Caller synchronises (no other call may be running on this object).
    ~StoppableThread();

    StoppableThread(const StoppableThread&) = delete;
    StoppableThread& operator=(const StoppableThread&) = delete;

    // Asks the body to return; wakes waitForStop(). Does not wait. Thread-safe.
    void requestStop();
    // Thread-safe.
    bool isStopRequested() const;
    // Waits until a stop is requested or `timeout` passes; returns isStopRequested(). The body's
    // interruptible replacement for a sleep. Thread-safe.
    bool waitForStop(std::chrono::nanoseconds timeout) const;

    // Waits for the body to return. Does not request a stop. Calling it from the thread itself logs
    // an error and returns at once (joining oneself would deadlock). Thread-safe.
    void join();
    // True from construction until the body has returned. Thread-safe.
    bool isRunning() const;
    // Thread-safe.
    const std::string& name() const { return name_; }

    // The StoppableThread whose body runs on the calling thread, or nullptr on any other thread.
    // Thread-safe.
    static StoppableThread* current();

private:
    struct SharedState;

    const std::string name_;
    // Shared with the thread, so that it can finish safely even if this object is gone.
    std::shared_ptr<SharedState> shared_;

    // guarded by joinMutex_ (serialises joins from several threads)
    std::mutex joinMutex_;
    std::thread thread_;
};

}  // namespace Corvexis::Threading
