#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

namespace Corvexis::Threading {

// A fixed set of named worker threads that run submitted tasks in submission order (first in, first
// started). Each task's result or exception is delivered through the std::future that submit()
// returns. Threads are named "<name> <index>" (index from 0).
//
// Destruction runs every task already queued, then joins the threads; use cancelPending() first to
// drop queued tasks instead. Tasks may submit further tasks, including during destruction.
class ThreadPool
{
public:
    // Starts `threadCount` threads; 0 means the number of hardware threads (at least 1).
    // Raises std::system_error when the operating system cannot create a thread. Thread-safe.
    explicit ThreadPool(size_t threadCount = 0, std::string name = "ThreadPool");
    // Runs the queued tasks, then joins the threads. Caller synchronises; must not run on a pool thread.
    virtual ~ThreadPool();

    ThreadPool(const ThreadPool&) = delete;
    ThreadPool& operator=(const ThreadPool&) = delete;

    // Queues `task` and returns the future of its result; an exception thrown by the task is stored in
    // the future. Thread-safe (also from the pool's own tasks).
    template <typename F>
    std::future<std::invoke_result_t<std::decay_t<F>>> submit(F&& task);

    // Removes the tasks not yet started; their futures then report std::future_errc::broken_promise.
    // Returns how many were removed. Thread-safe.
    size_t cancelPending();

    // Blocks until no task is queued or running. From one of the pool's own threads it would wait for
    // itself, so there it logs an error and returns at once. Thread-safe.
    void waitAll();
    // As waitAll(), for at most `timeout`; returns true when the pool became idle (false on a pool
    // thread). Thread-safe.
    bool waitAllFor(std::chrono::nanoseconds timeout);

    // Renames the threads to "<name> <index>"; each thread takes the new name before its next task.
    // Thread-safe.
    void setThreadNames(const std::string& name);
    // Thread-safe.
    std::string name() const;

    // Number of threads. Thread-safe.
    size_t threadCount() const { return threads_.size(); }
    // Tasks queued and not yet started. Thread-safe.
    size_t pendingCount() const;
    // Tasks running now. Thread-safe.
    size_t activeCount() const;
    // True when the calling thread is one of this pool's threads. Thread-safe.
    bool isPoolThread() const;

private:
    void enqueue(std::function<void()> job);
    void workerLoop(size_t index);
    bool isIdleLocked() const { return queue_.empty() && active_ == 0; }

    std::vector<std::thread> threads_;  // fixed after construction

    std::condition_variable workAvailable_;  // queue_ grew, stopping_ or nameGeneration_ changed
    std::condition_variable idle_;           // queue_ empty and active_ == 0

    mutable std::mutex mutex_;
    // guarded by mutex_
    std::deque<std::function<void()>> queue_;
    size_t active_ = 0;
    bool stopping_ = false;
    std::string name_;
    unsigned nameGeneration_ = 0;  // bumped by setThreadNames; each thread renames itself on change
};

template <typename F>
std::future<std::invoke_result_t<std::decay_t<F>>> ThreadPool::submit(F&& task)
{
    using Result = std::invoke_result_t<std::decay_t<F>>;
    // std::function needs a copyable target, and a packaged_task is move-only.
    auto packaged = std::make_shared<std::packaged_task<Result()>>(std::forward<F>(task));
    auto future = packaged->get_future();
    enqueue([packaged] { (*packaged)(); });
    return future;
}

}  // namespace Corvexis::Threading
