#include "Host/GL/Context.h"

#include <memory>
#include <mutex>
#include <string>

#include <EGL/egl.h>

#include "Host/Core/Log.h"
#include "Host/GL/ContextManager.h"
#include "Host/GL/OpenGL.h"

namespace Corvexis::GL {

namespace {

// Per-thread EGL bookkeeping. The context owned by the thread (ensureLocalContext) is destroyed before
// the thread's EGL state is released, both when the thread ends.
struct ThreadState
{
    Context* current = nullptr;
    bool eglUsed = false;
    std::unique_ptr<Context> owned;

    ~ThreadState()
    {
        owned.reset();
        // Frees the per-thread state EGL keeps (error code, bound API, current context bookkeeping);
        // without it every ended thread that touched EGL leaves that state behind.
        if (eglUsed)
            eglReleaseThread();
    }
};

ThreadState& threadState()
{
    thread_local ThreadState state;
    return state;
}

}  // namespace

Context::Context(ContextManager& manager, void* display, void* context)
    : manager_(manager), display_(display), context_(context)
{
}

Context::~Context()
{
    if (isCurrent())
        doneCurrent();
    {
        std::lock_guard lock(manager_.createMutex_);
        eglDestroyContext(static_cast<EGLDisplay>(display_), static_cast<EGLContext>(context_));
    }
    manager_.contextDestroyed();
}

bool Context::makeCurrent()
{
    ThreadState& state = threadState();
    state.eglUsed = true;
    // The bound API is per thread: without this a context sharing with the root fails with
    // EGL_BAD_MATCH on threads that never bound it.
    eglBindAPI(EGL_OPENGL_API);
    if (!eglMakeCurrent(static_cast<EGLDisplay>(display_), EGL_NO_SURFACE, EGL_NO_SURFACE,
                        static_cast<EGLContext>(context_))) {
        Log::log(Log::Level::Error, "GL.Context", "eglMakeCurrent failed: " + ContextManager::lastEglError());
        return false;
    }
    state.current = this;
    return true;
}

void Context::doneCurrent()
{
    ThreadState& state = threadState();
    if (state.current != this)
        return;
    glFlush();
    eglMakeCurrent(static_cast<EGLDisplay>(display_), EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    state.current = nullptr;
}

bool Context::isCurrent() const
{
    return threadState().current == this;
}

Context* Context::current()
{
    return threadState().current;
}

void Context::keepUntilThreadEnds(std::unique_ptr<Context> context)
{
    threadState().owned = std::move(context);
}

}  // namespace Corvexis::GL
