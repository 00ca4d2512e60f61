#include "Host/GL/ContextManager.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include <EGL/egl.h>
#include <EGL/eglext.h>

#include "Host/Core/Log.h"
#include "Host/GL/OpenGL.h"

namespace Corvexis::GL {

namespace {

constexpr std::string_view kCategory = "GL.ContextManager";

bool hasExtension(const char* list, std::string_view name)
{
    if (list == nullptr)
        return false;
    std::string_view rest(list);
    while (!rest.empty()) {
        const auto space = rest.find(' ');
        const std::string_view word = rest.substr(0, space);
        if (word == name)
            return true;
        if (space == std::string_view::npos)
            break;
        rest.remove_prefix(space + 1);
    }
    return false;
}

// Picks the display of the device platform: an NVIDIA device when one exists; any device when
// `anyDevice` (an explicit request for the device platform). EGL_NO_DISPLAY when none fits.
EGLDisplay deviceDisplay(bool anyDevice, std::string& why)
{
    auto queryDevices = reinterpret_cast<PFNEGLQUERYDEVICESEXTPROC>(eglGetProcAddress("eglQueryDevicesEXT"));
    auto queryDeviceString =
        reinterpret_cast<PFNEGLQUERYDEVICESTRINGEXTPROC>(eglGetProcAddress("eglQueryDeviceStringEXT"));
    if (queryDevices == nullptr || queryDeviceString == nullptr) {
        why = "eglQueryDevicesEXT is missing";
        return EGL_NO_DISPLAY;
    }
    EGLDeviceEXT devices[16];
    EGLint count = 0;
    if (!queryDevices(16, devices, &count) || count <= 0) {
        why = "no EGL device found";
        return EGL_NO_DISPLAY;
    }
    int chosen = -1;
    for (int i = 0; i < count && chosen < 0; ++i)
        if (hasExtension(queryDeviceString(devices[i], EGL_EXTENSIONS), "EGL_NV_device_cuda"))
            chosen = i;
    if (chosen < 0 && anyDevice)
        chosen = 0;
    if (chosen < 0) {
        why = "no NVIDIA EGL device";
        return EGL_NO_DISPLAY;
    }
    return eglGetPlatformDisplay(EGL_PLATFORM_DEVICE_EXT, devices[chosen], nullptr);
}

}  // namespace

std::optional<ContextManager::Platform> ContextManager::parsePlatform(std::string_view text)
{
    if (text.empty() || text == "auto")
        return Platform::Automatic;
    if (text == "device")
        return Platform::Device;
    if (text == "surfaceless")
        return Platform::Surfaceless;
    if (text == "none")
        return Platform::None;
    return std::nullopt;
}

std::string ContextManager::lastEglError()
{
    const EGLint code = eglGetError();
    const char* name = "unknown EGL error";
    switch (code) {
        case EGL_SUCCESS:
            name = "EGL_SUCCESS";
            break;
        case EGL_NOT_INITIALIZED:
            name = "EGL_NOT_INITIALIZED";
            break;
        case EGL_BAD_ACCESS:
            name = "EGL_BAD_ACCESS";
            break;
        case EGL_BAD_ALLOC:
            name = "EGL_BAD_ALLOC";
            break;
        case EGL_BAD_ATTRIBUTE:
            name = "EGL_BAD_ATTRIBUTE";
            break;
        case EGL_BAD_CONFIG:
            name = "EGL_BAD_CONFIG";
            break;
        case EGL_BAD_CONTEXT:
            name = "EGL_BAD_CONTEXT";
            break;
        case EGL_BAD_DISPLAY:
            name = "EGL_BAD_DISPLAY";
            break;
        case EGL_BAD_MATCH:
            name = "EGL_BAD_MATCH";
            break;
        case EGL_BAD_PARAMETER:
            name = "EGL_BAD_PARAMETER";
            break;
        case EGL_BAD_SURFACE:
            name = "EGL_BAD_SURFACE";
            break;
        default:
            break;
    }
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%s (0x%x)", name, static_cast<unsigned>(code));
    return buffer;
}

ContextManager& ContextManager::get()
{
    // Leaked on purpose: threads ending during exit still release their contexts through it.
    static ContextManager* instance = [] {
        const char* text = std::getenv("CORVEXIS_EGL_DISPLAY");
        const std::string_view value = text != nullptr ? text : "";
        auto platform = parsePlatform(value);
        if (!platform) {
            Log::log(Log::Level::Warning, kCategory,
                     "CORVEXIS_EGL_DISPLAY='" + std::string(value) +
                         "' is not one of auto, device, surfaceless, none; choosing automatically");
            platform = Platform::Automatic;
        }
        return new ContextManager(*platform);
    }();
    return *instance;
}

ContextManager::ContextManager(Platform platform)
{
    initialise(platform);
    if (available_)
        Log::log(Log::Level::Debug, kCategory, "OpenGL through EGL " + platformName_ + ": " + renderer_);
    else
        Log::log(Log::Level::Error, kCategory,
                 "No EGL display available: " + unavailableReason_ +
                     ". OpenGL is disabled; graphics-card images and GL operations will fail.");
}

ContextManager::~ContextManager()
{
    {
        std::lock_guard lock(spareMutex_);
        spare_.clear();
    }
    if (rootContext_ != nullptr) {
        std::lock_guard lock(createMutex_);
        eglDestroyContext(display_, rootContext_);
    }
    // The display is not terminated: another manager of the same platform shares the same EGLDisplay.
}

void ContextManager::markUnavailable(std::string reason)
{
    available_ = false;
    unavailableReason_ = std::move(reason);
    platformName_ = "none";
}

void ContextManager::initialise(Platform platform)
{
    if (platform == Platform::None) {
        markUnavailable("OpenGL switched off (CORVEXIS_EGL_DISPLAY=none)");
        return;
    }
    const char* clientExtensions = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
    if (clientExtensions == nullptr) {
        markUnavailable("the EGL library reports no client extensions (" + lastEglError() + ")");
        return;
    }
    const bool hasDevice = hasExtension(clientExtensions, "EGL_EXT_platform_device");
    const bool hasSurfaceless = hasExtension(clientExtensions, "EGL_MESA_platform_surfaceless");

    EGLDisplay display = EGL_NO_DISPLAY;
    std::string why;
    if ((platform == Platform::Automatic || platform == Platform::Device) && hasDevice) {
        display = deviceDisplay(platform == Platform::Device, why);
        if (display != EGL_NO_DISPLAY)
            platformName_ = "device";
    }
    if (display == EGL_NO_DISPLAY && (platform == Platform::Automatic || platform == Platform::Surfaceless) &&
        hasSurfaceless) {
        display = eglGetPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
        if (display != EGL_NO_DISPLAY)
            platformName_ = "surfaceless";
        else
            why = "the surfaceless platform gives no display (" + lastEglError() + ")";
    }
    if (display == EGL_NO_DISPLAY) {
        if (why.empty())
            why = platform == Platform::Device ? "the EGL device platform is missing"
                  : platform == Platform::Surfaceless
                      ? "the Mesa surfaceless platform is missing"
                      : "neither the EGL device nor the Mesa surfaceless platform exists";
        markUnavailable(why);
        return;
    }

    EGLint major = 0;
    EGLint minor = 0;
    if (!eglInitialize(display, &major, &minor)) {
        markUnavailable("eglInitialize failed on the " + platformName_ + " platform: " + lastEglError());
        return;
    }
    display_ = display;
    const char* displayExtensions = eglQueryString(display, EGL_EXTENSIONS);
    if (!hasExtension(displayExtensions, "EGL_KHR_surfaceless_context")) {
        markUnavailable("the " + platformName_ + " display cannot make contexts current without a surface");
        return;
    }
    EGLConfig config = EGL_NO_CONFIG_KHR;
    if (!hasExtension(displayExtensions, "EGL_KHR_no_config_context")) {
        const EGLint attributes[] = {EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT, EGL_NONE};
        EGLint count = 0;
        if (!eglChooseConfig(display, attributes, &config, 1, &count) || count < 1) {
            markUnavailable("the " + platformName_ + " display has no OpenGL configuration");
            return;
        }
    }
    config_ = config;

    eglBindAPI(EGL_OPENGL_API);
    // Compute shaders, immutable storage and sync objects need 4.3; direct state access needs 4.5.
    for (const EGLint minorVersion : {5, 3}) {
        const EGLint attributes[] = {EGL_CONTEXT_MAJOR_VERSION,
                                     4,
                                     EGL_CONTEXT_MINOR_VERSION,
                                     minorVersion,
                                     EGL_CONTEXT_OPENGL_PROFILE_MASK,
                                     EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT,
                                     EGL_NONE};
        rootContext_ = eglCreateContext(display, config, EGL_NO_CONTEXT, attributes);
        if (rootContext_ != EGL_NO_CONTEXT)
            break;
    }
    if (rootContext_ == EGL_NO_CONTEXT) {
        rootContext_ = nullptr;
        markUnavailable("no OpenGL 4.3 core context on the " + platformName_ + " display: " + lastEglError());
        return;
    }

    // Read the renderer once through a context of our own, so that the root is never current.
    available_ = true;
    auto probe = createDetached();
    if (!probe || !probe->makeCurrent()) {
        markUnavailable("a context sharing with the root cannot be made current");
        return;
    }
    const auto* rendererText = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
    const auto* versionText = reinterpret_cast<const char*>(glGetString(GL_VERSION));
    const auto* vendorText = reinterpret_cast<const char*>(glGetString(GL_VENDOR));
    softwareRenderer_ = namesSoftwareRenderer(rendererText != nullptr ? rendererText : "",
                                              vendorText != nullptr ? vendorText : "");
    renderer_ = std::string(rendererText != nullptr ? rendererText : "?") + ", OpenGL " +
                (versionText != nullptr ? versionText : "?");
    probe->doneCurrent();
    std::lock_guard lock(spareMutex_);
    spare_.push_back(std::move(probe));
}

bool ContextManager::namesSoftwareRenderer(std::string_view renderer, std::string_view vendor)
{
    std::string text = std::string(renderer) + " " + std::string(vendor);
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (const char* name : {"llvmpipe", "softpipe", "swrast", "software rasterizer", "swiftshader"}) {
        if (text.find(name) != std::string::npos)
            return true;
    }
    return false;
}

std::unique_ptr<Context> ContextManager::createDetached()
{
    if (!available_) {
        Log::log(Log::Level::Error, kCategory, "Cannot create an OpenGL context: " + unavailableReason_);
        return nullptr;
    }
    static constexpr EGLint kAttributes[] = {EGL_CONTEXT_MAJOR_VERSION,
                                             4,
                                             EGL_CONTEXT_MINOR_VERSION,
                                             3,
                                             EGL_CONTEXT_OPENGL_PROFILE_MASK,
                                             EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT,
                                             EGL_NONE};
    EGLContext context = EGL_NO_CONTEXT;
    {
        std::lock_guard lock(createMutex_);
        eglBindAPI(EGL_OPENGL_API);
        context = eglCreateContext(display_, config_, rootContext_, kAttributes);
    }
    if (context == EGL_NO_CONTEXT) {
        Log::log(Log::Level::Error, kCategory, "eglCreateContext failed: " + lastEglError());
        return nullptr;
    }
    liveContexts_.fetch_add(1);
    return std::unique_ptr<Context>(new Context(*this, display_, context));
}

std::unique_ptr<Context> ContextManager::createContext()
{
    auto context = createDetached();
    if (context && !context->makeCurrent())
        return nullptr;
    return context;
}

bool ContextManager::ensureLocalContext()
{
    if (hasCurrent())
        return true;
    auto context = createContext();
    if (!context)
        return false;
    Context::keepUntilThreadEnds(std::move(context));
    return true;
}

int ContextManager::spareContextCount() const
{
    std::lock_guard lock(spareMutex_);
    return static_cast<int>(spare_.size());
}

bool ContextManager::run(const std::function<void()>& task)
{
    if (hasCurrent()) {
        task();
        return true;
    }
    if (!available_) {
        Log::log(Log::Level::Error, kCategory, "Cannot run an OpenGL task: " + unavailableReason_);
        return false;
    }
    std::unique_ptr<Context> context;
    {
        std::lock_guard lock(spareMutex_);
        if (!spare_.empty()) {
            context = std::move(spare_.back());
            spare_.pop_back();
        }
    }
    if (!context)
        context = createDetached();
    if (!context || !context->makeCurrent())
        return false;

    // Gives the context back however the task ends.
    struct Release
    {
        ContextManager& manager;
        std::unique_ptr<Context>& context;
        ~Release()
        {
            // Finished, not just flushed: the caller cannot fence work of a context it no longer has.
            glFinish();
            context->doneCurrent();
            std::lock_guard lock(manager.spareMutex_);
            if (manager.spare_.size() < kMaxSpareContexts)
                manager.spare_.push_back(std::move(context));
        }
    } release{*this, context};
    task();
    return true;
}

bool ContextManager::hasCurrent()
{
    return Context::current() != nullptr;
}

bool ContextManager::runWithOpenGL(const std::function<void()>& task)
{
    return get().run(task);
}

}  // namespace Corvexis::GL
