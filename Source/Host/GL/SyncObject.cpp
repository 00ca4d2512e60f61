#include "Host/GL/SyncObject.h"

#include <algorithm>
#include <cstdint>
#include <utility>

#include "Host/Core/Log.h"
#include "Host/GL/ContextManager.h"
#include "Host/GL/OpenGL.h"

namespace Corvexis::GL {

namespace {

GLsync handle(void* sync)
{
    return static_cast<GLsync>(sync);
}

}  // namespace

SyncObject::~SyncObject()
{
    release();
}

SyncObject::SyncObject(SyncObject&& other) noexcept : sync_(std::exchange(other.sync_, nullptr)) {}

SyncObject& SyncObject::operator=(SyncObject&& other) noexcept
{
    if (this != &other) {
        release();
        sync_ = std::exchange(other.sync_, nullptr);
    }
    return *this;
}

void SyncObject::release()
{
    if (sync_ == nullptr)
        return;
    void* sync = std::exchange(sync_, nullptr);
    // Sync objects belong to the share group, so any context of the manager may delete it.
    ContextManager::runWithOpenGL([sync] { glDeleteSync(handle(sync)); });
}

SyncObject SyncObject::create()
{
    SyncObject result;
    if (!ContextManager::hasCurrent()) {
        Log::log(Log::Level::Warning, "GL.SyncObject",
                 "No current OpenGL context on this thread; the sync object is empty");
        return result;
    }
    result.sync_ = glFenceSync(GL_SYNC_GPU_COMMANDS_COMPLETE, 0);
    // The fence must reach the driver before another context can see it signalled.
    glFlush();
    return result;
}

bool SyncObject::waitGpu()
{
    if (sync_ == nullptr)
        return false;
    return ContextManager::runWithOpenGL([this] { glWaitSync(handle(sync_), 0, GL_TIMEOUT_IGNORED); });
}

bool SyncObject::waitCpu(std::chrono::nanoseconds timeout)
{
    if (sync_ == nullptr)
        return true;
    GLenum status = GL_WAIT_FAILED;
    const auto timeoutNs = static_cast<GLuint64>(std::max<std::int64_t>(0, timeout.count()));
    if (!ContextManager::runWithOpenGL(
            [&] { status = glClientWaitSync(handle(sync_), GL_SYNC_FLUSH_COMMANDS_BIT, timeoutNs); }))
        return false;
    if (status == GL_WAIT_FAILED)
        Log::log(Log::Level::Error, "GL.SyncObject", "glClientWaitSync failed");
    return status == GL_ALREADY_SIGNALED || status == GL_CONDITION_SATISFIED;
}

bool SyncObject::isSignaled() const
{
    if (sync_ == nullptr)
        return true;
    GLint value = GL_UNSIGNALED;
    ContextManager::runWithOpenGL([&] { glGetSynciv(handle(sync_), GL_SYNC_STATUS, 1, nullptr, &value); });
    return value == GL_SIGNALED;
}

}  // namespace Corvexis::GL
