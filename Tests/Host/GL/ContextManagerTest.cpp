#include "Host/GL/ContextManager.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>

#include "Host/Core/Log.h"
#include "Host/GL/OpenGL.h"
#include "Host/GL/RequireOpenGL.h"

namespace Corvexis::GL {
namespace {

using Test::OpenGLTest;

// Runs `body` on a fresh thread (which starts without a context) and waits for it.
template <typename F>
void onNewThread(F&& body)
{
    std::thread thread(std::forward<F>(body));
    thread.join();
}

TEST(ContextManagerPlatform, ParsesEveryNameAndRejectsOthers)
{
    EXPECT_EQ(ContextManager::parsePlatform(""), ContextManager::Platform::Automatic);
    EXPECT_EQ(ContextManager::parsePlatform("auto"), ContextManager::Platform::Automatic);
    EXPECT_EQ(ContextManager::parsePlatform("device"), ContextManager::Platform::Device);
    EXPECT_EQ(ContextManager::parsePlatform("surfaceless"), ContextManager::Platform::Surfaceless);
    EXPECT_EQ(ContextManager::parsePlatform("none"), ContextManager::Platform::None);
    EXPECT_FALSE(ContextManager::parsePlatform("None").has_value());
    EXPECT_FALSE(ContextManager::parsePlatform("x11").has_value());
}

// The path of a machine without a display: one clear message when the manager is made, then every GL
// request fails with a log line and no task runs.
TEST(ContextManagerWithoutDisplay, SaysSoOnceAndRefusesEveryRequest)
{
    Log::ScopedCapture capture;
    ContextManager manager(ContextManager::Platform::None);
    EXPECT_FALSE(manager.isAvailable());
    EXPECT_EQ(manager.platformName(), "none");
    EXPECT_NE(manager.unavailableReason().find("none"), std::string::npos);
    EXPECT_TRUE(
        capture->containsFragment(Log::Level::Error, "GL.ContextManager", "No EGL display available"));
    capture.sink().clear();

    onNewThread([&] {
        EXPECT_EQ(manager.createContext(), nullptr);
        EXPECT_FALSE(manager.ensureLocalContext());
        bool ran = false;
        EXPECT_FALSE(manager.run([&] { ran = true; }));
        EXPECT_FALSE(ran);
        EXPECT_FALSE(ContextManager::hasCurrent());
    });
    EXPECT_EQ(manager.liveContextCount(), 0);
    EXPECT_FALSE(
        capture->containsFragment(Log::Level::Error, "GL.ContextManager", "No EGL display available"));
    EXPECT_TRUE(
        capture->containsFragment(Log::Level::Error, "GL.ContextManager", "Cannot create an OpenGL context"));
    EXPECT_TRUE(
        capture->containsFragment(Log::Level::Error, "GL.ContextManager", "Cannot run an OpenGL task"));
}

class ContextManagerTest : public OpenGLTest
{
};

TEST_F(ContextManagerTest, CreatedContextIsCurrentUntilDestroyed)
{
    auto& manager = ContextManager::get();
    onNewThread([&] {
        const int before = manager.liveContextCount();
        EXPECT_FALSE(ContextManager::hasCurrent());
        auto context = manager.createContext();
        ASSERT_NE(context, nullptr);
        EXPECT_TRUE(ContextManager::hasCurrent());
        EXPECT_TRUE(context->isCurrent());
        EXPECT_EQ(Context::current(), context.get());
        EXPECT_EQ(manager.liveContextCount(), before + 1);
        GLint major = 0;
        glGetIntegerv(GL_MAJOR_VERSION, &major);
        EXPECT_EQ(major, 4);
        context.reset();
        EXPECT_FALSE(ContextManager::hasCurrent());
        EXPECT_EQ(manager.liveContextCount(), before);
    });
}

TEST_F(ContextManagerTest, ContextsOfTwoThreadsShareObjects)
{
    GLuint texture = 0;
    onNewThread([&] {
        auto context = ContextManager::get().createContext();
        ASSERT_NE(context, nullptr);
        glCreateTextures(GL_TEXTURE_2D, 1, &texture);
        glFinish();
    });
    // The creating context is gone, but the texture lives in the share group until deleted.
    onNewThread([&] {
        auto context = ContextManager::get().createContext();
        ASSERT_NE(context, nullptr);
        EXPECT_EQ(glIsTexture(texture), GL_TRUE);
        glDeleteTextures(1, &texture);
        EXPECT_EQ(glIsTexture(texture), GL_FALSE);
    });
}

TEST_F(ContextManagerTest, RunWithOpenGLBorrowsAContextOnAThreadWithout)
{
    onNewThread([] {
        ASSERT_FALSE(ContextManager::hasCurrent());
        bool ran = false;
        const char* version = nullptr;
        EXPECT_TRUE(ContextManager::runWithOpenGL([&] {
            ran = true;
            EXPECT_TRUE(ContextManager::hasCurrent());
            version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
        }));
        EXPECT_TRUE(ran);
        EXPECT_NE(version, nullptr);
        // The borrowed context went back; the thread is as it was.
        EXPECT_FALSE(ContextManager::hasCurrent());
    });
}

TEST_F(ContextManagerTest, RunWithOpenGLUsesTheThreadsOwnContextAndNests)
{
    onNewThread([] {
        auto context = ContextManager::get().createContext();
        ASSERT_NE(context, nullptr);
        int depth = 0;
        ContextManager::runWithOpenGL([&] {
            EXPECT_EQ(Context::current(), context.get());
            ContextManager::runWithOpenGL([&] {
                EXPECT_EQ(Context::current(), context.get());
                depth = 2;
            });
        });
        EXPECT_EQ(depth, 2);
        EXPECT_TRUE(context->isCurrent());
    });
}

TEST_F(ContextManagerTest, TaskExceptionReachesCallerAndReturnsTheContext)
{
    auto& manager = ContextManager::get();
    onNewThread([&] {
        const int live = manager.liveContextCount();
        EXPECT_THROW(ContextManager::runWithOpenGL([] { throw std::runtime_error("task failed"); }),
                     std::runtime_error);
        EXPECT_FALSE(ContextManager::hasCurrent());
        // The borrowed context is a spare again (or was destroyed if the pool is full), never leaked.
        EXPECT_LE(manager.liveContextCount(), live + 1);
        EXPECT_TRUE(ContextManager::runWithOpenGL([] {}));
    });
}

TEST_F(ContextManagerTest, LocalContextIsKeptAndReleasedWhenTheThreadEnds)
{
    auto& manager = ContextManager::get();
    const int before = manager.liveContextCount();
    Context* first = nullptr;
    onNewThread([&] {
        ASSERT_TRUE(manager.ensureLocalContext());
        first = Context::current();
        ASSERT_NE(first, nullptr);
        ASSERT_TRUE(manager.ensureLocalContext());
        EXPECT_EQ(Context::current(), first);
        EXPECT_EQ(manager.liveContextCount(), before + 1);
    });
    EXPECT_EQ(manager.liveContextCount(), before);
}

TEST_F(ContextManagerTest, ReportsPlatformAndRenderer)
{
    const auto& manager = ContextManager::get();
    EXPECT_TRUE(manager.platformName() == "device" || manager.platformName() == "surfaceless");
    EXPECT_NE(manager.renderer().find("OpenGL 4."), std::string::npos) << manager.renderer();
    EXPECT_TRUE(manager.unavailableReason().empty());
    // The surfaceless platform of the test machines is Mesa's software rasteriser.
    if (manager.platformName() == "surfaceless") {
        EXPECT_EQ(manager.isSoftwareRenderer(), manager.renderer().find("llvmpipe") != std::string::npos);
    }
}

TEST(ContextManagerRenderer, SoftwareRenderersAreRecognisedByRendererOrVendor)
{
    EXPECT_TRUE(ContextManager::namesSoftwareRenderer("llvmpipe (LLVM 15.0.6, 256 bits)", "Mesa"));
    EXPECT_TRUE(ContextManager::namesSoftwareRenderer("softpipe", "VMware, Inc."));
    EXPECT_TRUE(ContextManager::namesSoftwareRenderer("Software Rasterizer", "Mesa Project"));
    EXPECT_TRUE(ContextManager::namesSoftwareRenderer("Google SwiftShader", "Google Inc."));
    EXPECT_FALSE(
        ContextManager::namesSoftwareRenderer("NVIDIA H100 80GB HBM3/PCIe/SSE2", "NVIDIA Corporation"));
    EXPECT_FALSE(ContextManager::namesSoftwareRenderer(
        "AMD Radeon RX 7900 XTX (radeonsi, navi31, LLVM 15.0.6)", "AMD"));
    EXPECT_FALSE(ContextManager::namesSoftwareRenderer("", ""));
}

}  // namespace
}  // namespace Corvexis::GL
