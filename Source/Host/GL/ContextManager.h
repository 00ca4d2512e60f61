#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Host/GL/Context.h"

namespace Corvexis::GL {

// Headless OpenGL 4.5 core through EGL. The manager owns one hidden root context that is never made
// current; every context it creates shares objects with the root, so a texture made on one thread can
// be used on any other (with a SyncObject to order the work).
//
// The display comes from the EGL device platform when an NVIDIA device is present, otherwise from
// Mesa's surfaceless platform (llvmpipe on machines without a GPU). The environment variable
// CORVEXIS_EGL_DISPLAY picks one: "auto" (or unset), "device", "surfaceless", or "none" (no OpenGL at
// all, to exercise that path). When no display can be had the manager logs one clear error when it is
// made and every later GL request fails with a log line instead of crashing.
//
// Contexts given to a thread by createContext() belong to the caller (keep the pointer until the
// thread ends); the one made by ensureLocalContext() is owned by the thread and released when it ends.
// runWithOpenGL() on a thread without a context borrows a spare context of the manager for the call.
class ContextManager
{
public:
    enum class Platform
    {
        Automatic,
        Device,
        Surfaceless,
        None,
    };

    // The process-wide manager, made on first use with the platform named by CORVEXIS_EGL_DISPLAY.
    // Never destroyed, so contexts of threads that end during exit stay valid. Thread-safe.
    static ContextManager& get();

    // A separate manager (tests use Platform::None). Most code uses get(). Thread-safe.
    explicit ContextManager(Platform platform);
    ~ContextManager();
    ContextManager(const ContextManager&) = delete;
    ContextManager& operator=(const ContextManager&) = delete;

    // True when a display and the root context exist. Thread-safe.
    bool isAvailable() const { return available_; }
    // Why there is no display (empty when available). Thread-safe.
    const std::string& unavailableReason() const { return unavailableReason_; }
    // "device", "surfaceless" or "none". Thread-safe.
    const std::string& platformName() const { return platformName_; }
    // GL_RENDERER and GL_VERSION of the root context, for log lines ("" when unavailable). Thread-safe.
    const std::string& renderer() const { return renderer_; }
    // True when the graphics device is a software rasteriser (Mesa's llvmpipe, softpipe or swrast, or
    // another renderer that names itself a software one): work that a real graphics card does fastest
    // may then be done faster on the CPU. False when unavailable. Thread-safe.
    bool isSoftwareRenderer() const { return softwareRenderer_; }
    // The rule behind isSoftwareRenderer(), on GL_RENDERER and GL_VENDOR texts.
    static bool namesSoftwareRenderer(std::string_view renderer, std::string_view vendor);

    // Creates a context sharing with the root and makes it current on the calling thread. The caller
    // owns it and keeps it until the thread stops using OpenGL; destroying it releases it. Null, with
    // an error log line, when OpenGL is unavailable or EGL refuses. Thread-safe.
    std::unique_ptr<Context> createContext();

    // Makes sure the calling thread has a current context: keeps the one it has, or creates one owned by
    // the thread and released when the thread ends. False (logged) when OpenGL is unavailable.
    // Thread-safe.
    bool ensureLocalContext();

    // Runs `task` with a current context of this manager: directly on a thread that has one, otherwise
    // with a spare context made current for the call (waited on with glFinish before it is released, so
    // the task's work is complete for every other context). Returns false without running the task
    // (logged) when OpenGL is unavailable. Exceptions of the task reach the caller. Thread-safe.
    bool run(const std::function<void()>& task);

    // Live contexts of this manager, not counting the root (thread contexts plus idle spare ones).
    // Thread-safe.
    int liveContextCount() const { return liveContexts_.load(); }
    // Idle spare contexts kept for run(). Thread-safe.
    int spareContextCount() const;

    // True if the calling thread has a current context of ours. Thread-safe.
    static bool hasCurrent();
    // get().run(task). Thread-safe.
    static bool runWithOpenGL(const std::function<void()>& task);

    // The calling thread's last EGL error as text ("EGL_BAD_MATCH (0x3009)"); reading it clears it.
    // Thread-safe.
    static std::string lastEglError();

    // "auto"/"" -> Automatic, "device", "surfaceless", "none"; empty optional for other text.
    static std::optional<Platform> parsePlatform(std::string_view text);

private:
    friend class Context;

    void initialise(Platform platform);
    void markUnavailable(std::string reason);
    // Creates a context sharing with the root, current nowhere. Null (logged) on failure.
    std::unique_ptr<Context> createDetached();
    void contextDestroyed() { liveContexts_.fetch_sub(1); }

    static constexpr std::size_t kMaxSpareContexts = 4;

    // Set once in the constructor, read-only afterwards.
    bool available_ = false;
    std::string unavailableReason_;
    std::string platformName_ = "none";
    std::string renderer_;
    bool softwareRenderer_ = false;
    void* display_ = nullptr;      // EGLDisplay
    void* config_ = nullptr;       // EGLConfig, null with EGL_KHR_no_config_context
    void* rootContext_ = nullptr;  // EGLContext

    std::atomic<int> liveContexts_{0};

    // Serialises context creation and destruction in the driver (calls on one share group).
    mutable std::mutex createMutex_;

    mutable std::mutex spareMutex_;
    // guarded by spareMutex_
    std::vector<std::unique_ptr<Context>> spare_;
};

}  // namespace Corvexis::GL
