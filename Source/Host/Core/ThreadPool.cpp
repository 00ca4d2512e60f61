#include "Host/Core/ThreadPool.h"

#include <algorithm>

#include "Host/Core/Log.h"
#include "Host/Core/ThreadName.h"

namespace Corvexis::Threading {

namespace {
// The pool whose worker runs on this thread; lets waitAll() detect a call from its own task.
thread_local const ThreadPool* tlsPool = nullptr;

std::string threadName(const std::string& poolName, size_t index)
{
    return poolName + " " + std::to_string(index);
}
}  // namespace

ThreadPool::ThreadPool(size_t threadCount, std::string name) : name_(std::move(name))
{
    if (threadCount == 0)
        threadCount = std::max(1u, std::thread::hardware_concurrency());
    threads_.reserve(threadCount);
    try {
        for (size_t i = 0; i < threadCount; ++i)
            threads_.emplace_back([this, i] { workerLoop(i); });
    } catch (...) {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        workAvailable_.notify_all();
        for (auto& thread : threads_)
            thread.join();
        throw;
    }
}

ThreadPool::~ThreadPool()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    workAvailable_.notify_all();
    for (auto& thread : threads_)
        thread.join();
}

void ThreadPool::enqueue(std::function<void()> job)
{
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(job));
    }
    workAvailable_.notify_one();
}

size_t ThreadPool::cancelPending()
{
    std::deque<std::function<void()>> dropped;
    {
        std::lock_guard lock(mutex_);
        dropped.swap(queue_);
        if (isIdleLocked())
            idle_.notify_all();
    }
    // The packaged tasks die here, outside the lock, and break their promises.
    return dropped.size();
}

void ThreadPool::waitAll()
{
    if (isPoolThread()) {
        Log::log(Log::Level::Error, "Threading",
                 "ThreadPool::waitAll called from a thread of pool '" + name() + "'");
        return;
    }
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [this] { return isIdleLocked(); });
}

bool ThreadPool::waitAllFor(std::chrono::nanoseconds timeout)
{
    if (isPoolThread()) {
        Log::log(Log::Level::Error, "Threading",
                 "ThreadPool::waitAllFor called from a thread of pool '" + name() + "'");
        return false;
    }
    std::unique_lock lock(mutex_);
    return idle_.wait_for(lock, timeout, [this] { return isIdleLocked(); });
}

void ThreadPool::setThreadNames(const std::string& name)
{
    {
        std::lock_guard lock(mutex_);
        name_ = name;
        ++nameGeneration_;
    }
    workAvailable_.notify_all();
}

std::string ThreadPool::name() const
{
    std::lock_guard lock(mutex_);
    return name_;
}

size_t ThreadPool::pendingCount() const
{
    std::lock_guard lock(mutex_);
    return queue_.size();
}

size_t ThreadPool::activeCount() const
{
    std::lock_guard lock(mutex_);
    return active_;
}

bool ThreadPool::isPoolThread() const
{
    return tlsPool == this;
}

void ThreadPool::workerLoop(size_t index)
{
    tlsPool = this;
    unsigned myGeneration = 0;
    std::unique_lock lock(mutex_);
    setCurrentThreadName(threadName(name_, index));
    myGeneration = nameGeneration_;
    for (;;) {
        workAvailable_.wait(lock,
                            [&] { return !queue_.empty() || stopping_ || myGeneration != nameGeneration_; });
        if (myGeneration != nameGeneration_) {
            setCurrentThreadName(threadName(name_, index));
            myGeneration = nameGeneration_;
        }
        if (queue_.empty()) {
            if (stopping_)
                break;
            continue;
        }
        auto job = std::move(queue_.front());
        queue_.pop_front();
        ++active_;
        lock.unlock();
        // Exceptions land in the task's future; the wrapper itself does not throw.
        job();
        job = nullptr;  // release the task's captures before reporting idle
        lock.lock();
        --active_;
        if (isIdleLocked())
            idle_.notify_all();
    }
    tlsPool = nullptr;
}

}  // namespace Corvexis::Threading
