#pragma once

#include <memory>

namespace Corvexis::GL {

class ContextManager;

// One OpenGL context of a ContextManager, sharing textures, buffers, programs and sync objects with the
// manager's hidden root context (and so with every other context of that manager). A context is
// current on at most one thread at a time. Made only by ContextManager.
//
// Destroy a context on the thread where it is current, or when it is current nowhere: the destructor
// releases it from the calling thread first. The manager must outlive its contexts (the process-wide
// manager is never destroyed).
class Context
{
public:
    ~Context();
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;

    // Makes this context current on the calling thread, replacing the thread's previous context (which
    // stays alive). False, with a log line, when EGL refuses (for example when the context is current
    // on another thread). Caller synchronises (a context is used by one thread at a time).
    bool makeCurrent();
    // Releases this context from the calling thread if it is current there. Flushes its commands
    // first. Caller synchronises.
    void doneCurrent();
    // True if this context is current on the calling thread. Thread-safe.
    bool isCurrent() const;

    ContextManager& manager() const { return manager_; }

    // The context of ours current on the calling thread, or null. Thread-safe.
    static Context* current();

private:
    friend class ContextManager;
    // `display` and `context` are the EGLDisplay and EGLContext handles; the new object owns `context`.
    Context(ContextManager& manager, void* display, void* context);
    // Hands `context` to the calling thread, which destroys it when it ends.
    static void keepUntilThreadEnds(std::unique_ptr<Context> context);

    ContextManager& manager_;
    void* display_;  // EGLDisplay, owned by the manager
    void* context_;  // EGLContext, owned
};

}  // namespace Corvexis::GL
