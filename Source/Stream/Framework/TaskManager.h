#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>

#include "Host/Core/ThreadPool.h"

namespace Corvexis {

namespace detail {

// One job of a TaskManager, seen through its future.
class TaskBase
{
public:
    virtual ~TaskBase() = default;
    // True when the result is available or was already taken. Thread-safe.
    virtual bool isReady() const = 0;
    // Takes the result once, rethrowing the job's exception; later calls do nothing. Caller
    // synchronises (the manager calls it under its mutex).
    virtual void get() = 0;
    virtual int id() const = 0;
};

template <typename R>
class Task;

template <>
class Task<void> : public TaskBase
{
public:
    Task(int id, std::future<void> future) : id_(id), future_(std::move(future)) {}

    bool isReady() const override
    {
        return !future_.valid() || future_.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
    }
    void get() override
    {
        if (future_.valid())
            future_.get();  // leaves the future without state, also when it throws
    }
    int id() const override { return id_; }

private:
    const int id_;
    std::future<void> future_;
};

}  // namespace detail

// Runs independent jobs on a pool of named threads and lets any thread ask whether they are done or
// wait for them. A job's exception surfaces (once) in the first query that finds the job finished.
//
// Destruction waits for every job first: a finishing job notifies this object's members, which are
// destroyed before the pool base would join its threads.
class TaskManager : public Threading::ThreadPool
{
public:
    class TaskId
    {
    public:
        TaskId() = default;
        explicit TaskId(int value) : value_(value) {}
        int value() const { return value_; }
        bool operator==(const TaskId& other) const { return value_ == other.value_; }
        bool operator!=(const TaskId& other) const { return value_ != other.value_; }
        bool operator<(const TaskId& other) const { return value_ < other.value_; }

    private:
        int value_ = -1;
    };

    // 64-bit FNV-1a over the four bytes of the id, low byte first; also std::hash<TaskId>.
    struct TaskIdHash
    {
        std::size_t operator()(const TaskId& id) const noexcept
        {
            std::uint64_t hash = 14695981039346656037ULL;
            const auto bits = static_cast<std::uint32_t>(id.value());
            for (int i = 0; i < 4; ++i) {
                hash ^= (bits >> (8 * i)) & 0xFFu;
                hash *= 1099511628211ULL;
            }
            return static_cast<std::size_t>(hash);
        }
    };

    // Hardware threads (at least 1), named "TaskManager".
    TaskManager();
    explicit TaskManager(int numThreads);
    explicit TaskManager(std::string name);
    TaskManager(int numThreads, std::string name);
    // Waits for every job. Caller synchronises; not from one of its own threads.
    ~TaskManager() override;

    // Runs `job` on the pool; returns its id. Thread-safe.
    template <typename F>
    TaskId addTask(F&& job);

    // True when the job is no longer running (finished, or unknown). Rethrows the exception of a job
    // found finished by this call. Thread-safe.
    bool isReady(TaskId id);
    // True when no job is running; rethrows as isReady. Thread-safe.
    bool allReady();
    // Waits until the job is no longer running; rethrows as isReady. Thread-safe (not from a job).
    void waitFor(TaskId id);
    // Waits until no job is running; rethrows the first exception of a job not yet reported. Thread-safe
    // (not from a job).
    void waitAll();
    // Thread-safe.
    int numThreads() const { return static_cast<int>(threadCount()); }

private:
    // Moves finished jobs to finishedTasks_, calling get() on each. Rethrows the first exception after
    // the sweep is complete. Called with mutex_ held.
    void housekeepLocked();
    void jobFinished();

    std::mutex mutex_;
    std::condition_variable finished_;  // a job finished
    // guarded by mutex_
    std::unordered_map<TaskId, std::unique_ptr<detail::TaskBase>, TaskIdHash> runningTasks_;
    std::unordered_map<TaskId, std::unique_ptr<detail::TaskBase>, TaskIdHash> finishedTasks_;
    int nextId_ = 0;
};

}  // namespace Corvexis

template <>
struct std::hash<Corvexis::TaskManager::TaskId> : Corvexis::TaskManager::TaskIdHash
{
};

namespace Corvexis {

template <typename F>
TaskManager::TaskId TaskManager::addTask(F&& job)
{
    // Our own promise, so that the result is ready before jobFinished() wakes the waiters (a packaged
    // task's future becomes ready only after its callable has returned).
    auto promise = std::make_shared<std::promise<void>>();
    std::lock_guard lock(mutex_);
    const TaskId id(nextId_++);
    runningTasks_.emplace(id, std::make_unique<detail::Task<void>>(id.value(), promise->get_future()));
    submit([this, promise, job = std::forward<F>(job)]() mutable {
        try {
            job();
            promise->set_value();
        } catch (...) {
            promise->set_exception(std::current_exception());
        }
        jobFinished();
    });
    return id;
}

}  // namespace Corvexis
