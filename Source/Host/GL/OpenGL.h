#pragma once

// The single include of the OpenGL core-profile declarations for our code. The GLVND library
// libOpenGL exports every core 4.5 entry point, so the prototypes are used directly instead of
// loading function pointers.
#ifndef GL_GLEXT_PROTOTYPES
#define GL_GLEXT_PROTOTYPES 1
#endif
#include <GL/glcorearb.h>
