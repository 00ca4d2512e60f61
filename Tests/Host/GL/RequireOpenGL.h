#pragma once

#include <gtest/gtest.h>

#include "Host/GL/ContextManager.h"

namespace Corvexis::Test {

// Base of every test that needs OpenGL: skips, with the reason, on machines without an EGL display, so
// that such a machine reports the GL tests as skipped instead of passing them silently.
class OpenGLTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        auto& manager = GL::ContextManager::get();
        if (!manager.isAvailable())
            GTEST_SKIP() << "OpenGL is not available: " << manager.unavailableReason();
    }
};

}  // namespace Corvexis::Test
