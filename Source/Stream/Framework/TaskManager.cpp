#include "Stream/Framework/TaskManager.h"

#include <algorithm>
#include <exception>
#include <thread>

namespace Corvexis {

namespace {
constexpr const char* kDefaultName = "TaskManager";

std::size_t poolSize(int numThreads)
{
    if (numThreads >= 1)
        return static_cast<std::size_t>(numThreads);
    return std::max(1u, std::thread::hardware_concurrency());
}
}  // namespace

TaskManager::TaskManager() : TaskManager(0, kDefaultName) {}

TaskManager::TaskManager(int numThreads) : TaskManager(numThreads, kDefaultName) {}

TaskManager::TaskManager(std::string name) : TaskManager(0, std::move(name)) {}

TaskManager::TaskManager(int numThreads, std::string name) : ThreadPool(poolSize(numThreads), name)
{
    setThreadNames(name);
}

TaskManager::~TaskManager()
{
    Threading::ThreadPool::waitAll();
}

void TaskManager::jobFinished()
{
    // Taking the mutex orders this wake-up after a waiter's check, so it cannot be missed.
    {
        std::lock_guard lock(mutex_);
    }
    finished_.notify_all();
}

void TaskManager::housekeepLocked()
{
    std::exception_ptr firstError;
    for (auto it = runningTasks_.begin(); it != runningTasks_.end();) {
        if (!it->second->isReady()) {
            ++it;
            continue;
        }
        try {
            it->second->get();
        } catch (...) {
            if (!firstError)
                firstError = std::current_exception();
        }
        finishedTasks_[it->first] = std::move(it->second);
        it = runningTasks_.erase(it);
    }
    if (firstError)
        std::rethrow_exception(firstError);
}

bool TaskManager::isReady(TaskId id)
{
    std::lock_guard lock(mutex_);
    housekeepLocked();
    return runningTasks_.find(id) == runningTasks_.end();
}

bool TaskManager::allReady()
{
    std::lock_guard lock(mutex_);
    housekeepLocked();
    return runningTasks_.empty();
}

void TaskManager::waitFor(TaskId id)
{
    std::unique_lock lock(mutex_);
    housekeepLocked();
    while (runningTasks_.find(id) != runningTasks_.end()) {
        finished_.wait(lock);
        housekeepLocked();
    }
}

void TaskManager::waitAll()
{
    std::unique_lock lock(mutex_);
    for (auto& [id, task] : finishedTasks_)
        task->get();
    housekeepLocked();
    while (!runningTasks_.empty()) {
        finished_.wait_for(lock, std::chrono::milliseconds(100));
        housekeepLocked();
    }
}

}  // namespace Corvexis
