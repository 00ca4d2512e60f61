#include "Stream/Framework/BackgroundThreadQueue.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <utility>
#include <vector>

#include "Host/Core/Log.h"
#include "Host/Core/ThreadName.h"
#include "Host/GL/Context.h"
#include "Host/GL/ContextManager.h"
#include "Host/GL/Flush.h"

namespace Corvexis {

namespace {
constexpr const char* kCategory = "BackgroundThreadQueue";
}

BackgroundThreadQueue::BackgroundThreadQueue(std::string threadName, std::size_t capacity, bool needsOpenGl)
    : threadName_(std::move(threadName)),
      needsOpenGl_(needsOpenGl),
      capacity_(std::max<std::size_t>(capacity, 1))
{
}

BackgroundThreadQueue::~BackgroundThreadQueue()
{
    stop();
}

void BackgroundThreadQueue::fulfil(std::vector<std::shared_ptr<std::promise<void>>>& promises)
{
    for (auto& promise : promises)
        promise->set_value();
    promises.clear();
}

bool BackgroundThreadQueue::push(Entry entry)
{
    std::vector<std::shared_ptr<std::promise<void>>> done;
    bool accepted = false;
    {
        std::lock_guard lock(mutex_);
        if (stopRequested_ || !entry.work) {
            if (entry.completion)
                done.push_back(std::move(entry.completion));
        } else {
            if (!thread_.joinable()) {
                thread_ = std::thread([this] { run(); });
                threadId_ = thread_.get_id();
            }
            const std::size_t limit = busy_ ? capacity_ : capacity_ - 1;
            while (queue_.size() > limit) {
                // The entry in progress: the thread keeps its own copy and fulfils it, and its removal
                // after processing then takes the oldest waiting entry instead.
                if (!(busy_ && queue_.front().serial == inProgressSerial_)) {
                    if (queue_.front().entry.completion)
                        done.push_back(std::move(queue_.front().entry.completion));
                    ++dropped_;
                }
                queue_.pop_front();
            }
            queue_.push_back(Item{std::move(entry), nextSerial_++});
            highWaterMark_ = std::max(highWaterMark_, queue_.size());
            accepted = true;
        }
    }
    fulfil(done);
    if (!accepted)
        return false;
    wake_.notify_one();
    return true;
}

void BackgroundThreadQueue::run()
{
    Threading::setCurrentThreadName(threadName_);
    if (needsOpenGl_)
        context_ = GL::ContextManager::get().createContext();

    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopRequested_ || !queue_.empty(); });
        if (stopRequested_)
            break;
        busy_ = true;
        Item item = queue_.front();
        inProgressSerial_ = item.serial;
        lock.unlock();

        try {
            item.entry.work();
        } catch (const std::exception& e) {
            Log::log(Log::Level::Error, kCategory,
                     std::string("An unexpected exception occurred while running the processing thread: ") +
                         e.what());
        } catch (...) {
            Log::log(Log::Level::Error, kCategory,
                     "An unexpected exception occurred while running the processing thread.");
        }
        if (context_)
            GL::flush();
        std::vector<std::shared_ptr<std::promise<void>>> done;
        if (item.entry.completion)
            done.push_back(std::move(item.entry.completion));
        item.entry.work = nullptr;  // release what the work captured before waiting again
        fulfil(done);

        lock.lock();
        if (!queue_.empty()) {
            Item& front = queue_.front();
            if (front.serial != item.serial) {
                // An overflow removed our entry: this is the oldest waiting one, dropped unprocessed.
                if (front.entry.completion)
                    done.push_back(std::move(front.entry.completion));
                ++dropped_;
            }
            queue_.pop_front();
        }
        busy_ = false;
        if (queue_.empty())
            drained_.notify_all();
        if (!done.empty()) {
            lock.unlock();
            fulfil(done);
            lock.lock();
        }
    }
    lock.unlock();
    drained_.notify_all();
    context_.reset();
}

void BackgroundThreadQueue::waitUntilCompleted()
{
    std::unique_lock lock(mutex_);
    if (thread_.joinable() && std::this_thread::get_id() == threadId_) {
        Log::log(Log::Level::Error, kCategory,
                 "waitUntilCompleted called on the processing thread; it would wait for itself.");
        return;
    }
    // The time-out only guards against a missed wake-up; the thread signals drained_ itself.
    while (!queue_.empty() && !stopRequested_) {
        wake_.notify_one();
        drained_.wait_for(lock, std::chrono::milliseconds(20));
    }
}

void BackgroundThreadQueue::stop()
{
    {
        std::lock_guard lock(mutex_);
        stopRequested_ = true;
        // threadId_ stays set after the thread object was moved out, so this also holds while another
        // caller is joining.
        if (std::this_thread::get_id() == threadId_) {
            wake_.notify_all();
            return;
        }
    }
    wake_.notify_all();
    drained_.notify_all();
    // Every caller returns only after the thread has ended: a second caller waits here while the first
    // one joins.
    std::lock_guard joinLock(joinMutex_);
    std::thread thread;
    {
        std::lock_guard lock(mutex_);
        thread = std::move(thread_);
    }
    if (thread.joinable()) {
        Log::log(Log::Level::Trace, kCategory,
                 "BackgroundThreadQueue waiting for processing thread to finish.");
        thread.join();
    }
    std::vector<std::shared_ptr<std::promise<void>>> done;
    {
        std::lock_guard lock(mutex_);
        for (auto& item : queue_) {
            if (item.entry.completion)
                done.push_back(std::move(item.entry.completion));
            ++dropped_;
        }
        queue_.clear();
    }
    fulfil(done);
}

void BackgroundThreadQueue::setCapacity(std::size_t capacity)
{
    std::lock_guard lock(mutex_);
    capacity_ = std::max<std::size_t>(capacity, 1);
}

std::size_t BackgroundThreadQueue::capacity() const
{
    std::lock_guard lock(mutex_);
    return capacity_;
}

std::size_t BackgroundThreadQueue::size() const
{
    std::lock_guard lock(mutex_);
    return queue_.size();
}

std::size_t BackgroundThreadQueue::highWaterMark() const
{
    std::lock_guard lock(mutex_);
    return highWaterMark_;
}

std::uint64_t BackgroundThreadQueue::droppedCount() const
{
    std::lock_guard lock(mutex_);
    return dropped_;
}

bool BackgroundThreadQueue::isBusy() const
{
    std::lock_guard lock(mutex_);
    return busy_;
}

}  // namespace Corvexis
