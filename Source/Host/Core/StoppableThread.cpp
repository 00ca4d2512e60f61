#include "Host/Core/StoppableThread.h"

#include <atomic>
#include <condition_variable>
#include <exception>

#include "Host/Core/Log.h"
#include "Host/Core/ThreadName.h"

namespace Corvexis::Threading {

namespace {
thread_local StoppableThread* tlsCurrent = nullptr;
}

struct StoppableThread::SharedState
{
    std::atomic<bool> stopRequested{false};
    std::atomic<bool> running{true};
    std::atomic<std::thread::id> threadId{};

    // guarded by mutex (only so that a stop request cannot slip between a waiter's check and its
    // wait; the flag itself is atomic for lock-free polling)
    mutable std::mutex mutex;
    mutable std::condition_variable stopCondition;
};

StoppableThread::StoppableThread(std::string name, Body body)
    : name_(std::move(name)), shared_(std::make_shared<SharedState>())
{
    // The lambda holds its own reference to the shared state, and reads `this` only while the body
    // runs (the owner cannot finish its destructor before that, except from this very thread).
    thread_ = std::thread([this, shared = shared_, threadName = name_, body = std::move(body)] {
        shared->threadId.store(std::this_thread::get_id());
        setCurrentThreadName(threadName);
        tlsCurrent = this;
        try {
            body(*this);
        } catch (const std::exception& e) {
            Log::log(Log::Level::Error, "Threading",
                     "Uncaught exception in thread '" + threadName + "': " + e.what());
        } catch (...) {
            Log::log(Log::Level::Error, "Threading", "Uncaught exception in thread '" + threadName + "'");
        }
        tlsCurrent = nullptr;
        shared->running.store(false);
    });
}

StoppableThread::~StoppableThread()
{
    requestStop();
    std::lock_guard lock(joinMutex_);
    if (!thread_.joinable())
        return;
    if (thread_.get_id() == std::this_thread::get_id()) {
        // The body destroys its own owner; it reads nothing of *this after returning.
        tlsCurrent = nullptr;
        thread_.detach();
        return;
    }
    thread_.join();
}

void StoppableThread::requestStop()
{
    {
        std::lock_guard lock(shared_->mutex);
        shared_->stopRequested.store(true);
    }
    shared_->stopCondition.notify_all();
}

bool StoppableThread::isStopRequested() const
{
    return shared_->stopRequested.load();
}

bool StoppableThread::waitForStop(std::chrono::nanoseconds timeout) const
{
    std::unique_lock lock(shared_->mutex);
    return shared_->stopCondition.wait_for(lock, timeout, [this] { return shared_->stopRequested.load(); });
}

void StoppableThread::join()
{
    if (shared_->threadId.load() == std::this_thread::get_id()) {
        Log::log(Log::Level::Error, "Threading", "Thread '" + name_ + "' cannot join itself");
        return;
    }
    std::lock_guard lock(joinMutex_);
    if (thread_.joinable())
        thread_.join();
}

bool StoppableThread::isRunning() const
{
    return shared_->running.load();
}

StoppableThread* StoppableThread::current()
{
    return tlsCurrent;
}

}  // namespace Corvexis::Threading
