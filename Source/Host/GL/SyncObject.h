#pragma once

#include <chrono>

namespace Corvexis::GL {

// A GL fence: marks a point in the command stream of the context current when it was made. Another
// context of the same manager waits on it, on the graphics card (waitGpu) or on the CPU (waitCpu),
// before using what the producer wrote. Movable, not copyable; an empty object waits on nothing.
//
// Every operation uses the calling thread's context, or a borrowed one when the thread has none
// (ContextManager::runWithOpenGL), so an object may be waited on and destroyed on any thread. One
// object is used by one thread at a time: caller synchronises.
class SyncObject
{
public:
    // An empty object.
    SyncObject() = default;
    ~SyncObject();
    SyncObject(SyncObject&& other) noexcept;
    SyncObject& operator=(SyncObject&& other) noexcept;
    SyncObject(const SyncObject&) = delete;
    SyncObject& operator=(const SyncObject&) = delete;

    // Inserts a fence after the commands issued so far in the calling thread's current context and
    // flushes, so that other contexts can wait on it. Without a current context the result is empty and
    // a warning is logged (there is nothing to fence). Caller synchronises (uses this thread's context).
    static SyncObject create();

    bool isValid() const { return sync_ != nullptr; }

    // Makes the calling thread's context (or a borrowed one) wait on the graphics card until the fence
    // is signalled; returns at once on the CPU. True if a fence was waited on.
    bool waitGpu();
    // Blocks the calling thread until the fence is signalled or `timeout` passes. True when signalled
    // (also for an empty object); false on time-out or error.
    bool waitCpu(std::chrono::nanoseconds timeout = std::chrono::seconds(10));
    // waitGpu(): what a consumer on another context needs before reading the producer's results.
    bool wait() { return waitGpu(); }
    // True once the fence is signalled (true for an empty object). Does not block.
    bool isSignaled() const;

private:
    void release();

    void* sync_ = nullptr;  // GLsync, owned
};

}  // namespace Corvexis::GL
